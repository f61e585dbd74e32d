#include "settings/registry.h"

#include "filesystem/owners.h"
#include "filesystem/product.h"
#include "localisation/convert.h"
#include "localisation/text.h"
#include "settings/store.h"

namespace {

constexpr wchar_t kProgramKeyFormat[] = OBX_PROGRAM_KEY L"%s%s";
// Reads open with KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS.
constexpr REGSAM kReadAccess = 0x0009;
// Registry key names are at most 255 characters.
constexpr unsigned kKeyNameSize = 256;
constexpr wchar_t kNtModule[] = L"ntdll";
constexpr char kNtDeleteKey[] = "NtDeleteKey";
constexpr char kNtStatusToError[] = "RtlNtStatusToDosError";

struct TreeDeletion {
  unsigned deleted = 0;  // keys deleted in the current pass
  unsigned passes = 0;   // passes of the last deletion
  LONG lastError = 0;    // of the last key the current pass opened or tried to delete
};
TreeDeletion treeDeletion;

// Rights a write needs; an open that asks for any of them is a write.
constexpr REGSAM kWriteRights =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER;
constexpr unsigned kMaxDenials = 4;

struct RegistryDenial {
  HKEY root;
  wchar_t path[kRegPathSize];
};

// What every key open of this layer passes through: the tests' denials and the counts.
using NtDeleteKeyFunction = LONG(NTAPI*)(HANDLE);
using NtStatusToErrorFunction = ULONG(NTAPI*)(LONG);

struct RegistryAccess {
  RegistryDenial denials[kMaxDenials] = {};
  unsigned denialCount = 0;
  RegKeyCounts counts = {};
  bool ntLoaded = false;
  NtDeleteKeyFunction ntDeleteKey = nullptr;
  NtStatusToErrorFunction statusToError = nullptr;
};
RegistryAccess registryAccess;

unsigned regChangesLeft = kUnlimitedRegChanges;

// False once a test's limit of changes is used up.
bool TakeRegChange() {
  if (regChangesLeft == kUnlimitedRegChanges) return true;
  if (regChangesLeft == 0) return false;
  regChangesLeft--;
  return true;
}

// Whether the settings store answers or drops a request for this key; raw value access then
// sees nothing and changes nothing.
bool StoreTakesKey(HKEY root, const wchar_t* subkey) {
  bool exists;
  return IniKeyExists(root, subkey, exists);
}

bool IsDenied(HKEY root, const wchar_t* path) {
  for (unsigned i = 0; i < registryAccess.denialCount; i++) {
    const RegistryDenial& denial = registryAccess.denials[i];
    if (denial.root != root) continue;
    unsigned length = TextLength(denial.path);
    if (length == 0) return true;
    if (CompareNoCaseN(path, denial.path, length) == 0 &&
        (path[length] == 0 || path[length] == L'\\'))
      return true;
  }
  return false;
}

// Opens name below from (root itself or a key below it); path is the same key's full path below
// root, which the denials compare.
LONG OpenKeyAt(HKEY root, const wchar_t* path, HKEY from, const wchar_t* name, DWORD options,
               REGSAM access, ScopedKey& key) {
  key.reset();
  if ((access & kWriteRights) && IsDenied(root, path)) return ERROR_ACCESS_DENIED;
  registryAccess.counts.opens++;
  LONG error = RegOpenKeyExW(from, name, options, access, key.put());
  if (error != ERROR_SUCCESS) key.release();
  return error;
}

LONG OpenKey(HKEY root, const wchar_t* path, REGSAM access, ScopedKey& key) {
  return OpenKeyAt(root, path, root, path, 0, access, key);
}

LONG CreateKey(HKEY root, const wchar_t* path, REGSAM access, ScopedKey& key) {
  key.reset();
  if (IsDenied(root, path)) return ERROR_ACCESS_DENIED;
  registryAccess.counts.creations++;
  LONG error = RegCreateKeyExW(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                               key.put(), nullptr);
  if (error != ERROR_SUCCESS) key.release();
  return error;
}

// Deletes the key the handle stands for: opened with REG_OPTION_OPEN_LINK, a link key itself and
// never the key it points at. RegDeleteKey by name would follow the link (seen under Wine: the
// target went and the link stayed).
LONG DeleteOpenKey(HKEY key) {
  if (!registryAccess.ntLoaded) {
    registryAccess.ntLoaded = true;
    HMODULE ntdll = GetModuleHandleW(kNtModule);
    if (ntdll) {
      // Through void(*)(void), the one function type GCC lets any other be cast from.
      registryAccess.ntDeleteKey = reinterpret_cast<NtDeleteKeyFunction>(
          reinterpret_cast<void (*)(void)>(GetProcAddress(ntdll, kNtDeleteKey)));
      registryAccess.statusToError = reinterpret_cast<NtStatusToErrorFunction>(
          reinterpret_cast<void (*)(void)>(GetProcAddress(ntdll, kNtStatusToError)));
    }
  }
  if (!registryAccess.ntDeleteKey || !registryAccess.statusToError)
    return ERROR_CALL_NOT_IMPLEMENTED;
  LONG status = registryAccess.ntDeleteKey(key);
  return status == 0 ? ERROR_SUCCESS : static_cast<LONG>(registryAccess.statusToError(status));
}

// One key without children, not followed if it is a link. view: 0 for the process's own view,
// else the KEY_WOW64_* flag to delete in.
LONG DeleteKeyAt(HKEY root, const wchar_t* path, REGSAM view) {
  ScopedKey key;
  LONG error = OpenKeyAt(root, path, root, path, REG_OPTION_OPEN_LINK, DELETE | view, key);
  if (error != ERROR_SUCCESS) return error;
  return DeleteOpenKey(key.get());
}

ScopedKey OpenRegKeyRead(HKEY root, const wchar_t* path, REGSAM access) {
  ScopedKey key;
  OpenKey(root, path, access, key);
  return key;
}

DWORD SetRegValue(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD type,
                  const void* data, DWORD bytes) {
  wchar_t path[kRegPathSize];
  if (!BuildRegPath(root, subkey, path, kRegPathSize)) return ERROR_FILENAME_EXCED_RANGE;
  if (!TakeRegChange()) return ERROR_CANCELLED;
  ScopedKey key;
  LONG error = CreateKey(root, path, KEY_WRITE | RegView, key);
  if (error != ERROR_SUCCESS) return static_cast<DWORD>(error);
  return static_cast<DWORD>(
      RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), bytes));
}

// Deletes the key `name` below from with everything beneath it; true when it went. path is its
// full path below root. Each key is opened as itself, never through a link: a link key has no
// subkeys of its own and goes alone, whatever it points at. Enumeration stays at an index while
// the child there is deleted, so the siblings after it are not skipped and a whole tree goes in
// one pass.
bool DeleteTreeStep(HKEY root, HKEY from, const wchar_t* name, const wchar_t* path) {
  if (!path[0]) return false;  // never the root itself
  ScopedKey key;
  treeDeletion.lastError =
      OpenKeyAt(root, path, from, name, REG_OPTION_OPEN_LINK, KEY_READ | DELETE, key);
  if (!key) return false;
  for (DWORD index = 0;;) {
    wchar_t childName[kKeyNameSize];
    DWORD length = kKeyNameSize;
    if (RegEnumKeyExW(key.get(), index, childName, &length, nullptr, nullptr, nullptr,
                      nullptr) != ERROR_SUCCESS)
      break;
    wchar_t child[kRegPathSize];
    // A child whose path does not fit cannot be compared with the denials; it stays.
    bool fits = FormatText(child, kRegPathSize, L"%s\\%s", path, childName) >= 0;
    if (!fits || !DeleteTreeStep(root, key.get(), childName, child)) index++;
  }
  treeDeletion.lastError = DeleteOpenKey(key.get());
  if (treeDeletion.lastError != ERROR_SUCCESS) return false;
  treeDeletion.deleted++;
  return true;
}

}  // namespace

REGSAM RegView = 0;

void SetRegView(REGSAM view) { RegView = view; }

bool BuildRegPath(HKEY root, const wchar_t* subkey, wchar_t* out, unsigned size) {
  if (size == 0) return false;
  if (!subkey) subkey = L"";
  if (root == HKEY_CURRENT_USER || root == HKEY_LOCAL_MACHINE) {
    if (subkey[0] != L'\\')
      return FormatText(out, size, kProgramKeyFormat, subkey[0] ? L"\\" : L"", subkey) >= 0;
    subkey++;
  }
  CopyText(out, subkey, size);
  return TextLength(subkey) < size;
}

bool RegKeyExists(HKEY root, const wchar_t* subkey) {
  bool exists;
  if (IniKeyExists(root, subkey, exists)) return exists;
  wchar_t path[kRegPathSize];
  if (!BuildRegPath(root, subkey, path, kRegPathSize)) return false;
  return static_cast<bool>(OpenRegKeyRead(root, path, KEY_QUERY_VALUE));
}

DWORD GetRegDword(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD defaultValue) {
  DWORD value;
  if (IniGetNumber(root, subkey, name, defaultValue, value)) return value;
  wchar_t path[kRegPathSize];
  if (!BuildRegPath(root, subkey, path, kRegPathSize)) return defaultValue;
  ScopedKey key = OpenRegKeyRead(root, path, kReadAccess | RegView);
  if (!key) return defaultValue;
  DWORD data = 0, bytes = sizeof data;
  if (RegQueryValueExW(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(&data),
                       &bytes) != ERROR_SUCCESS ||
      bytes == 0)
    return defaultValue;
  return data;
}

bool GetRegString(HKEY root, const wchar_t* subkey, const wchar_t* name, wchar_t* buffer,
                  const wchar_t* defaultText, unsigned size) {
  CopyText(buffer, defaultText, size);
  const wchar_t* stored;
  if (IniFind(root, subkey, name, &stored)) {
    CopyText(buffer, stored ? stored : defaultText, size);
    return true;
  }
  if (size == 0) return false;
  wchar_t path[kRegPathSize];
  if (!BuildRegPath(root, subkey, path, kRegPathSize)) return false;
  ScopedKey key = OpenRegKeyRead(root, path, kReadAccess | RegView);
  if (!key) return false;
  DWORD bytes = size * sizeof(wchar_t);
  if (RegQueryValueExW(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer),
                       &bytes) != ERROR_SUCCESS) {
    CopyText(buffer, defaultText, size);
    return false;
  }
  unsigned end = bytes / sizeof(wchar_t);
  buffer[end < size - 1 ? end : size - 1] = 0;
  return true;
}

DWORD SetRegString(HKEY root, const wchar_t* subkey, const wchar_t* name, const wchar_t* text) {
  if (!text) text = L"";
  if (IniSet(root, subkey, name, text, kIniQuoted)) return ERROR_SUCCESS;
  DWORD bytes = (TextLength(text) + 1) * sizeof(wchar_t);
  return SetRegValue(root, subkey, name, REG_SZ, text, bytes);
}

DWORD SetRegDword(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD value) {
  if (IniSetNumber(root, subkey, name, value)) return ERROR_SUCCESS;
  return SetRegValue(root, subkey, name, REG_DWORD, &value, sizeof value);
}

DWORD DeleteRegValue(HKEY root, const wchar_t* subkey, const wchar_t* name) {
  if (!name) name = L"";
  if (IniDelete(root, subkey, name)) return ERROR_SUCCESS;
  wchar_t path[kRegPathSize];
  if (!BuildRegPath(root, subkey, path, kRegPathSize)) return ERROR_FILENAME_EXCED_RANGE;
  if (!TakeRegChange()) return ERROR_CANCELLED;
  // A link key is opened as itself: the value of the key it points at stays.
  ScopedKey key;
  LONG error = OpenKeyAt(root, path, root, path, REG_OPTION_OPEN_LINK, KEY_WRITE, key);
  if (error != ERROR_SUCCESS) return static_cast<DWORD>(error);
  return static_cast<DWORD>(RegDeleteValueW(key.get(), name));
}

DWORD DeleteRegKey(HKEY root, const wchar_t* subkey) {
  if (IniDelete(root, subkey, nullptr)) return ERROR_SUCCESS;
  wchar_t path[kRegPathSize];
  if (!BuildRegPath(root, subkey, path, kRegPathSize)) return ERROR_FILENAME_EXCED_RANGE;
  // An empty path would name the root (or a test's stand-in for it).
  if (!path[0]) return ERROR_INVALID_PARAMETER;
  if (!TakeRegChange()) return ERROR_CANCELLED;
  return static_cast<DWORD>(DeleteKeyAt(root, path, RegView));
}

DWORD DeleteRegTree(HKEY root, const wchar_t* subkey) {
  if (IniDelete(root, subkey, nullptr)) return ERROR_SUCCESS;
  wchar_t path[kRegPathSize];
  if (!BuildRegPath(root, subkey, path, kRegPathSize)) return ERROR_FILENAME_EXCED_RANGE;
  if (!path[0]) return ERROR_INVALID_PARAMETER;
  if (!TakeRegChange()) return ERROR_CANCELLED;
  // Keys that cannot be deleted end the loop: a pass that deletes nothing is the last. The key
  // is tried last in each pass, so the pass's last error is its own.
  treeDeletion.passes = 0;
  LONG result = ERROR_FILE_NOT_FOUND;
  do {
    treeDeletion.deleted = 0;
    if (DeleteTreeStep(root, root, path, path))
      result = ERROR_SUCCESS;
    else if (result != ERROR_SUCCESS)
      result = treeDeletion.lastError;
    treeDeletion.passes++;
  } while (treeDeletion.deleted > 0);
  return static_cast<DWORD>(result);
}

unsigned LastRegTreePasses() { return treeDeletion.passes; }

bool GetRawRegString(HKEY root, const wchar_t* path, const wchar_t* name, wchar_t* buffer,
                     unsigned size) {
  if (size == 0) return false;
  buffer[0] = 0;
  ScopedKey key;
  if (OpenKey(root, path, KEY_QUERY_VALUE, key) != ERROR_SUCCESS) return false;
  DWORD type = REG_NONE;
  DWORD bytes = size * sizeof(wchar_t);
  if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                       &bytes) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    buffer[0] = 0;
    return false;
  }
  // Stored strings need not end in a terminator; one that leaves no room for it does not fit.
  unsigned length = bytes / sizeof(wchar_t);
  if (length == size && buffer[size - 1] != 0) {
    buffer[0] = 0;
    return false;
  }
  if (length < size) buffer[length] = 0;
  return true;
}

DWORD CheckRegWriteAccess(HKEY root, const wchar_t* subkey) {
  wchar_t path[kRegPathSize];
  if (!BuildRegPath(root, subkey, path, kRegPathSize)) return ERROR_FILENAME_EXCED_RANGE;
  ScopedKey key;
  return static_cast<DWORD>(
      OpenKey(root, path, KEY_SET_VALUE | KEY_CREATE_SUB_KEY | DELETE | RegView, key));
}

void DenyRegistryWrites(HKEY root, const wchar_t* path) {
  if (registryAccess.denialCount == kMaxDenials) return;
  RegistryDenial& denial = registryAccess.denials[registryAccess.denialCount++];
  denial.root = root;
  CopyText(denial.path, path ? path : L"", kRegPathSize);
}

void AllowRegistryWrites() { registryAccess.denialCount = 0; }

DWORD GetRegData(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD* type, void* data,
                 DWORD* bytes) {
  wchar_t path[kRegPathSize];
  if (StoreTakesKey(root, subkey) || !BuildRegPath(root, subkey, path, kRegPathSize))
    return ERROR_FILE_NOT_FOUND;
  ScopedKey key;
  LONG error = OpenKey(root, path, kReadAccess | RegView, key);
  if (error != ERROR_SUCCESS) return static_cast<DWORD>(error);
  return static_cast<DWORD>(
      RegQueryValueExW(key.get(), name, nullptr, type, static_cast<BYTE*>(data), bytes));
}

DWORD SetRegData(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD type,
                 const void* data, DWORD bytes) {
  if (StoreTakesKey(root, subkey)) return ERROR_SUCCESS;
  return SetRegValue(root, subkey, name, type, data, bytes);
}

DWORD EnumRegValue(HKEY root, const wchar_t* subkey, DWORD index, wchar_t* name,
                   unsigned nameSize, DWORD* type, void* data, DWORD* bytes) {
  wchar_t path[kRegPathSize];
  if (nameSize == 0 || StoreTakesKey(root, subkey) ||
      !BuildRegPath(root, subkey, path, kRegPathSize))
    return ERROR_NO_MORE_ITEMS;
  ScopedKey key = OpenRegKeyRead(root, path, kReadAccess | RegView);
  if (!key) return ERROR_NO_MORE_ITEMS;
  DWORD length = nameSize;
  LONG error = RegEnumValueW(key.get(), index, name, &length, nullptr, type,
                             static_cast<BYTE*>(data), bytes);
  name[length < nameSize ? length : nameSize - 1] = 0;
  return static_cast<DWORD>(error);
}

bool CountRegKeyContents(HKEY root, const wchar_t* subkey, DWORD* subkeys, DWORD* values) {
  wchar_t path[kRegPathSize];
  if (StoreTakesKey(root, subkey) || !BuildRegPath(root, subkey, path, kRegPathSize))
    return false;
  ScopedKey key = OpenRegKeyRead(root, path, kReadAccess | RegView);
  return key && RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, subkeys, nullptr, nullptr,
                                 values, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

void SetRegChangeLimit(unsigned changes) { regChangesLeft = changes; }

RegKeyCounts GetRegKeyCounts() { return registryAccess.counts; }

void ResetRegKeyCounts() { registryAccess.counts = {}; }

DWORD GetSettingDword(const wchar_t* subkey, const wchar_t* name, DWORD defaultValue) {
  return GetRegDword(HKEY_CURRENT_USER, subkey, name, defaultValue);
}

bool GetSettingString(const wchar_t* subkey, const wchar_t* name, wchar_t* buffer,
                      const wchar_t* defaultText, unsigned size) {
  return GetRegString(HKEY_CURRENT_USER, subkey, name, buffer, defaultText, size);
}

DWORD SetSettingDword(const wchar_t* subkey, const wchar_t* name, DWORD value) {
  return SetRegDword(HKEY_CURRENT_USER, subkey, name, value);
}

DWORD SetSettingString(const wchar_t* subkey, const wchar_t* name, const wchar_t* text) {
  return SetRegString(HKEY_CURRENT_USER, subkey, name, text);
}

void DeleteSettingValue(const wchar_t* subkey, const wchar_t* name) {
  DeleteRegValue(HKEY_CURRENT_USER, subkey, name);
}
