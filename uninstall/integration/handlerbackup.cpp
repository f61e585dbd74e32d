#include "integration/handlerbackup.h"

#include <windows.h>

#include <cwchar>

#include "base/convert.h"
#include "base/product.h"
#include "base/text.h"
#include "filesystem/path.h"
#include "settings/registry.h"

namespace {

// Written since the first version; still written so that an older uninstaller finds them.
constexpr wchar_t kExistValue[] = L"Exist";
constexpr wchar_t kTypeValue[] = L"Type";
constexpr wchar_t kShellNewValue[] = L"ShellNew";
// Added so that nothing is lost: the default value exactly, or kNoValue when there was none.
constexpr wchar_t kDefaultValue[] = L"DefaultValue";
constexpr wchar_t kNoValue[] = L"-";
// The ShellNew entry: held by the template, whether the key existed, how many values it had and
// each value as "ShellNew<n>".
constexpr wchar_t kShellNewHeldValue[] = L"ShellNewHeld";
constexpr wchar_t kShellNewKeyValue[] = L"ShellNewKey";
constexpr wchar_t kShellNewCountValue[] = L"ShellNewCount";
constexpr wchar_t kShellNewItemFormat[] = L"ShellNew%u";
constexpr wchar_t kNullFileValue[] = L"NullFile";
constexpr wchar_t kNullFileMark[] = L"*";

constexpr unsigned kBackupKeySize = 64;
constexpr unsigned kTypeSize = 512;
constexpr unsigned kItemNameSize = 16;
// Realistic entries are far smaller; a larger one is left alone rather than cut.
constexpr DWORD kMaxValueBytes = 4096;
constexpr unsigned kValueNameSize = 256;
constexpr unsigned kMaxShellNewValues = 32;
// "<type>:<data in hex>:<name in hex>", with room to spare.
constexpr unsigned kEncodedSize = 16 + 2 * kMaxValueBytes + 4 * kValueNameSize + 8;
constexpr DWORD kUnknown = 0xFFFFFFFF;

struct SavedValue {
  DWORD type = REG_NONE;
  DWORD bytes = 0;
  BYTE data[kMaxValueBytes];
  wchar_t name[kValueNameSize] = {};
};

void BackupKey(const wchar_t* key, wchar_t* out) {
  FormatText(out, kBackupKeySize, kExtensionSetupKeyFormat, key);
}

void ShellNewKey(const wchar_t* ext, wchar_t* out) {
  FormatText(out, kRegPathSize, kShellNewKeyFormat, ext);
}

constexpr wchar_t kHexDigits[] = L"0123456789abcdef";

// Appends bytes as hex digits; false when out is too small.
bool AppendHex(const BYTE* bytes, DWORD count, wchar_t* out, unsigned size) {
  unsigned at = TextLength(out);
  if (at + 2 * count >= size) return false;
  for (DWORD i = 0; i < count; i++) {
    out[at++] = kHexDigits[bytes[i] >> 4];
    out[at++] = kHexDigits[bytes[i] & 15];
  }
  out[at] = 0;
  return true;
}

int HexDigit(wchar_t ch) {
  if (ch >= L'0' && ch <= L'9') return ch - L'0';
  if (ch >= L'a' && ch <= L'f') return ch - L'a' + 10;
  if (ch >= L'A' && ch <= L'F') return ch - L'A' + 10;
  return -1;
}

// Reads hex digits up to the next ':' or the end; false on anything malformed or too long.
bool ReadHex(const wchar_t*& text, BYTE* out, DWORD capacity, DWORD* count) {
  *count = 0;
  while (*text && *text != L':') {
    int high = HexDigit(text[0]);
    int low = high < 0 ? -1 : HexDigit(text[1]);
    if (low < 0 || *count >= capacity) return false;
    out[(*count)++] = static_cast<BYTE>(high * 16 + low);
    text += 2;
  }
  return true;
}

// "<type>:<data>" and, with a name, ":<name>".
bool EncodeValue(const SavedValue& value, bool withName, wchar_t* out, unsigned size) {
  if (FormatText(out, size, L"%lu:", value.type) < 0 ||
      !AppendHex(value.data, value.bytes, out, size))
    return false;
  if (!withName) return true;
  if (TextLength(out) + 1 >= size) return false;
  AppendText(out, L":", size);
  return AppendHex(reinterpret_cast<const BYTE*>(value.name), TextLength(value.name) * 2, out,
                   size);
}

bool DecodeValue(const wchar_t* text, bool withName, SavedValue& value) {
  DWORD type = 0;
  if (*text < L'0' || *text > L'9') return false;
  for (; *text >= L'0' && *text <= L'9'; text++) {
    if (type > (0xFFFFFFFFu - 9) / 10) return false;
    type = type * 10 + static_cast<DWORD>(*text - L'0');
  }
  if (*text++ != L':') return false;
  value.type = type;
  if (!ReadHex(text, value.data, kMaxValueBytes, &value.bytes)) return false;
  if (!withName) return *text == 0;
  if (*text++ != L':') return false;
  DWORD nameBytes;
  BYTE name[2 * (kValueNameSize - 1)];
  if (!ReadHex(text, name, sizeof name, &nameBytes) || *text || nameBytes % 2) return false;
  CopyMemory(value.name, name, nameBytes);
  value.name[nameBytes / 2] = 0;
  return true;
}

bool IsProductTypeValue(const SavedValue& value) {
  if (value.type != REG_SZ && value.type != REG_EXPAND_SZ) return false;
  wchar_t text[kTypeSize] = {};
  CopyMemory(text, value.data, value.bytes < sizeof text - 2 ? value.bytes : sizeof text - 2);
  for (const wchar_t* type : kProductTypes)
    if (CompareNoCase(text, type) == 0) return true;
  return false;
}

void SetStringValue(SavedValue& value, const wchar_t* name, const wchar_t* text) {
  CopyText(value.name, name, kValueNameSize);
  value.type = REG_SZ;
  value.bytes = (TextLength(text) + 1) * sizeof(wchar_t);
  if (value.bytes > kMaxValueBytes) value.bytes = 0;
  CopyMemory(value.data, text, value.bytes);
}

// True when the key holds at most the one value named and no subkeys: the product's value is
// all there is, so the key the product created can go as a whole.
bool HoldsOnly(const wchar_t* key, const wchar_t* name) {
  DWORD subkeys = 0, values = 0;
  if (!CountRegKeyContents(HKEY_CLASSES_ROOT, key, &subkeys, &values)) return false;
  if (subkeys > 0 || values > 1) return false;
  DWORD type, bytes = 0;
  return values == 0 ||
         GetRegData(HKEY_CLASSES_ROOT, key, name, &type, nullptr, &bytes) == ERROR_SUCCESS;
}

// Backup writes; false when the write fails.
bool WriteSetting(const wchar_t* backup, const wchar_t* name, const wchar_t* text) {
  return SetSettingString(backup, name, text) == ERROR_SUCCESS;
}

bool WriteNumber(const wchar_t* backup, const wchar_t* name, DWORD number) {
  return SetSettingDword(backup, name, number) == ERROR_SUCCESS;
}

}  // namespace

bool SaveKeyHandler(const wchar_t* key) {
  SavedValue value;
  value.bytes = kMaxValueBytes;
  DWORD read = GetRegData(HKEY_CLASSES_ROOT, key, L"", &value.type, value.data, &value.bytes);
  if (read != ERROR_SUCCESS && read != ERROR_FILE_NOT_FOUND) return false;
  wchar_t encoded[kEncodedSize];
  if (read == ERROR_FILE_NOT_FOUND)
    CopyText(encoded, kNoValue, kEncodedSize);
  else if (!EncodeValue(value, false, encoded, kEncodedSize))
    return false;
  wchar_t type[kTypeSize];
  GetRegString(HKEY_CLASSES_ROOT, key, L"", type, L"", kTypeSize);
  if (value.type != REG_SZ && value.type != REG_EXPAND_SZ) type[0] = 0;

  wchar_t backup[kBackupKeySize];
  BackupKey(key, backup);
  return WriteNumber(backup, kExistValue, RegKeyExists(HKEY_CLASSES_ROOT, key) ? 1u : 0u) &&
         WriteSetting(backup, kTypeValue, type) && WriteSetting(backup, kDefaultValue, encoded);
}

void RestoreKeyHandler(const wchar_t* key, bool existedIfUnsaved) {
  wchar_t backup[kBackupKeySize];
  BackupKey(key, backup);
  bool existed = GetSettingDword(backup, kExistValue, existedIfUnsaved ? 1 : 0) != 0;
  wchar_t encoded[kEncodedSize];
  GetSettingString(backup, kDefaultValue, encoded, L"", kEncodedSize);
  SavedValue value;
  bool present;
  if (encoded[0] == 0) {
    // An earlier version's backup: the type as text, empty both for none and for an empty one.
    // An extension key without a default value is the common case, so empty counts as none.
    wchar_t type[kTypeSize];
    GetSettingString(backup, kTypeValue, type, L"", kTypeSize);
    SetStringValue(value, L"", type);
    present = type[0] != 0;
  } else {
    present = std::wcscmp(encoded, kNoValue) != 0 && DecodeValue(encoded, false, value);
  }
  if (present && IsProductTypeValue(value)) present = false;

  if (!existed) {
    // One deletion takes the key and the product's value together, so that no interruption
    // can leave an empty key that the next run no longer recognises as the product's.
    if (HoldsOnly(key, L""))
      DeleteRegKey(HKEY_CLASSES_ROOT, key);
    else
      DeleteRegValue(HKEY_CLASSES_ROOT, key, L"");
    return;
  }
  if (present)
    SetRegData(HKEY_CLASSES_ROOT, key, L"", value.type, value.data, value.bytes);
  else
    DeleteRegValue(HKEY_CLASSES_ROOT, key, L"");
}

bool IsShellNewHeld(const wchar_t* ext, const wchar_t* templatePath) {
  wchar_t backup[kBackupKeySize];
  BackupKey(ext, backup);
  DWORD held = GetSettingDword(backup, kShellNewHeldValue, kUnknown);
  if (held != kUnknown) return held != 0;
  // An earlier version's backup: the template held the entry where its file is named.
  wchar_t shellNewKey[kRegPathSize], fileName[kPathSize];
  ShellNewKey(ext, shellNewKey);
  return GetRegString(HKEY_CLASSES_ROOT, shellNewKey, kShellNewFileNameValue, fileName, L"",
                      kPathSize) &&
         CompareNoCase(fileName, templatePath) == 0;
}

bool SaveShellNew(const wchar_t* ext) {
  wchar_t backup[kBackupKeySize], shellNewKey[kRegPathSize];
  BackupKey(ext, backup);
  ShellNewKey(ext, shellNewKey);
  bool keyExists = RegKeyExists(HKEY_CLASSES_ROOT, shellNewKey);
  // What an earlier version recorded, for an older uninstaller: a file name, or "*" for NullFile.
  wchar_t fileName[kPathSize];
  GetRegString(HKEY_CLASSES_ROOT, shellNewKey, kShellNewFileNameValue, fileName, L"", kPathSize);
  DWORD type, bytes = 0;
  if (!fileName[0] && GetRegData(HKEY_CLASSES_ROOT, shellNewKey, kNullFileValue, &type, nullptr,
                                 &bytes) == ERROR_SUCCESS)
    CopyText(fileName, kNullFileMark, kPathSize);

  unsigned count = 0;
  for (;; count++) {
    SavedValue value;
    value.bytes = kMaxValueBytes;
    DWORD read = EnumRegValue(HKEY_CLASSES_ROOT, shellNewKey, count, value.name, kValueNameSize,
                              &value.type, value.data, &value.bytes);
    if (read == ERROR_NO_MORE_ITEMS) break;
    wchar_t encoded[kEncodedSize], item[kItemNameSize];
    if (read != ERROR_SUCCESS || count >= kMaxShellNewValues ||
        !EncodeValue(value, true, encoded, kEncodedSize))
      return false;
    FormatText(item, kItemNameSize, kShellNewItemFormat, count);
    if (!WriteSetting(backup, item, encoded)) return false;
  }
  // Marked held last: until then a rerun saves the untouched entry again.
  return WriteNumber(backup, kShellNewCountValue, count) &&
         WriteNumber(backup, kShellNewKeyValue, keyExists ? 1u : 0u) &&
         WriteSetting(backup, kShellNewValue, fileName) &&
         WriteNumber(backup, kShellNewHeldValue, 1u);
}

void RestoreShellNew(const wchar_t* ext, const wchar_t* templatePath) {
  if (!IsShellNewHeld(ext, templatePath)) return;
  wchar_t backup[kBackupKeySize], shellNewKey[kRegPathSize];
  BackupKey(ext, backup);
  ShellNewKey(ext, shellNewKey);
  DWORD count = GetSettingDword(backup, kShellNewCountValue, kUnknown);
  bool keyExisted;
  bool fileNameSaved = false;
  if (count == kUnknown) {
    // An earlier version's backup: one file name or NullFile; a key without either value was
    // most likely not there at all.
    wchar_t saved[kPathSize];
    GetSettingString(backup, kShellNewValue, saved, L"", kPathSize);
    keyExisted = saved[0] != 0 && GetSettingDword(backup, kExistValue, 1) != 0;
    if (keyExisted) {
      SavedValue value;
      bool nullFile = std::wcscmp(saved, kNullFileMark) == 0;
      SetStringValue(value, nullFile ? kNullFileValue : kShellNewFileNameValue,
                     nullFile ? L"" : saved);
      SetRegData(HKEY_CLASSES_ROOT, shellNewKey, value.name, value.type, value.data, value.bytes);
      fileNameSaved = !nullFile;
    }
  } else {
    keyExisted = GetSettingDword(backup, kShellNewKeyValue, 1) != 0;
    for (DWORD i = 0; keyExisted && i < count && i < kMaxShellNewValues; i++) {
      wchar_t item[kItemNameSize], encoded[kEncodedSize];
      FormatText(item, kItemNameSize, kShellNewItemFormat, i);
      GetSettingString(backup, item, encoded, L"", kEncodedSize);
      SavedValue value;
      if (!DecodeValue(encoded, true, value)) continue;
      SetRegData(HKEY_CLASSES_ROOT, shellNewKey, value.name, value.type, value.data, value.bytes);
      if (CompareNoCase(value.name, kShellNewFileNameValue) == 0) fileNameSaved = true;
    }
  }
  if (!keyExisted && HoldsOnly(shellNewKey, kShellNewFileNameValue))
    DeleteRegKey(HKEY_CLASSES_ROOT, shellNewKey);
  else if (!fileNameSaved)
    DeleteRegValue(HKEY_CLASSES_ROOT, shellNewKey, kShellNewFileNameValue);
  WriteNumber(backup, kShellNewHeldValue, 0u);
}
