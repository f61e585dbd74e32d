#include "settings/registry.h"

#include "filesystem/owners.h"
#include "localisation/text.h"
#include "settings/store.h"

namespace {

constexpr wchar_t kProgramKeyFormat[] = L"Software\\Ombrix%s%s";
// Reads open with KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS.
constexpr REGSAM kReadAccess = 0x0009;
// Registry key names are at most 255 characters.
constexpr unsigned kKeyNameSize = 256;

struct TreeDeletion {
  unsigned deleted = 0;  // keys deleted in the current pass
  unsigned passes = 0;   // passes of the last deletion
};
TreeDeletion treeDeletion;

ScopedKey OpenRegKeyRead(HKEY root, const wchar_t* path, REGSAM access) {
  ScopedKey key;
  if (RegOpenKeyExW(root, path, 0, access, key.put()) != ERROR_SUCCESS) key.release();
  return key;
}

ScopedKey CreateRegKeyWrite(HKEY root, const wchar_t* path, LONG& error) {
  ScopedKey key;
  error = RegCreateKeyExW(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE | RegView,
                          nullptr, key.put(), nullptr);
  if (error != ERROR_SUCCESS) key.release();
  return key;
}

DWORD SetRegValue(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD type,
                  const void* data, DWORD bytes) {
  wchar_t path[kRegPathSize];
  if (!BuildRegPath(root, subkey, path, kRegPathSize)) return ERROR_FILENAME_EXCED_RANGE;
  LONG error;
  ScopedKey key = CreateRegKeyWrite(root, path, error);
  if (!key) return static_cast<DWORD>(error);
  return static_cast<DWORD>(
      RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), bytes));
}

// Deletes p with everything below it; true when p itself went. Enumeration stays at an index
// while the child there is deleted, so the siblings after it are not skipped and a whole tree
// goes in one pass.
bool DeleteTreeStep(HKEY root, const wchar_t* path) {
  if (!path[0]) return false;  // never the root itself
  {
    ScopedKey key = OpenRegKeyRead(root, path, KEY_READ);
    if (!key) return false;
    for (DWORD index = 0;;) {
      wchar_t name[kKeyNameSize];
      DWORD length = kKeyNameSize;
      if (RegEnumKeyExW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS)
        break;
      wchar_t child[kRegPathSize];
      // A cut child path would name another key; leave such a child in place.
      bool fits = FormatText(child, kRegPathSize, L"%s\\%s", path, name) >= 0;
      if (!fits || !DeleteTreeStep(root, child)) index++;
    }
  }
  if (RegDeleteKeyW(root, path) != ERROR_SUCCESS) return false;
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

void DeleteRegValue(HKEY root, const wchar_t* subkey, const wchar_t* name) {
  if (!name) name = L"";
  if (IniDelete(root, subkey, name)) return;
  wchar_t path[kRegPathSize];
  if (!BuildRegPath(root, subkey, path, kRegPathSize)) return;
  ScopedKey key = OpenRegKeyRead(root, path, KEY_WRITE);
  if (key) RegDeleteValueW(key.get(), name);
}

void DeleteRegKey(HKEY root, const wchar_t* subkey) {
  if (IniDelete(root, subkey, nullptr)) return;
  wchar_t path[kRegPathSize];
  // An empty path would name the root (or a test's stand-in for it).
  if (!BuildRegPath(root, subkey, path, kRegPathSize) || !path[0]) return;
  if (RegView != 0)
    RegDeleteKeyExW(root, path, RegView, 0);
  else
    RegDeleteKeyW(root, path);
}

void DeleteRegTree(HKEY root, const wchar_t* subkey) {
  if (IniDelete(root, subkey, nullptr)) return;
  wchar_t path[kRegPathSize];
  if (!BuildRegPath(root, subkey, path, kRegPathSize) || !path[0]) return;
  // Keys that cannot be deleted end the loop: a pass that deletes nothing is the last.
  treeDeletion.passes = 0;
  do {
    treeDeletion.deleted = 0;
    DeleteTreeStep(root, path);
    treeDeletion.passes++;
  } while (treeDeletion.deleted > 0);
}

unsigned LastRegTreePasses() { return treeDeletion.passes; }

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
