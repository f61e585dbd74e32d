// Taking archive extensions over and giving them back, the product's file types and its Default
// Programs entries, against scratch registry roots.
#include "integration/associations.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <utility>

#include "filesystem/path.h"
#include "integration/handlerbackup.h"
#include "integrationenv.h"
#include "localisation/messages.h"
#include "regsnapshot.h"
#include "settings/registry.h"

namespace {

constexpr wchar_t kMissing[] = L"<missing>";

std::wstring ClassValue(const wchar_t* key, const wchar_t* name = L"") {
  wchar_t buffer[2048];
  if (!GetRegString(HKEY_CLASSES_ROOT, key, name, buffer, L"", 2048)) return kMissing;
  return buffer;
}

void SetClass(const wchar_t* key, const wchar_t* name, const wchar_t* text) {
  ASSERT_EQ(SetRegString(HKEY_CLASSES_ROOT, key, name, text), 0u);
}

// Backups live under the product's machine key.
DWORD BackupDword(const wchar_t* ext, const wchar_t* name) {
  return GetRegDword(HKEY_LOCAL_MACHINE, (std::wstring(L"Setup\\") + ext).c_str(), name, 0xDEAD);
}

std::wstring BackupString(const wchar_t* ext, const wchar_t* name) {
  wchar_t buffer[2048];
  if (!GetRegString(HKEY_LOCAL_MACHINE, (std::wstring(L"Setup\\") + ext).c_str(), name, buffer,
                    L"", 2048))
    return kMissing;
  return buffer;
}

std::wstring Volume(unsigned n) {
  wchar_t name[8];
  swprintf(name, 8, L".o%02u", n);
  return name;
}

std::wstring MainProgram() {
  wchar_t path[kPathSize];
  GetMainProgramPath(path, kPathSize);
  return path;
}

IntegrationOptions AllOn() {
  IntegrationOptions options = {};
  for (bool& flag : options.associate) flag = true;
  options.shellExt = true;
  return options;
}

}  // namespace

TEST(IsOwnedExtension, OnlyTheTwoArchiveTypesInAnyCase) {
  IntegrationEnv env;
  EXPECT_FALSE(IsOwnedExtension(L".zip"));  // missing key
  const std::pair<const wchar_t*, bool> cases[] = {
      {L"Ombrix", true}, {L"oMBRIX.zip", true}, {L"Ombrix.REV", false},
      {L"Ombrix2", false}, {L"", false},
  };
  for (const auto& [type, owned] : cases) {
    SetClass(L".zip", L"", type);
    EXPECT_EQ(IsOwnedExtension(L".zip"), owned) << type;
  }
}

TEST(AssociateExtension, TakingOverSavesThePreviousHandlerOnce) {
  IntegrationEnv env;
  SetClass(L".cab", L"", L"CABFolder");
  AssociateExtension(L".cab", true, true, false, false);
  EXPECT_EQ(ClassValue(L".cab"), L"Ombrix");
  EXPECT_EQ(BackupDword(L".cab", L"Exist"), 1u);
  EXPECT_EQ(BackupString(L".cab", L"Type"), L"CABFolder");

  // A second setup finds the extension owned and keeps the first backup.
  AssociateExtension(L".cab", true, true, false, false);
  EXPECT_EQ(BackupString(L".cab", L"Type"), L"CABFolder");

  AssociateExtension(L".cab", false, false, false, false);
  EXPECT_EQ(ClassValue(L".cab"), L"CABFolder");
  // The backup stays for a later setup.
  EXPECT_EQ(BackupString(L".cab", L"Type"), L"CABFolder");
}

TEST(AssociateExtension, ReleasingWhatAnotherProgramTookOverChangesNothing) {
  IntegrationEnv env;
  SetClass(L".tar", L"", L"OldTar");
  AssociateExtension(L".tar", true, true, false, false);
  SetClass(L".tar", L"", L"NewTar");
  RegSnapshot before = TakeRegSnapshot(env.registry.Real(HKEY_CLASSES_ROOT), L"");
  AssociateExtension(L".tar", false, false, false, false);
  RegSnapshot after = TakeRegSnapshot(env.registry.Real(HKEY_CLASSES_ROOT), L"");
  EXPECT_TRUE(before == after) << DescribeRegDifferences(before, after).c_str();
  EXPECT_EQ(ClassValue(L".tar"), L"NewTar");
}

TEST(AssociateExtension, ReleasingAKeyThatDidNotExistDeletesIt) {
  IntegrationEnv env;
  AssociateExtension(L".xz", true, true, false, false);
  EXPECT_EQ(ClassValue(L".xz"), L"Ombrix");
  AssociateExtension(L".xz", false, false, false, false);
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, L".xz"));

  // Someone else's subkey keeps the key, without our type and without an empty one.
  AssociateExtension(L".txz", true, true, false, false);
  SetClass(L".txz\\OpenWithProgids", L"Other.txz", L"");
  AssociateExtension(L".txz", false, false, false, false);
  EXPECT_EQ(ClassValue(L".txz"), kMissing);
  EXPECT_EQ(ClassValue(L".txz\\OpenWithProgids", L"Other.txz"), L"");
}

TEST(AssociateExtension, SavedProductTypeOrNoBackupLeavesNoType) {
  IntegrationEnv env;
  SetClass(L".cab", L"", L"Ombrix");  // owned, but no backup was ever saved
  AssociateExtension(L".cab", false, false, false, false);
  EXPECT_TRUE(RegKeyExists(HKEY_CLASSES_ROOT, L".cab"));
  EXPECT_EQ(ClassValue(L".cab"), kMissing);

  for (const wchar_t* saved : {L"Ombrix", L"OMBRIX.zip"}) {
    SetClass(L".arj", L"", L"Ombrix");
    SetSettingDword(L"Setup\\.arj", L"Exist", 1);
    SetSettingString(L"Setup\\.arj", L"Type", saved);
    AssociateExtension(L".arj", false, false, false, false);
    EXPECT_EQ(ClassValue(L".arj"), kMissing) << saved;
  }
}

TEST(AssociateExtension, ObxTakesThirtyVolumesAndReleasesAHundred) {
  IntegrationEnv env;
  TemplateFilesLock lock;
  SetClass(L".o77", L"", L"Ombrix");  // left from an older setup
  AssociateExtension(L".obx", true, false, true, false);
  for (unsigned n = 0; n < 30; n++) EXPECT_EQ(ClassValue(Volume(n).c_str()), L"Ombrix") << n;
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, L".o30"));

  AssociateExtension(L".obx", false, false, true, false);
  for (unsigned n = 0; n < 100; n++)
    EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, Volume(n).c_str())) << n;
  // ".obx" did not exist before; its ShellNew key, if any, must not keep it alive.
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, L".obx"));
}

TEST(AssociateExtension, VolumesGoBackToWhatTheyWereAndOthersStayUntouched) {
  IntegrationEnv env;
  TemplateFilesLock lock;
  SetClass(L".obx", L"", L"OtherObx");
  SetClass(L".o03", L"", L"OtherVolume");
  SetClass(L".o07\\OpenWithProgids", L"OtherVolume", L"");
  SetClass(L".o40", L"", L"OtherVolume");  // beyond what setup takes
  HKEY classes = env.registry.Real(HKEY_CLASSES_ROOT);
  RegSnapshot before = TakeRegSnapshot(classes, L"");
  AssociateExtension(L".obx", true, false, true, false);
  EXPECT_EQ(ClassValue(L".o03"), L"Ombrix");
  EXPECT_EQ(ClassValue(L".o40"), L"OtherVolume");
  AssociateExtension(L".obx", false, false, true, false);
  RegSnapshot after = TakeRegSnapshot(classes, L"");
  EXPECT_TRUE(before == after) << DescribeRegDifferences(before, after).c_str();
}

// Setup of an earlier version saved only "Exist", "Type" and "ShellNew" of each extension, in the
// installing user's settings, and nothing for the volumes. An uninstallation (or a setup first,
// which moves the backup to the machine key) of this version gives back what that backup names:
// the type, NullFile or the file name, no empty type, no key of our own. Any process of that user
// could have written it, so a type goes back only when it is registered and named after that
// extension; an existing ProgID such as "exefile", one merely listed in the extension's
// OpenWithProgids (which that user's own classes can add to) or another extension's type does not. A template of the earlier version in another folder is still
// the product's own, and the entry saved before it survives a setup.
TEST(AssociateExtension, ABackupOfAnEarlierVersionIsStillGivenBackWhenPlausible) {
  struct Case {
    const wchar_t* ext;
    bool isObxRow, isZipRow;
    DWORD exist;
    const wchar_t* type;
    bool openWith;  // the type is listed in the extension's OpenWithProgids
    const wchar_t* shellNew;
    const wchar_t* expectedType;      // kMissing: no default value; null: no key at all
    const wchar_t* expectedShellNew;  // "NullFile", "FileName=..." or null for no ShellNew key
    const wchar_t* templateFolder;    // of the earlier version's template; null: this folder
  };
  const Case cases[] = {
      {L".zip", false, true, 1, L"OtherArc.zip", false, L"*", L"OtherArc.zip", L"NullFile", nullptr},
      {L".zip", false, true, 1, L"OtherArc.zip", false, L"*", L"OtherArc.zip", L"NullFile",
       L"C:\\Old place"},
      {L".zip", false, true, 1, L"", false, L"C:\\T\\e.zip", kMissing, L"FileName=C:\\T\\e.zip", nullptr},
      {L".zip", false, true, 1, L"CompressedFolder", true, L"", kMissing, nullptr, nullptr},
      {L".zip", false, true, 1, L"CompressedFolder", false, L"", kMissing, nullptr, nullptr},
      {L".obx", true, false, 0, L"", false, L"", nullptr, nullptr, nullptr},
      {L".obx", true, false, 1, L"exefile", false, L"", kMissing, nullptr, nullptr},
      {L".cab", false, false, 1, L"", false, L"", kMissing, nullptr, nullptr},
      {L".arj", false, false, 1, L"OtherArc.zip", false, L"", kMissing, nullptr, nullptr},
  };
  for (int setups : {0, 1}) {
    for (const Case& c : cases) {
      IntegrationEnv env;
      TemplateFilesLock lock;
      std::wstring backup = std::wstring(L"Setup\\") + c.ext;
      SetSettingDword(backup.c_str(), L"Exist", c.exist);
      SetSettingString(backup.c_str(), L"Type", c.type);
      SetSettingString(backup.c_str(), L"ShellNew", c.shellNew);
      SetClass(c.ext, L"", c.isZipRow ? L"Ombrix.ZIP" : L"Ombrix");
      if (c.type[0]) SetClass(c.type, L"", L"a type registered on this machine");
      if (c.openWith)
        SetClass((std::wstring(c.ext) + L"\\OpenWithProgids").c_str(), c.type, L"");
      if (std::wstring(c.ext) == L".cab") SetClass(L".cab\\OpenWithProgids", L"Other.cab", L"");
      wchar_t templatePath[kPathSize];
      GetModuleFileNameW(nullptr, templatePath, kPathSize);
      if (c.templateFolder) wcscpy(templatePath, (std::wstring(c.templateFolder) + L"\\x").c_str());
      SetName(templatePath, c.isObxRow ? L"obxnew.dat" : L"zipnew.dat", kPathSize);
      std::wstring shellNew = std::wstring(c.ext) + L"\\ShellNew";
      if (c.isObxRow || c.isZipRow) SetClass(shellNew.c_str(), L"FileName", templatePath);
      for (unsigned n = 0; c.isObxRow && n < 30; n++) SetClass(Volume(n).c_str(), L"", L"Ombrix");

      for (int i = 0; i < setups; i++)
        AssociateExtension(c.ext, true, true, c.isObxRow, c.isZipRow);
      if (setups) {
        EXPECT_EQ(BackupDword(c.ext, L"User"), 1u) << c.ext;
      }
      AssociateExtension(c.ext, false, false, c.isObxRow, c.isZipRow);
      std::wstring label = std::wstring(c.ext) + L" type \"" + c.type + L"\" ShellNew \"" +
                           c.shellNew + L"\" after setups: " + std::to_wstring(setups);
      if (c.expectedType)
        EXPECT_EQ(ClassValue(c.ext), c.expectedType) << label.c_str();
      else
        EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, c.ext)) << label.c_str();
      RegSnapshot entry = TakeRegSnapshot(env.registry.Real(HKEY_CLASSES_ROOT), shellNew);
      std::wstring found = entry.empty() ? L"(none)" : L"";
      for (const auto& value : entry[L""]) {
        std::wstring data(reinterpret_cast<const wchar_t*>(value.second.bytes.data()));
        found += value.first == L"NULLFILE" ? L"NullFile" : L"FileName=" + data;
      }
      EXPECT_EQ(found, c.expectedShellNew ? c.expectedShellNew : L"(none)") << label.c_str();
      for (unsigned n = 0; c.isObxRow && n < 30; n++)
        EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, Volume(n).c_str())) << label.c_str();
    }
  }
}

// Another program took ".zip" and ".obx" over after setup without making New-menu entries or
// volumes of its own: the release gives back the saved entry in place of the product's template
// and the volumes that still name the product, and leaves that program's type as it is.
TEST(AssociateExtension, ReleaseTakesBackWhatStillNamesTheProductAfterAnotherProgramTookOver) {
  IntegrationEnv env;
  TemplateFilesLock lock;
  SetClass(L".zip\\ShellNew", L"NullFile", L"");
  AssociateExtension(L".zip", true, true, false, true);
  AssociateExtension(L".obx", true, false, true, false);
  ASSERT_NE(ClassValue(L".zip\\ShellNew", L"FileName"), kMissing);
  SetClass(L".zip", L"", L"Other.zip");
  SetClass(L".obx", L"", L"Other.obx");
  SetClass(L".o03", L"", L"Other.volume");  // the other program's own volume stays
  AssociateExtension(L".zip", false, false, false, true);
  AssociateExtension(L".obx", false, false, true, false);
  EXPECT_EQ(ClassValue(L".zip"), L"Other.zip");
  EXPECT_EQ(ClassValue(L".zip\\ShellNew", L"NullFile"), L"");
  EXPECT_EQ(ClassValue(L".zip\\ShellNew", L"FileName"), kMissing);
  EXPECT_EQ(ClassValue(L".obx"), L"Other.obx");
  EXPECT_EQ(ClassValue(L".o03"), L"Other.volume");
  for (unsigned n = 0; n < 30; n++)
    if (n != 3) {
      EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, Volume(n).c_str())) << n;
    }

  // A New-menu entry the other program made is its own.
  SetClass(L".zip\\ShellNew", L"FileName", L"C:\\Other\\new.zip");
  AssociateExtension(L".zip", false, false, false, true);
  EXPECT_EQ(ClassValue(L".zip\\ShellNew", L"FileName"), L"C:\\Other\\new.zip");
}

// A setup that ended between creating a key and writing the product's type into it leaves an
// empty key that names nothing; the backup written first says the product made it.
TEST(AssociateExtension, AnEmptyKeyALaterRunCreatedIsRemovedWithTheRelease) {
  IntegrationEnv env;
  TemplateFilesLock lock;
  SetClass(L".tar", L"", L"");  // another program's empty key stays
  AssociateExtension(L".arj", true, true, false, false);
  AssociateExtension(L".tar", true, true, false, false);
  AssociateExtension(L".obx", true, false, true, false);
  for (const wchar_t* key : {L".arj", L".tar", L".o05"})
    ASSERT_EQ(DeleteRegValue(HKEY_CLASSES_ROOT, key, L""), 0u) << key;
  AssociateExtension(L".arj", false, false, false, false);
  AssociateExtension(L".tar", false, false, false, false);
  AssociateExtension(L".obx", false, false, true, false);
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, L".arj"));
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, L".o05"));
  EXPECT_TRUE(RegKeyExists(HKEY_CLASSES_ROOT, L".tar"));
}

// What could not be saved completely is not taken over, and the run counts it: a New-menu entry
// with more values than a backup holds or a value too large, a backup key refused.
TEST(AssociateExtension, AHandlerThatCannotBeSavedStaysAndIsCounted) {
  IntegrationEnv env;
  TemplateFilesLock lock;
  for (unsigned i = 0; i < 33; i++)
    SetClass(L".zip\\ShellNew", (L"Value" + std::to_wstring(i)).c_str(), L"x");
  SetClass(L".obx\\ShellNew", L"Data", std::wstring(2100, L'x').c_str());
  SetClass(L".cab", L"", L"CABFolder");
  DenyRegistryWrites(HKEY_LOCAL_MACHINE, L"Software\\Ombrix\\Setup\\.cab");
  HKEY classes = env.registry.Real(HKEY_CLASSES_ROOT);
  RegSnapshot shellNew = TakeRegSnapshot(classes, L".zip\\ShellNew");
  AssociateExtension(L".zip", true, true, false, true);
  EXPECT_EQ(UnsavedHandlerCount(), 1u);
  AssociateExtension(L".obx", true, true, true, false);
  EXPECT_EQ(UnsavedHandlerCount(), 2u);
  AssociateExtension(L".cab", true, true, false, false);
  EXPECT_EQ(UnsavedHandlerCount(), 3u);
  EXPECT_EQ(ClassValue(L".cab"), L"CABFolder");
  EXPECT_TRUE(shellNew == TakeRegSnapshot(classes, L".zip\\ShellNew"));
  EXPECT_EQ(ClassValue(L".obx\\ShellNew", L"FileName"), kMissing);
}

TEST(AssociateAll, EachAliasHasItsOwnBackup) {
  IntegrationEnv env;
  SetClass(L".gz", L"", L"GzFile");
  SetClass(L".tgz", L"", L"TgzFile");
  IntegrationOptions options = {};
  options.associate[8] = true;  // ".gz.tgz"
  AssociateAll(options);
  EXPECT_EQ(ClassValue(L".gz"), L"Ombrix");
  EXPECT_EQ(ClassValue(L".tgz"), L"Ombrix");
  EXPECT_EQ(BackupString(L".gz", L"Type"), L"GzFile");
  EXPECT_EQ(BackupString(L".tgz", L"Type"), L"TgzFile");
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, L".tar"));  // rows not chosen stay untouched

  SetClass(L".gz", L"", L"Intruder");  // another program takes ".gz" back meanwhile
  AssociateAll(IntegrationOptions{});
  EXPECT_EQ(ClassValue(L".gz"), L"Intruder");
  EXPECT_EQ(ClassValue(L".tgz"), L"TgzFile");
}

// Third-party handlers before: ".zip" of another type with a NullFile entry, ".7z" with a
// template file, ".iso" owned by another program. Applying (once or twice) and then removing
// must leave the classes root exactly as it was, whether or not the New-menu entries are wanted.
TEST(AssociateAll, ApplyThenRemoveRestoresEveryExtensionExactly) {
  for (bool shellExt : {true, false}) {
    for (int applications : {1, 2}) {
      IntegrationEnv env;
      TemplateFilesLock lock;
      SetClass(L".zip", L"", L"CompressedFolder");
      SetClass(L".zip", L"Content Type", L"application/zip");
      SetClass(L".zip\\ShellNew", L"NullFile", L"");
      SetClass(L".zip\\OpenWithProgids", L"CompressedFolder", L"");
      SetClass(L".7z", L"", L"7-Zip.7z");
      SetClass(L".7z\\ShellNew", L"FileName", L"C:\\Templates\\empty.7z");
      SetClass(L".iso", L"", L"Windows.IsoFile");
      SetClass(L"CompressedFolder\\shell\\open\\command", L"", L"explorer.exe %1");
      HKEY classes = env.registry.Real(HKEY_CLASSES_ROOT);
      RegSnapshot before = TakeRegSnapshot(classes, L"");

      IntegrationOptions options = AllOn();
      options.shellExt = shellExt;
      for (int i = 0; i < applications; i++) AssociateAll(options);
      EXPECT_EQ(ClassValue(L".zip"), L"Ombrix.ZIP");
      EXPECT_EQ(ClassValue(L".7z"), L"Ombrix");
      EXPECT_EQ(ClassValue(L".iso"), L"Ombrix");
      EXPECT_EQ(ClassValue(L".zip\\ShellNew", L"NullFile"), shellExt ? kMissing : L"");

      AssociateAll(IntegrationOptions{});
      RegSnapshot after = TakeRegSnapshot(classes, L"");
      EXPECT_TRUE(before == after) << "shellExt " << shellExt << ", applied " << applications
                                   << " times:\n"
                                   << DescribeRegDifferences(before, after).c_str();
    }
  }
}

TEST(RegisterProgIds, WritesTheThreeTypesWithOpenCommandAndIcons) {
  IntegrationEnv env;
  ASSERT_TRUE(RegisterProgIds());
  std::wstring program = MainProgram();
  std::wstring command = L"\"" + program + L"\" \"%1\"";
  EXPECT_EQ(ClassValue(L"Ombrix"), GetMsg(IDS_OMBRIXARC));
  EXPECT_EQ(ClassValue(L"Ombrix.ZIP"), GetMsg(IDS_OMBRIXZIPARC));
  EXPECT_EQ(ClassValue(L"Ombrix.REV"), GetMsg(IDS_OBXRECVOL));
  EXPECT_NE(ClassValue(L"Ombrix"), L"");
  for (const wchar_t* type : {L"Ombrix", L"Ombrix.ZIP", L"Ombrix.REV"})
    EXPECT_EQ(ClassValue((std::wstring(type) + L"\\shell\\open\\command").c_str()), command);
  EXPECT_EQ(ClassValue(L"Ombrix\\DefaultIcon"), program + L",0");
  EXPECT_EQ(ClassValue(L"Ombrix.ZIP\\DefaultIcon"), program + L",0");
  EXPECT_EQ(ClassValue(L"Ombrix.REV\\DefaultIcon"), program + L",1");
  EXPECT_EQ(ClassValue(L".rev"), L"Ombrix.REV");
}

TEST(RegisterProgIds, KeepsAnIconSomeoneElseChose) {
  IntegrationEnv env;
  SetClass(L"Ombrix.REV\\DefaultIcon", L"", L"C:\\Themes\\rev.ico");
  SetClass(L"Ombrix\\DefaultIcon", L"", L"C:\\Themes\\obx.ico,3");
  ASSERT_TRUE(RegisterProgIds());
  EXPECT_EQ(ClassValue(L"Ombrix.REV\\DefaultIcon"), L"C:\\Themes\\rev.ico");
  EXPECT_EQ(ClassValue(L"Ombrix\\DefaultIcon"), L"C:\\Themes\\obx.ico,3");
  EXPECT_EQ(ClassValue(L"Ombrix.ZIP\\DefaultIcon"), MainProgram() + L",0");
}

TEST(RegisterDefaultPrograms, ListsEveryAliasFromVistaOn) {
  for (const PlatformOverride* platform : {&kWindows7, &kWindows10, &kWindowsMajor11}) {
    IntegrationEnv env(*platform);
    RegisterDefaultPrograms(false);
    wchar_t text[512];
    GetRegString(HKEY_LOCAL_MACHINE, L"\\Software\\RegisteredApplications", L"Ombrix", text, L"",
                 512);
    EXPECT_STREQ(text, L"Software\\Ombrix\\Capabilities");
    GetRegString(HKEY_LOCAL_MACHINE, L"Capabilities", L"ApplicationDescription", text, L"", 512);
    EXPECT_STREQ(text, L"Ombrix");

    RegSnapshot written = TakeRegSnapshot(env.registry.Real(HKEY_LOCAL_MACHINE),
                                          L"Software\\Ombrix\\Capabilities\\FileAssociations");
    const auto& values = written[L""];
    EXPECT_EQ(values.size(), 29u);  // every alias of the 18 rows
    for (const auto& value : values) {
      std::wstring data(reinterpret_cast<const wchar_t*>(value.second.bytes.data()));
      EXPECT_EQ(data, value.first == L".ZIP" ? L"Ombrix.ZIP" : L"Ombrix") << value.first.c_str();
    }
  }
}

TEST(RegisterDefaultPrograms, RemovingDeletesTheValueAndTheMachineProgramKey) {
  IntegrationEnv env;
  SetRegString(HKEY_LOCAL_MACHINE, L"\\Software\\RegisteredApplications", L"Other", L"x");
  RegisterDefaultPrograms(false);
  SetRegString(HKEY_LOCAL_MACHINE, L"", L"exe32", L"C:\\Ombrix\\Ombrix.exe");
  RegisterDefaultPrograms(true);
  EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, L""));
  wchar_t text[64];
  EXPECT_FALSE(GetRegString(HKEY_LOCAL_MACHINE, L"\\Software\\RegisteredApplications", L"Ombrix",
                            text, L"", 64));
  EXPECT_TRUE(GetRegString(HKEY_LOCAL_MACHINE, L"\\Software\\RegisteredApplications", L"Other",
                           text, L"", 64));
}

TEST(RegisterDefaultPrograms, BeforeVistaNothingIsWrittenButRemovalStillClearsTheKey) {
  IntegrationEnv env(kWindowsXp);
  RegisterDefaultPrograms(false);
  EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, L"\\Software\\RegisteredApplications"));
  EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, L""));

  SetRegString(HKEY_LOCAL_MACHINE, L"Capabilities", L"ApplicationDescription", L"Ombrix");
  SetRegString(HKEY_LOCAL_MACHINE, L"\\Software\\RegisteredApplications", L"Ombrix", L"x");
  RegisterDefaultPrograms(true);
  EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, L""));
  wchar_t text[8];
  EXPECT_TRUE(GetRegString(HKEY_LOCAL_MACHINE, L"\\Software\\RegisteredApplications", L"Ombrix",
                           text, L"", 8));
}
