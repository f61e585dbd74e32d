// The registry access layer against the real (Wine) registry: paths, values, deletions and
// the two registry views.
#include "settings/registry.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "base/owners.h"
#include "bitness.h"
#include "settings_fixture.h"
#include "testenv.h"

namespace {

// No ini file anywhere, so every request reaches the (scratch) registry.
class RegistryTest : public IniSearchTest {
 protected:
  bool RealKeyExists(HKEY root, const std::wstring& path) {
    ScopedKey key;
    return RegOpenKeyExW(scratch_.Real(root), path.c_str(), 0, KEY_READ, key.put()) ==
           ERROR_SUCCESS;
  }
  void MakeRealKey(HKEY root, const std::wstring& path) {
    ScopedKey key;
    ASSERT_EQ(RegCreateKeyExW(scratch_.Real(root), path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
  }
  // Type and raw bytes of a value; type REG_NONE when it is missing.
  DWORD RealValue(HKEY root, const std::wstring& path, const wchar_t* name, std::string& data) {
    ScopedKey key;
    if (RegOpenKeyExW(scratch_.Real(root), path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
      return REG_NONE;
    char buffer[4096];
    DWORD type = REG_NONE, bytes = sizeof buffer;
    if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                         &bytes) != ERROR_SUCCESS)
      return REG_NONE;
    data.assign(buffer, bytes);
    return type;
  }

  ScratchRegistry scratch_;
};

// Eleven components of 50 characters: 561 characters, more than a registry path may hold.
std::wstring OverlongSubkey() {
  std::wstring subkey;
  for (int i = 0; i < 11; i++) subkey += (i ? L"\\" : L"") + std::wstring(50, L'a' + i);
  return subkey;
}

}  // namespace

TEST_F(RegistryTest, SettingLandsUnderTheProgramKeyAsDword) {
  EXPECT_EQ(SetSettingDword(L"Setup\\Links", L"Desktop", 1), 0u);
  std::string data;
  EXPECT_EQ(RealValue(HKEY_CURRENT_USER, L"Software\\Ombrix\\Setup\\Links", L"Desktop", data),
            static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(data, std::string("\1\0\0\0", 4));
  EXPECT_EQ(GetSettingDword(L"Setup\\Links", L"Desktop", 7), 1u);
  EXPECT_EQ(GetSettingDword(L"Setup\\Links", L"Missing", 7), 7u);
  EXPECT_EQ(GetSettingDword(L"Nowhere", L"Desktop", 7), 7u);
}

TEST_F(RegistryTest, PathRuleForRelativeAbsoluteAndOtherRoots) {
  wchar_t path[kRegPathSize];
  ASSERT_TRUE(BuildRegPath(HKEY_CURRENT_USER, L"Setup\\MenuItems", path, kRegPathSize));
  EXPECT_STREQ(path, L"Software\\Ombrix\\Setup\\MenuItems");
  ASSERT_TRUE(BuildRegPath(HKEY_LOCAL_MACHINE, L"", path, kRegPathSize));
  EXPECT_STREQ(path, L"Software\\Ombrix");
  ASSERT_TRUE(BuildRegPath(HKEY_LOCAL_MACHINE, L"\\Software\\RegisteredApplications", path,
                           kRegPathSize));
  EXPECT_STREQ(path, L"Software\\RegisteredApplications");
  ASSERT_TRUE(BuildRegPath(HKEY_CLASSES_ROOT, L"Ombrix.zip\\shell", path, kRegPathSize));
  EXPECT_STREQ(path, L"Ombrix.zip\\shell");

  EXPECT_EQ(SetRegString(HKEY_LOCAL_MACHINE, L"\\Software\\RegisteredApplications", L"Ombrix",
                         L"cap"),
            0u);
  EXPECT_TRUE(RealKeyExists(HKEY_LOCAL_MACHINE, L"Software\\RegisteredApplications"));
  EXPECT_FALSE(RealKeyExists(HKEY_LOCAL_MACHINE, L"Software\\Ombrix"));
  EXPECT_EQ(SetRegString(HKEY_CLASSES_ROOT, L".obx", L"", L"Ombrix.obx"), 0u);
  EXPECT_TRUE(RealKeyExists(HKEY_CLASSES_ROOT, L".obx"));
}

TEST_F(RegistryTest, StringReadsGiveTheDefaultUnlessTheWholeValueFits) {
  EXPECT_EQ(SetSettingString(L"S", L"Ten", L"0123456789"), 0u);
  wchar_t buffer[16];
  // Sentinels past the default show that nothing beyond its terminator is touched.
  wmemset(buffer, L'#', 16);
  EXPECT_FALSE(GetSettingString(L"S", L"Missing", buffer, L"def", 16));
  EXPECT_EQ(std::wstring(buffer, 5), std::wstring(L"def\0#", 5));

  EXPECT_FALSE(GetSettingString(L"S", L"Ten", buffer, L"def", 10));
  EXPECT_STREQ(buffer, L"def");
  EXPECT_TRUE(GetSettingString(L"S", L"Ten", buffer, L"def", 11));
  EXPECT_STREQ(buffer, L"0123456789");
  // The default itself is cut to the buffer.
  EXPECT_FALSE(GetSettingString(L"S", L"Missing", buffer, L"longdefault", 5));
  EXPECT_STREQ(buffer, L"long");
}

TEST_F(RegistryTest, ValueWithoutTerminatorIsTerminatedWithinTheBuffer) {
  MakeRealKey(HKEY_CURRENT_USER, L"Software\\Ombrix\\S");
  ScopedKey key;
  ASSERT_EQ(RegOpenKeyExW(scratch_.Real(HKEY_CURRENT_USER), L"Software\\Ombrix\\S", 0,
                          KEY_SET_VALUE, key.put()),
            ERROR_SUCCESS);
  RegSetValueExW(key.get(), L"Raw", 0, REG_BINARY, reinterpret_cast<const BYTE*>(L"abcd"), 8);
  wchar_t buffer[8];
  wmemset(buffer, L'#', 8);
  EXPECT_TRUE(GetSettingString(L"S", L"Raw", buffer, L"", 8));
  EXPECT_STREQ(buffer, L"abcd");
  wmemset(buffer, L'#', 8);
  EXPECT_TRUE(GetSettingString(L"S", L"Raw", buffer, L"", 4));
  EXPECT_STREQ(buffer, L"abc");
}

TEST_F(RegistryTest, EmptyStringIsStoredWithItsTerminator) {
  EXPECT_EQ(SetSettingString(L"S", L"Empty", L""), 0u);
  std::string data;
  EXPECT_EQ(RealValue(HKEY_CURRENT_USER, L"Software\\Ombrix\\S", L"Empty", data),
            static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(data, std::string(2, '\0'));
  EXPECT_EQ(SetSettingString(L"S", L"Text", L"ab"), 0u);
  RealValue(HKEY_CURRENT_USER, L"Software\\Ombrix\\S", L"Text", data);
  EXPECT_EQ(data, std::string("a\0b\0\0\0", 6));
}

TEST_F(RegistryTest, ValueAndKeyDeletions) {
  SetSettingDword(L"K", L"A", 1);
  SetSettingDword(L"K", L"B", 2);
  SetSettingDword(L"K\\Child", L"C", 3);
  DeleteSettingValue(L"K", L"A");
  EXPECT_EQ(GetSettingDword(L"K", L"A", 0), 0u);
  EXPECT_EQ(GetSettingDword(L"K", L"B", 0), 2u);

  DeleteRegKey(HKEY_CURRENT_USER, L"K");  // refused while K has a child
  EXPECT_TRUE(RegKeyExists(HKEY_CURRENT_USER, L"K"));
  DeleteRegKey(HKEY_CURRENT_USER, L"K\\Child");
  EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, L"K\\Child"));
  DeleteRegKey(HKEY_CURRENT_USER, L"K");
  EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, L"K"));

  // An empty path under a root other than the program's would name the root itself.
  MakeRealKey(HKEY_CLASSES_ROOT, L".keep");
  DeleteRegKey(HKEY_CLASSES_ROOT, L"");
  DeleteRegTree(HKEY_CLASSES_ROOT, L"");
  EXPECT_TRUE(RealKeyExists(HKEY_CLASSES_ROOT, L".keep"));
}

TEST_F(RegistryTest, DeniedKeysRefuseEveryChangeAndStayAsTheyWere) {
  const DWORD denied = ERROR_ACCESS_DENIED;
  ASSERT_EQ(SetSettingDword(L"Setup\\K", L"A", 1), 0u);
  ASSERT_EQ(SetRegString(HKEY_CLASSES_ROOT, L".obx", L"", L"Ombrix.obx"), 0u);
  // Case ignored, whole components only.
  DenyRegistryWrites(HKEY_CURRENT_USER, L"software\\OMBRIX\\Setup");

  EXPECT_EQ(SetSettingDword(L"Setup\\K", L"B", 2), denied);
  EXPECT_EQ(SetSettingString(L"Setup\\New", L"S", L"x"), denied);
  EXPECT_EQ(DeleteRegValue(HKEY_CURRENT_USER, L"Setup\\K", L"A"), denied);
  EXPECT_EQ(DeleteRegKey(HKEY_CURRENT_USER, L"Setup\\K"), denied);
  EXPECT_EQ(DeleteRegTree(HKEY_CURRENT_USER, L"Setup"), denied);
  EXPECT_EQ(CheckRegWriteAccess(HKEY_CURRENT_USER, L"Setup\\K"), denied);
  // Reads, a sibling sharing the prefix, the parent and other roots stay allowed.
  EXPECT_EQ(GetSettingDword(L"Setup\\K", L"A", 0), 1u);
  EXPECT_EQ(SetSettingDword(L"SetupX", L"A", 1), 0u);
  EXPECT_EQ(CheckRegWriteAccess(HKEY_CURRENT_USER, L""), 0u);
  EXPECT_EQ(SetRegString(HKEY_LOCAL_MACHINE, L"Setup\\K", L"A", L"x"), 0u);
  EXPECT_EQ(SetRegString(HKEY_CLASSES_ROOT, L".obx", L"", L"Other"), 0u);
  std::string data;
  EXPECT_EQ(RealValue(HKEY_CURRENT_USER, L"Software\\Ombrix\\Setup\\K", L"A", data),
            static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(RealValue(HKEY_CURRENT_USER, L"Software\\Ombrix\\Setup\\K", L"B", data),
            static_cast<DWORD>(REG_NONE));
  EXPECT_FALSE(RealKeyExists(HKEY_CURRENT_USER, L"Software\\Ombrix\\Setup\\New"));

  // An empty path denies the whole root; denials add up.
  DenyRegistryWrites(HKEY_CLASSES_ROOT, L"");
  EXPECT_EQ(SetRegString(HKEY_CLASSES_ROOT, L".obx", L"", L"x"), denied);
  EXPECT_EQ(DeleteRegTree(HKEY_CLASSES_ROOT, L".obx"), denied);
  EXPECT_TRUE(RealKeyExists(HKEY_CLASSES_ROOT, L".obx"));
  EXPECT_EQ(SetSettingDword(L"Setup\\K", L"B", 2), denied);

  AllowRegistryWrites();
  EXPECT_EQ(CheckRegWriteAccess(HKEY_CURRENT_USER, L"Setup\\K"), 0u);
  EXPECT_EQ(CheckRegWriteAccess(HKEY_CURRENT_USER, L"Setup\\Missing"),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(DeleteRegTree(HKEY_CURRENT_USER, L"Setup"), 0u);
  EXPECT_EQ(DeleteRegTree(HKEY_CURRENT_USER, L"Setup"),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(DeleteRegValue(HKEY_CLASSES_ROOT, L".obx", L""), 0u);
}

// Inside a batch every key is opened once, and what the batch infers without asking the
// registry (a key below a missing one, or below one it created, is missing) matches the registry.
TEST_F(RegistryTest, BatchOpensEachKeyOnceAndAnswersAsTheRegistryDoes) {
  const HKEY user = HKEY_CURRENT_USER;
  ASSERT_EQ(SetSettingDword(L"Old", L"V", 1), 0u);
  ASSERT_EQ(SetSettingDword(L"Kept", L"V", 1), 0u);
  ASSERT_EQ(SetSettingDword(L"Pre\\Child", L"V", 1), 0u);
  ResetRegKeyCounts();
  {
    RegBatch batch;
    for (int i = 0; i < 3; i++) EXPECT_EQ(GetSettingDword(L"Old", L"V", 0), 1u);
    EXPECT_EQ(SetSettingDword(L"Old", L"W", 2), 0u);
    EXPECT_TRUE(RegKeyExists(user, L"Old"));
    RegKeyCounts counts = GetRegKeyCounts();
    EXPECT_EQ(counts.opens + counts.creations, 1u);

    EXPECT_FALSE(RegKeyExists(user, L"New\\A"));
    EXPECT_FALSE(RegKeyExists(user, L"New\\B"));
    EXPECT_EQ(GetSettingDword(L"New\\B\\C", L"V", 7), 7u);
    EXPECT_EQ(SetSettingDword(L"New\\A\\Deep", L"V", 3), 0u);
    EXPECT_TRUE(RegKeyExists(user, L"New"));
    EXPECT_TRUE(RegKeyExists(user, L"New\\A"));
    EXPECT_FALSE(RegKeyExists(user, L"New\\B"));
    EXPECT_EQ(GetSettingDword(L"New\\A\\Deep", L"V", 0), 3u);

    DeleteRegTree(user, L"New\\A");
    EXPECT_FALSE(RegKeyExists(user, L"New\\A\\Deep"));
    EXPECT_TRUE(RegKeyExists(user, L"New"));
    EXPECT_EQ(SetSettingDword(L"New\\A\\Deep", L"V", 4), 0u);
    EXPECT_EQ(GetSettingDword(L"New\\A\\Deep", L"V", 0), 4u);

    // A key made on the way to a deeper one outlives the deeper one's deletion.
    EXPECT_EQ(SetSettingDword(L"Fresh", L"V", 1), 0u);
    EXPECT_EQ(SetSettingDword(L"Fresh\\Mid\\Leaf", L"V", 1), 0u);
    EXPECT_EQ(DeleteRegKey(user, L"Fresh\\Mid\\Leaf"), 0u);
    EXPECT_TRUE(RegKeyExists(user, L"Fresh\\Mid"));
    EXPECT_FALSE(RegKeyExists(user, L"Fresh\\Other"));

    // A key first kept for reading only is replaced by the handle of its first write.
    DenyRegistryWrites(user, L"Software\\Ombrix\\Kept");
    EXPECT_EQ(GetSettingDword(L"Kept", L"V", 0), 1u);
    AllowRegistryWrites();
    ResetRegKeyCounts();
    EXPECT_EQ(SetSettingDword(L"Kept", L"V", 5), 0u);
    EXPECT_EQ(SetSettingDword(L"Kept", L"W", 6), 0u);
    EXPECT_EQ(GetRegKeyCounts().creations, 1u);
    EXPECT_EQ(GetSettingDword(L"Kept", L"V", 0), 5u);

    // A key the batch created new answers for its subkeys and its values' deletion without an
    // open; a creation that found the key there does not, nor a new key once a key below it
    // was made on the way to a deeper one.
    ResetRegKeyCounts();
    EXPECT_EQ(SetSettingDword(L"Made", L"V", 1), 0u);
    EXPECT_FALSE(RegKeyExists(user, L"Made\\Sub"));
    DeleteSettingValue(L"Made", L"V");
    EXPECT_EQ(GetRegKeyCounts().opens, 0u);
    EXPECT_EQ(SetSettingDword(L"Made\\Sub\\Deep", L"V", 1), 0u);
    EXPECT_TRUE(RegKeyExists(user, L"Made\\Sub"));
    EXPECT_EQ(SetSettingDword(L"Pre", L"V", 1), 0u);
    EXPECT_TRUE(RegKeyExists(user, L"Pre\\Child"));

    DeleteSettingValue(L"Old", L"W");
    EXPECT_EQ(GetSettingDword(L"Old", L"W", 0), 0u);
    EXPECT_EQ(DeleteRegKey(user, L"New\\B\\C"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  }
  std::string data;
  const std::wstring base = L"Software\\Ombrix\\";
  EXPECT_EQ(RealValue(user, base + L"Old", L"V", data), static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(RealValue(user, base + L"Old", L"W", data), static_cast<DWORD>(REG_NONE));
  EXPECT_EQ(RealValue(user, base + L"New\\A\\Deep", L"V", data), static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(data, std::string("\4\0\0\0", 4));
  EXPECT_FALSE(RealKeyExists(user, base + L"New\\B"));
  EXPECT_TRUE(RealKeyExists(user, base + L"Fresh\\Mid"));
  EXPECT_FALSE(RealKeyExists(user, base + L"Fresh\\Mid\\Leaf"));
  EXPECT_EQ(RealValue(user, base + L"Made", L"V", data), static_cast<DWORD>(REG_NONE));
}

TEST_F(RegistryTest, TreeDeletionRemovesEveryLevelInFewPasses) {
  for (int a = 0; a < 4; a++)
    for (int b = 0; b < 5; b++)
      for (int c = 0; c < 6; c++) {
        std::wstring subkey = L"L" + std::to_wstring(a) + L"\\M" + std::to_wstring(b) + L"\\N" +
                              std::to_wstring(c);
        ASSERT_EQ(SetRegDword(HKEY_LOCAL_MACHINE, subkey.c_str(), L"V", 1), 0u);
      }
  MakeRealKey(HKEY_LOCAL_MACHINE, L"Software\\OmbrixOther");
  MakeRealKey(HKEY_LOCAL_MACHINE, L"Software\\Ombrix\\Setup");
  MakeRealKey(HKEY_LOCAL_MACHINE, L"Software\\Ombrix\\SetupX");

  DeleteRegTree(HKEY_LOCAL_MACHINE, L"Setup");
  EXPECT_FALSE(RealKeyExists(HKEY_LOCAL_MACHINE, L"Software\\Ombrix\\Setup"));
  EXPECT_TRUE(RealKeyExists(HKEY_LOCAL_MACHINE, L"Software\\Ombrix\\SetupX"));

  DeleteRegTree(HKEY_LOCAL_MACHINE, L"");
  EXPECT_FALSE(RealKeyExists(HKEY_LOCAL_MACHINE, L"Software\\Ombrix"));
  EXPECT_TRUE(RealKeyExists(HKEY_LOCAL_MACHINE, L"Software\\OmbrixOther"));
  EXPECT_TRUE(RealKeyExists(HKEY_LOCAL_MACHINE, L"Software"));
  // One pass that deletes everything and one that finds nothing left.
  EXPECT_LE(LastRegTreePasses(), 2u);

  DeleteRegTree(HKEY_LOCAL_MACHINE, L"Missing");
  EXPECT_EQ(LastRegTreePasses(), 1u);
}

TEST_F(RegistryTest, OverlongPathIsNeverCutAndUsed) {
  std::wstring subkey = OverlongSubkey();
  wchar_t path[kRegPathSize];
  EXPECT_FALSE(BuildRegPath(HKEY_CURRENT_USER, subkey.c_str(), path, kRegPathSize));

  // The key the cut path would name, with a value and a child.
  std::wstring full = L"Software\\Ombrix\\" + subkey;
  std::wstring cut = full.substr(0, kRegPathSize - 1);
  while (cut.back() == L'\\') cut.pop_back();
  MakeRealKey(HKEY_CURRENT_USER, cut + L"\\child");
  {
    ScopedKey key;
    ASSERT_EQ(RegOpenKeyExW(scratch_.Real(HKEY_CURRENT_USER), cut.c_str(), 0, KEY_SET_VALUE,
                            key.put()),
              ERROR_SUCCESS);
    DWORD one = 1;
    RegSetValueExW(key.get(), L"V", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4);
  }
  ASSERT_EQ(cut.size(), kRegPathSize - 1);  // the cut really ends inside the last component

  EXPECT_EQ(GetSettingDword(subkey.c_str(), L"V", 9), 9u);
  wchar_t buffer[8];
  EXPECT_FALSE(GetSettingString(subkey.c_str(), L"V", buffer, L"d", 8));
  EXPECT_STREQ(buffer, L"d");
  EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, subkey.c_str()));
  EXPECT_EQ(SetSettingDword(subkey.c_str(), L"W", 1),
            static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  DeleteSettingValue(subkey.c_str(), L"V");
  DeleteRegKey(HKEY_CURRENT_USER, subkey.c_str());
  DeleteRegTree(HKEY_CURRENT_USER, subkey.c_str());

  std::string data;
  EXPECT_EQ(RealValue(HKEY_CURRENT_USER, cut, L"V", data), static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(RealValue(HKEY_CURRENT_USER, cut, L"W", data), static_cast<DWORD>(REG_NONE));
  EXPECT_TRUE(RealKeyExists(HKEY_CURRENT_USER, cut + L"\\child"));
}

// Registry links: a key created with REG_OPTION_CREATE_LINK whose "SymbolicLinkValue" names
// another key by its absolute path. Opening the link by name opens that key instead; Wine 8
// follows them too (checked in each case before the deletion).
class RegistryLinkTest : public RegistryTest {
 protected:
  // Another program's key with a value and subkeys, below the scratch HKLM.
  void MakeCanary() {
    for (const wchar_t* path : {L"Software\\Other", L"Software\\Other\\Sub\\Deep"}) {
      ScopedKey key;
      ASSERT_EQ(RegCreateKeyExW(scratch_.Real(HKEY_LOCAL_MACHINE), path, 0, nullptr, 0,
                                KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
                ERROR_SUCCESS);
      DWORD one = 1;
      RegSetValueExW(key.get(), L"V", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4);
    }
  }

  // The absolute name of a key, as a link's target needs it.
  static std::wstring NtKeyName(HKEY key) {
    using NtQueryKeyFunction = LONG(NTAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    auto query = reinterpret_cast<NtQueryKeyFunction>(reinterpret_cast<void (*)(void)>(
        GetProcAddress(GetModuleHandleW(L"ntdll"), "NtQueryKey")));
    struct {
      ULONG bytes;
      wchar_t name[1024];
    } info = {};
    ULONG got = 0;
    const int kKeyNameInformation = 3;
    if (!query || query(key, kKeyNameInformation, &info, sizeof info, &got) != 0) return L"";
    return std::wstring(info.name, info.bytes / sizeof(wchar_t));
  }

  // A link at root's path that points at target below the scratch HKLM.
  void PlantLink(HKEY root, const std::wstring& path, const std::wstring& target) {
    std::wstring absolute = NtKeyName(scratch_.Real(HKEY_LOCAL_MACHINE)) + L"\\" + target;
    ScopedKey link;
    ASSERT_EQ(RegCreateKeyExW(scratch_.Real(root), path.c_str(), 0, nullptr,
                              REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr,
                              link.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(link.get(), L"SymbolicLinkValue", 0, REG_LINK,
                             reinterpret_cast<const BYTE*>(absolute.c_str()),
                             static_cast<DWORD>(absolute.size() * sizeof(wchar_t))),
              ERROR_SUCCESS);
  }
  bool LinkExists(HKEY root, const std::wstring& path) {
    ScopedKey key;
    return RegOpenKeyExW(scratch_.Real(root), path.c_str(), REG_OPTION_OPEN_LINK, KEY_READ,
                         key.put()) == ERROR_SUCCESS;
  }
};

TEST_F(RegistryLinkTest, DeletionsRemoveTheLinkAndNeverWhatItPointsAt) {
  struct Case {
    HKEY root;
    const wchar_t* link;    // the link's path below the real root
    const wchar_t* target;  // below the scratch HKLM
    std::function<void()> deletion;
    bool linkGoes;
  };
  const Case cases[] = {
      {HKEY_CURRENT_USER, L"Software\\Ombrix\\Setup\\Link", L"Software\\Other",
       [] { DeleteRegTree(HKEY_CURRENT_USER, L""); }, true},
      {HKEY_LOCAL_MACHINE, L"Software\\Ombrix\\Link", L"Software\\Other",
       [] { DeleteRegTree(HKEY_LOCAL_MACHINE, L""); }, true},
      {HKEY_CLASSES_ROOT, L"Ombrix\\shell\\Link", L"Software\\Other",
       [] { DeleteRegTree(HKEY_CLASSES_ROOT, L"Ombrix"); }, true},
      // The key named for deletion is itself the link.
      {HKEY_CLASSES_ROOT, L"Ombrix.ZIP", L"Software\\Other",
       [] { DeleteRegTree(HKEY_CLASSES_ROOT, L"Ombrix.ZIP"); }, true},
      {HKEY_CLASSES_ROOT, L".obx\\ShellNew", L"Software\\Other\\Sub\\Deep",
       [] { DeleteRegKey(HKEY_CLASSES_ROOT, L".obx\\ShellNew"); }, true},
      {HKEY_CLASSES_ROOT, L".obx\\ShellNew", L"Software\\Other",
       [] { DeleteRegValue(HKEY_CLASSES_ROOT, L".obx\\ShellNew", L"V"); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "link " << std::string(c.link, c.link + wcslen(c.link)));
    MakeCanary();
    PlantLink(c.root, c.link, c.target);
    std::string data;
    ASSERT_EQ(RealValue(c.root, c.link, L"V", data), static_cast<DWORD>(REG_DWORD))
        << "the platform does not follow the link";
    c.deletion();
    EXPECT_EQ(LinkExists(c.root, c.link), !c.linkGoes);
    EXPECT_TRUE(RealKeyExists(HKEY_LOCAL_MACHINE, L"Software\\Other\\Sub\\Deep"));
    EXPECT_EQ(RealValue(HKEY_LOCAL_MACHINE, L"Software\\Other", L"V", data),
              static_cast<DWORD>(REG_DWORD));
    // Nothing of the case stays for the next one.
    ScopedKey link;
    if (RegOpenKeyExW(scratch_.Real(c.root), c.link, REG_OPTION_OPEN_LINK, DELETE, link.put()) ==
        ERROR_SUCCESS)
      RegDeleteKeyW(link.get(), L"");
  }
}

// A link that a process without administrator rights could make (in the user's root, and in the
// classes root, whose user part shadows the machine's): no write goes through it, at the key
// written or on the way to it, alone or in a batch, and each refusal is counted.
TEST_F(RegistryLinkTest, WritesNeverGoThroughALink) {
  struct Case {
    HKEY root;
    const wchar_t* link;   // below the real root
    const wchar_t* key;    // written through the layer
  };
  const Case cases[] = {
      {HKEY_CURRENT_USER, L"Software\\Ombrix\\Setup\\.zip", L"Setup\\.zip"},
      {HKEY_CURRENT_USER, L"Software\\Ombrix\\Setup", L"Setup\\Links"},
      {HKEY_CLASSES_ROOT, L"Ombrix", L"Ombrix"},
      {HKEY_CLASSES_ROOT, L"Ombrix", L"Ombrix\\shell\\open\\command"},
  };
  for (bool batched : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << "key " << std::string(c.key, c.key + wcslen(c.key))
                                      << (batched ? " in a batch" : ""));
      MakeCanary();
      PlantLink(c.root, c.link, L"Software\\Other");
      ResetRegKeyCounts();
      {
        std::optional<RegBatch> batch;
        if (batched) batch.emplace();
        EXPECT_EQ(SetRegString(c.root, c.key, L"W", L"through"),
                  static_cast<DWORD>(ERROR_CANT_RESOLVE_FILENAME));
        EXPECT_EQ(SetRegDword(c.root, c.key, L"V", 2),
                  static_cast<DWORD>(ERROR_CANT_RESOLVE_FILENAME));
      }
      EXPECT_EQ(GetRegKeyCounts().linksRefused, 2u);
      std::string data;
      EXPECT_EQ(RealValue(HKEY_LOCAL_MACHINE, L"Software\\Other", L"V", data),
                static_cast<DWORD>(REG_DWORD));
      EXPECT_EQ(data, std::string("\x01\0\0\0", 4));
      EXPECT_FALSE(RealKeyExists(HKEY_LOCAL_MACHINE, L"Software\\Other\\shell"));
      EXPECT_EQ(RealValue(HKEY_LOCAL_MACHINE, L"Software\\Other", L"W", data),
                static_cast<DWORD>(REG_NONE));
      ScopedKey link;
      ASSERT_EQ(RegOpenKeyExW(scratch_.Real(c.root), c.link, REG_OPTION_OPEN_LINK, DELETE,
                              link.put()),
                ERROR_SUCCESS);
      RegDeleteKeyW(link.get(), L"");
      RegDeleteTreeW(scratch_.Real(c.root), L"Software\\Ombrix");
    }
  }
}

// Registry views only exist outside the scratch redirection, so these use real HKLM keys. In the
// 32-bit build this is a WOW64 process, as the shipped program is on 64-bit Windows: its own view
// is the 32-bit one, and KEY_WOW64_64KEY, the one view the program ever asks for, is the other
// (bitness.h). The 64-bit build reaches its other view through KEY_WOW64_32KEY.
class RegistryViewTest : public IniSearchTest {
 protected:
  void SetUp() override {
    IniSearchTest::SetUp();
    name_ = UniqueName(L"ObxViews");
    subkey_ = L"\\Software\\" + name_;
  }
  void TearDown() override {
    DeleteTree(kOwnView);
    DeleteTree(kOtherView);
  }
  void DeleteTree(REGSAM view) {
    ScopedKey software;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_ALL_ACCESS | view, software.put()) ==
        ERROR_SUCCESS)
      RegDeleteTreeW(software.get(), name_.c_str());
  }
  bool ExistsIn(REGSAM view, const std::wstring& child = L"") {
    ScopedKey key;
    std::wstring path = L"Software\\" + name_ + child;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | view, key.put()) ==
           ERROR_SUCCESS;
  }

  std::wstring name_, subkey_;
};

TEST_F(RegistryViewTest, WritesAndReadsFollowTheViewAndExistenceTestsDoNot) {
  SetRegView(kOtherView);
  ASSERT_EQ(SetRegDword(HKEY_LOCAL_MACHINE, subkey_.c_str(), L"V", 2), 0u);
  EXPECT_TRUE(ExistsIn(kOtherView));
  EXPECT_FALSE(ExistsIn(kOwnView));
  EXPECT_EQ(GetRegDword(HKEY_LOCAL_MACHINE, subkey_.c_str(), L"V", 0), 2u);
  EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, subkey_.c_str()));

  SetRegView(kOwnView);
  ASSERT_EQ(SetRegDword(HKEY_LOCAL_MACHINE, subkey_.c_str(), L"V", 1), 0u);
  EXPECT_TRUE(ExistsIn(kOwnView));
  EXPECT_EQ(GetRegDword(HKEY_LOCAL_MACHINE, subkey_.c_str(), L"V", 0), 1u);
  SetRegView(0);
  EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, subkey_.c_str()));
  EXPECT_EQ(GetRegDword(HKEY_LOCAL_MACHINE, subkey_.c_str(), L"V", 0), 1u);
  wchar_t buffer[8];
  SetRegView(kOtherView);
  EXPECT_EQ(SetRegString(HKEY_LOCAL_MACHINE, subkey_.c_str(), L"S", L"other"), 0u);
  EXPECT_TRUE(GetRegString(HKEY_LOCAL_MACHINE, subkey_.c_str(), L"S", buffer, L"", 8));
  EXPECT_STREQ(buffer, L"other");
  SetRegView(0);
  EXPECT_FALSE(GetRegString(HKEY_LOCAL_MACHINE, subkey_.c_str(), L"S", buffer, L"", 8));
}

TEST_F(RegistryViewTest, SingleKeyDeletionFollowsTheViewOtherDeletionsDoNot) {
  const std::wstring child = subkey_ + L"\\Child";
  for (REGSAM view : {kOtherView, kOwnView}) {
    SetRegView(view);
    ASSERT_EQ(SetRegDword(HKEY_LOCAL_MACHINE, child.c_str(), L"V", 1), 0u);
  }

  // With the other view chosen, value deletion still acts on the default view.
  SetRegView(kOtherView);
  DeleteRegValue(HKEY_LOCAL_MACHINE, child.c_str(), L"V");
  EXPECT_EQ(GetRegDword(HKEY_LOCAL_MACHINE, child.c_str(), L"V", 0), 1u);
  SetRegView(0);
  EXPECT_EQ(GetRegDword(HKEY_LOCAL_MACHINE, child.c_str(), L"V", 0), 0u);

  // A single key goes in the chosen view only.
  SetRegView(kOtherView);
  DeleteRegKey(HKEY_LOCAL_MACHINE, child.c_str());
  EXPECT_FALSE(ExistsIn(kOtherView, L"\\Child"));
  EXPECT_TRUE(ExistsIn(kOwnView, L"\\Child"));

  // A tree goes in the default view, whatever view is chosen.
  DeleteRegTree(HKEY_LOCAL_MACHINE, subkey_.c_str());
  EXPECT_FALSE(ExistsIn(kOwnView));
  EXPECT_TRUE(ExistsIn(kOtherView));
}
