#include "integration/handlerbackup.h"

#include <windows.h>

#include <cwchar>

#include "base/convert.h"
#include "base/product.h"
#include "base/text.h"
#include "filesystem/path.h"
#include "settings/registry.h"
#include "settings/store.h"

namespace {

// Take-overs this run left undone because what was there could not be saved completely.
struct HandlerBackups {
  unsigned unsaved = 0;
};
HandlerBackups handlerBackups;

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
// A backup copied from an earlier version's place in the user's settings: still checked.
constexpr wchar_t kLegacyValue[] = L"User";

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

// A key's backup: written under the product's machine key, where every administrator's
// uninstallation finds it and no unelevated process can change it. An earlier version's backup in
// the installing user's settings is still read (and moved by the next setup), but what it says is
// checked before it goes into the machine's classes: any process of that user could have written it.
struct Backup {
  wchar_t key[kBackupKeySize];
  HKEY root;
  bool legacy;
};

// userSettings: whether to look for an earlier version's backup there too.
void FindBackup(const wchar_t* key, Backup& backup, bool userSettings = true) {
  FormatText(backup.key, kBackupKeySize, kExtensionSetupKeyFormat, key);
  backup.legacy = false;
  // A portable installation keeps its backups in its ini file, where they always were.
  backup.root = UsesIni(HKEY_CURRENT_USER, backup.key) ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
  if (GetRegDword(backup.root, backup.key, kExistValue, kUnknown) != kUnknown) {
    backup.legacy = GetRegDword(backup.root, backup.key, kLegacyValue, 0) != 0;
  } else if (userSettings && GetSettingDword(backup.key, kExistValue, kUnknown) != kUnknown) {
    backup.root = HKEY_CURRENT_USER;
    backup.legacy = true;
  }
}

// Where a backup is written: the machine key, also for one found in the user's settings.
HKEY WriteRoot(const Backup& backup) {
  return backup.legacy ? HKEY_LOCAL_MACHINE : backup.root;
}

[[gnu::always_inline]] inline DWORD ReadNumber(const Backup& backup, const wchar_t* name,
                                              DWORD defaultValue) {
  return GetRegDword(backup.root, backup.key, name, defaultValue);
}

[[gnu::always_inline]] inline void ReadText(const Backup& backup, const wchar_t* name, wchar_t* out,
                                             unsigned size) {
  GetRegString(backup.root, backup.key, name, out, L"", size);
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

// Whether a saved default value may be given back to key: never one of the product's own
// types; from a legacy backup only a file type registered on the machine and named after this
// very extension (such as "OtherArc.zip"), never one such as "exefile" that would make every
// user's archive run as a program.
bool MayRestoreType(const wchar_t* key, const SavedValue& value, bool legacy) {
  bool text = value.type == REG_SZ || value.type == REG_EXPAND_SZ;
  wchar_t type[kTypeSize] = {};
  if (text)
    CopyMemory(type, value.data, value.bytes < sizeof type - 2 ? value.bytes : sizeof type - 2);
  for (const wchar_t* own : kProductTypes)
    if (text && CompareNoCase(type, own) == 0) return false;
  if (!legacy) return true;
  unsigned typeLength = TextLength(type), keyLength = TextLength(key);
  return text && typeLength > keyLength && RegKeyExists(HKEY_CLASSES_ROOT, type) &&
         CompareNoCase(type + typeLength - keyLength, key) == 0;
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
bool WriteSetting(const Backup& backup, const wchar_t* name, const wchar_t* text) {
  return SetRegString(WriteRoot(backup), backup.key, name, text) == ERROR_SUCCESS;
}

bool WriteNumber(const Backup& backup, const wchar_t* name, DWORD number) {
  return SetRegDword(WriteRoot(backup), backup.key, name, number) == ERROR_SUCCESS;
}

}  // namespace

void NoteUnsavedHandler() { handlerBackups.unsaved++; }

unsigned UnsavedHandlerCount() { return handlerBackups.unsaved; }

void ResetUnsavedHandlers() { handlerBackups = HandlerBackups{}; }

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

  Backup backup;
  FindBackup(key, backup, false);
  // A fresh backup replaces one moved from the user's settings, marker and all.
  bool moved = backup.legacy && backup.root == HKEY_LOCAL_MACHINE;
  backup.root = WriteRoot(backup);
  backup.legacy = false;
  // "Exist" first: it is what marks a key the product is about to create, so that the removal
  // finds the key even when a run ends between creating it and writing its value.
  return WriteNumber(backup, kExistValue, RegKeyExists(HKEY_CLASSES_ROOT, key) ? 1u : 0u) &&
         (!moved || DeleteRegValue(backup.root, backup.key, kLegacyValue) == ERROR_SUCCESS) &&
         WriteSetting(backup, kTypeValue, type) && WriteSetting(backup, kDefaultValue, encoded);
}

void MoveLegacyBackup(const wchar_t* key) {
  Backup backup;
  FindBackup(key, backup);
  if (backup.root != HKEY_CURRENT_USER || UsesIni(HKEY_CURRENT_USER, backup.key)) return;
  // The mark first: whatever part of the copy stands is checked as coming from the user.
  if (!WriteNumber(backup, kLegacyValue, 1)) return;
  for (DWORD index = 0;; index++) {
    SavedValue value;
    value.bytes = kMaxValueBytes;
    if (EnumRegValue(HKEY_CURRENT_USER, backup.key, index, value.name, kValueNameSize,
                     &value.type, value.data, &value.bytes) != ERROR_SUCCESS)
      break;
    SetRegData(HKEY_LOCAL_MACHINE, backup.key, value.name, value.type, value.data, value.bytes);
  }
}

void RestoreKeyHandler(const wchar_t* key, bool existedIfUnsaved) {
  Backup backup;
  FindBackup(key, backup);
  bool existed = ReadNumber(backup, kExistValue, existedIfUnsaved ? 1 : 0) != 0;
  wchar_t encoded[kEncodedSize];
  ReadText(backup, kDefaultValue, encoded, kEncodedSize);
  SavedValue value;
  bool present;
  if (encoded[0] == 0) {
    // An earlier version's backup: the type as text, empty both for none and for an empty one.
    // An extension key without a default value is the common case, so empty counts as none.
    wchar_t type[kTypeSize];
    ReadText(backup, kTypeValue, type, kTypeSize);
    SetStringValue(value, L"", type);
    present = type[0] != 0;
  } else {
    present = std::wcscmp(encoded, kNoValue) != 0 && DecodeValue(encoded, false, value);
  }
  if (present && !MayRestoreType(key, value, backup.legacy)) present = false;

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

void RemoveCreatedEmptyKey(const wchar_t* key) {
  DWORD subkeys, values;
  if (!CountRegKeyContents(HKEY_CLASSES_ROOT, key, &subkeys, &values) || subkeys + values) return;
  Backup backup;
  FindBackup(key, backup);
  if (ReadNumber(backup, kExistValue, 1) == 0) DeleteRegKey(HKEY_CLASSES_ROOT, key);
}

bool IsShellNewHeld(const wchar_t* ext, const wchar_t* templatePath) {
  Backup backup;
  FindBackup(ext, backup);
  DWORD held = ReadNumber(backup, kShellNewHeldValue, kUnknown);
  if (held != kUnknown) return held != 0;
  // An earlier version's backup: the template held the entry where its file is named, also in
  // the folder of an earlier installation elsewhere.
  wchar_t shellNewKey[kRegPathSize], fileName[kPathSize];
  ShellNewKey(ext, shellNewKey);
  return GetRegString(HKEY_CLASSES_ROOT, shellNewKey, kShellNewFileNameValue, fileName, L"",
                      kPathSize) &&
         CompareNoCase(PointToName(fileName), PointToName(templatePath)) == 0;
}

bool SaveShellNew(const wchar_t* ext) {
  Backup backup;
  FindBackup(ext, backup);
  wchar_t shellNewKey[kRegPathSize];
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
  Backup backup;
  FindBackup(ext, backup);
  wchar_t shellNewKey[kRegPathSize];
  ShellNewKey(ext, shellNewKey);
  DWORD count = ReadNumber(backup, kShellNewCountValue, kUnknown);
  bool keyExisted;
  bool fileNameSaved = false;
  if (count == kUnknown) {
    // An earlier version's backup: one file name or NullFile; a key without either value was
    // most likely not there at all.
    wchar_t saved[kPathSize];
    ReadText(backup, kShellNewValue, saved, kPathSize);
    keyExisted = saved[0] != 0 && ReadNumber(backup, kExistValue, 1) != 0;
    if (keyExisted) {
      SavedValue value;
      bool nullFile = std::wcscmp(saved, kNullFileMark) == 0;
      SetStringValue(value, nullFile ? kNullFileValue : kShellNewFileNameValue,
                     nullFile ? L"" : saved);
      SetRegData(HKEY_CLASSES_ROOT, shellNewKey, value.name, value.type, value.data, value.bytes);
      fileNameSaved = !nullFile;
    }
  } else {
    keyExisted = ReadNumber(backup, kShellNewKeyValue, 1) != 0;
    for (DWORD i = 0; keyExisted && i < count && i < kMaxShellNewValues; i++) {
      wchar_t item[kItemNameSize], encoded[kEncodedSize];
      FormatText(item, kItemNameSize, kShellNewItemFormat, i);
      ReadText(backup, item, encoded, kEncodedSize);
      SavedValue value;
      if (!DecodeValue(encoded, true, value)) continue;
      // From a legacy backup only the values that name no program, handler or icon that
      // Explorer would load for every user.
      if (backup.legacy && CompareNoCase(value.name, kNullFileValue) != 0 &&
          CompareNoCase(value.name, kShellNewFileNameValue) != 0)
        continue;
      SetRegData(HKEY_CLASSES_ROOT, shellNewKey, value.name, value.type, value.data, value.bytes);
      if (CompareNoCase(value.name, kShellNewFileNameValue) == 0) fileNameSaved = true;
    }
  }
  if (!keyExisted && HoldsOnly(shellNewKey, kShellNewFileNameValue))
    DeleteRegKey(HKEY_CLASSES_ROOT, shellNewKey);
  else if (!fileNameSaved)
    DeleteRegValue(HKEY_CLASSES_ROOT, shellNewKey, kShellNewFileNameValue);
  SetRegDword(backup.root, backup.key, kShellNewHeldValue, 0u);
}
