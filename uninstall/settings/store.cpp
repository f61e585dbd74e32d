#include "settings/store.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "filesystem/file.h"
#include "filesystem/fileops.h"
#include "localisation/array.h"
#include "localisation/convert.h"
#include "localisation/errors.h"
#include "localisation/stringlist.h"
#include "localisation/text.h"
#include "settings/textfile.h"

namespace {

constexpr wchar_t kIniFileName[] = L"Ombrix.ini";
// The new content is written under this suffix beside the old file, then moved over it.
constexpr wchar_t kIniTempSuffix[] = L".new";
constexpr wchar_t kUserRootPrefix[] = L"HKCU\\";
constexpr wchar_t kMachineRootPrefix[] = L"HKLM\\";
constexpr wchar_t kBinaryPrefix[] = L"bin:";
constexpr wchar_t kGlobalKey[] = L"Global";
constexpr wchar_t kAppDataValue[] = L"AppData";
constexpr wchar_t kIntegrationValue[] = L"Integration";
constexpr wchar_t kSaveSettingsValue[] = L"SaveSettings";

struct SearchPlaces {
  bool overridden = false;
  wchar_t programFile[kPathSize] = {};
  wchar_t userFolder[kPathSize] = {};
};
SearchPlaces searchPlaces;
bool loading = false;

wchar_t* DuplicateText(const wchar_t* text, unsigned length) {
  wchar_t* copy = static_cast<wchar_t*>(std::malloc((static_cast<size_t>(length) + 1) * sizeof(wchar_t)));
  if (!copy) MemoryError();
  if (length) std::memcpy(copy, text, length * sizeof(wchar_t));
  copy[length] = 0;
  return copy;
}

void FreeEntry(IniEntry* entry) {
  std::free(entry->key);
  std::free(entry->value);
  std::free(entry);
}

void AppendEntry(const wchar_t* key, unsigned keyLength, const wchar_t* value,
                 unsigned valueLength, uint32_t kind) {
  SettingsStore& store = settingsStore;
  if (loading && store.entryLimit != 0 && store.entryCount >= store.entryLimit) MemoryError();
  IniEntry* entry = static_cast<IniEntry*>(std::malloc(sizeof(IniEntry)));
  if (!entry) MemoryError();
  entry->key = nullptr;
  entry->value = nullptr;
  entry->kind = kind;
  entry->next = nullptr;
  try {
    entry->key = DuplicateText(key, keyLength);
    entry->value = DuplicateText(value, valueLength);
  } catch (OBX_EXIT) {
    FreeEntry(entry);
    throw;
  }
  if (store.last)
    store.last->next = entry;
  else
    store.first = entry;
  store.last = entry;
  store.entryCount++;
}

IniEntry* FindEntry(const wchar_t* key) {
  for (IniEntry* entry = settingsStore.first; entry; entry = entry->next)
    if (std::wcscmp(entry->key, key) == 0) return entry;
  return nullptr;
}

bool StartsWith(const wchar_t* text, const wchar_t* prefix) {
  return std::wcsncmp(text, prefix, std::wcslen(prefix)) == 0;
}

// Removes every entry whose key equals key, or begins with it when wholePrefix is set.
void RemoveEntries(const wchar_t* key, bool wholePrefix) {
  SettingsStore& store = settingsStore;
  IniEntry* previous = nullptr;
  IniEntry** link = &store.first;
  while (IniEntry* entry = *link) {
    bool match = wholePrefix ? StartsWith(entry->key, key) : std::wcscmp(entry->key, key) == 0;
    if (!match) {
      previous = entry;
      link = &entry->next;
      continue;
    }
    *link = entry->next;
    FreeEntry(entry);
    store.entryCount--;
  }
  store.last = previous;
}

void SetEntry(const wchar_t* key, const wchar_t* value, uint32_t kind) {
  if (!value) value = L"";
  if (IniEntry* entry = FindEntry(key)) {
    wchar_t* copy = DuplicateText(value, TextLength(value));
    std::free(entry->value);
    entry->value = copy;
    entry->kind = kind;
    return;
  }
  AppendEntry(key, TextLength(key), value, TextLength(value), kind);
}

void SetNumberEntry(const wchar_t* key, DWORD value) {
  wchar_t text[24];
  Int64ToText(static_cast<int64_t>(value), text, 24);
  SetEntry(key, text, kIniPlain);
}

DWORD NumberOf(const wchar_t* key, DWORD defaultValue) {
  IniEntry* entry = FindEntry(key);
  return entry ? static_cast<DWORD>(ParseInt64(entry->value)) : defaultValue;
}

// An entry line begins with an ASCII letter and holds "="; anything else is dropped.
void ParseLine(const wchar_t* line) {
  if (!IsAsciiLetter(line[0])) return;
  const wchar_t* equals = std::wcschr(line, L'=');
  if (!equals) return;
  const wchar_t* value = equals + 1;
  unsigned valueLength = TextLength(value);
  uint32_t kind = kIniPlain;
  if (value[0] == L'"') {
    kind = kIniQuoted;
    value++;
    valueLength--;
    if (valueLength > 0 && value[valueLength - 1] == L'"') valueLength--;
  } else if (StartsWith(value, kBinaryPrefix)) {
    kind = kIniBinary;
    value += 4;
    valueLength -= 4;
  }
  AppendEntry(line, static_cast<unsigned>(equals - line), value, valueLength, kind);
}

void GetStoreModuleFile(wchar_t* out, unsigned size) {
  out[0] = 0;
  // No reference is taken, so there is nothing to release.
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&GetStoreModuleFile), &module))
    return;
  DWORD length = GetModuleFileNameW(module, out, size);
  if (length == 0 || length >= size) out[0] = 0;  // a cut name would point elsewhere
}

bool IsExistingFile(const wchar_t* path) {
  unsigned attr = GetFileAttr(path);
  return attr != INVALID_FILE_ATTRIBUTES && !IsDir(attr);
}

// The ini next to the program wins over the one in the per-user data folder.
void FindIniFile(wchar_t* out, unsigned size) {
  wchar_t path[kPathSize];
  if (searchPlaces.overridden)
    CopyText(path, searchPlaces.programFile, kPathSize);
  else
    GetStoreModuleFile(path, kPathSize);
  if (path[0]) {
    SetName(path, kIniFileName, kPathSize);
    if (IsExistingFile(path)) {
      CopyText(out, path, size);
      return;
    }
  }
  wchar_t folder[kPathSize];
  bool folderExists;
  if (searchPlaces.overridden) {
    CopyText(folder, searchPlaces.userFolder, kPathSize);
    folderExists = folder[0] && FileExist(folder);
  } else {
    folderExists = GetAppDataFolder(folder, kPathSize);
  }
  out[0] = 0;
  if (folderExists) MakeName(folder, kIniFileName, out, size);
}

void ReadSwitches() {
  SettingsStore& store = settingsStore;
  wchar_t key[kIniKeySize];
  const wchar_t* names[] = {kAppDataValue, kIntegrationValue, kSaveSettingsValue};
  uint32_t* fields[] = {&store.appData, &store.integration, &store.saveSettings};
  for (int i = 0; i < 3; i++) {
    MakeIniKey(nullptr, kGlobalKey, names[i], key, kIniKeySize);
    *fields[i] = NumberOf(key, 1);
    SetNumberEntry(key, *fields[i]);  // a saved file always carries the switches
  }
}

bool IsIniRoot(HKEY root) {
  return root == nullptr || root == HKEY_CURRENT_USER || root == HKEY_LOCAL_MACHINE;
}

// Requests the ini file does not answer are dropped exactly when integration is off.
bool Vetoed() { return settingsStore.integration == 0; }

int CompareKeys(const wchar_t* a, const wchar_t* b) {
  for (;; a++, b++) {
    unsigned ca = static_cast<unsigned short>(*a), cb = static_cast<unsigned short>(*b);
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
}

bool KeyLess(const IniEntry* a, const IniEntry* b) { return CompareKeys(a->key, b->key) < 0; }

void AppendUnits(Array<wchar_t>& out, const wchar_t* text) {
  unsigned length = TextLength(text);
  unsigned used = out.count;
  out.Add(length);
  if (length) std::memcpy(out.data + used, text, length * sizeof(wchar_t));
}

// The whole file as it is written: the mark, then the entries sorted by key.
void FormatIni(Array<wchar_t>& out) {
  Array<IniEntry*> sorted;
  for (IniEntry* entry = settingsStore.first; entry; entry = entry->next) sorted.Push(entry);
  // Stable, so duplicate keys keep the order that decides which one answers.
  std::stable_sort(sorted.data, sorted.data + sorted.count, KeyLess);
  out.Push(0xFEFF);
  for (unsigned i = 0; i < sorted.count; i++) {
    const IniEntry* entry = sorted[i];
    AppendUnits(out, entry->key);
    AppendUnits(out, L"=");
    if (entry->kind == kIniQuoted) AppendUnits(out, L"\"");
    if (entry->kind == kIniBinary) AppendUnits(out, kBinaryPrefix);
    AppendUnits(out, entry->value);
    if (entry->kind == kIniQuoted) AppendUnits(out, L"\"");
    AppendUnits(out, L"\r\n");
  }
}

bool MoveOver(const wchar_t* from, const wchar_t* to) {
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  if (MoveFileExW(from, to, flags)) return true;
  wchar_t longFrom[kPathSize], longTo[kPathSize];
  if (!MakeLongPath(from, longFrom, kPathSize) || !MakeLongPath(to, longTo, kPathSize))
    return false;
  return MoveFileExW(longFrom, longTo, flags) != 0;
}

}  // namespace

SettingsStore settingsStore;

SettingsStore::~SettingsStore() {
  SaveIni();
  FreeIni();
}

void SetIniSearchPlaces(const wchar_t* programFile, const wchar_t* userFolder) {
  searchPlaces.overridden = programFile != nullptr || userFolder != nullptr;
  CopyText(searchPlaces.programFile, programFile ? programFile : L"", kPathSize);
  CopyText(searchPlaces.userFolder, userFolder ? userFolder : L"", kPathSize);
}

bool MakeIniKey(HKEY root, const wchar_t* subkey, const wchar_t* name, wchar_t* out,
                unsigned size) {
  if (size == 0) return false;
  const wchar_t* prefix = root == HKEY_CURRENT_USER    ? kUserRootPrefix
                          : root == HKEY_LOCAL_MACHINE ? kMachineRootPrefix
                                                       : L"";
  if (!subkey) subkey = L"";
  if (!name) name = L"";
  unsigned length = TextLength(prefix) + TextLength(subkey) + TextLength(name);
  CopyText(out, prefix, size);
  AppendText(out, subkey, size);
  unsigned sofar = TextLength(out);
  if (sofar > 0 && out[sofar - 1] != L'\\') {
    AppendText(out, L"\\", size);
    length++;
  }
  AppendText(out, name, size);
  return length < size;
}

void LoadIni() {
  SettingsStore& store = settingsStore;
  if (store.attempted) return;
  store.attempted = true;
  wchar_t path[kPathSize];
  FindIniFile(path, kPathSize);
  if (!path[0] || !IsExistingFile(path)) return;
  CopyText(store.iniPath, path, kPathSize);
  loading = true;
  try {
    StringList lines;
    if (!ReadTextFile(path, lines)) {
      loading = false;
      return;
    }
    const wchar_t* line;
    while (lines.GetString(&line)) ParseLine(line);
  } catch (OBX_EXIT) {
    // The error handler has recorded the exhausted memory; go on with what was parsed, but never
    // write the partial content over the user's file.
    store.loadIncomplete = true;
  }
  store.active = true;
  try {
    ReadSwitches();
  } catch (OBX_EXIT) {
    store.loadIncomplete = true;
  }
  loading = false;
}

bool UsesIni(HKEY root, const wchar_t* subkey) {
  if (!settingsStore.attempted) LoadIni();
  return settingsStore.active && IsIniRoot(root) && !(subkey && subkey[0] == L'\\');
}

bool IniGetNumber(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD defaultValue,
                  DWORD& value) {
  value = defaultValue;
  if (!UsesIni(root, subkey)) return Vetoed();
  wchar_t key[kIniKeySize];
  MakeIniKey(root, subkey, name, key, kIniKeySize);
  value = NumberOf(key, defaultValue);
  return true;
}

bool IniFind(HKEY root, const wchar_t* subkey, const wchar_t* name, const wchar_t** value) {
  *value = nullptr;
  if (!UsesIni(root, subkey)) return Vetoed();
  wchar_t key[kIniKeySize];
  MakeIniKey(root, subkey, name, key, kIniKeySize);
  if (IniEntry* entry = FindEntry(key)) *value = entry->value;
  return true;
}

bool IniSet(HKEY root, const wchar_t* subkey, const wchar_t* name, const wchar_t* text,
            IniKind kind) {
  if (!UsesIni(root, subkey)) return Vetoed();
  wchar_t key[kIniKeySize];
  MakeIniKey(root, subkey, name, key, kIniKeySize);
  SetEntry(key, text, kind);
  return true;
}

bool IniSetNumber(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD value) {
  if (!UsesIni(root, subkey)) return Vetoed();
  wchar_t key[kIniKeySize];
  MakeIniKey(root, subkey, name, key, kIniKeySize);
  SetNumberEntry(key, value);
  return true;
}

bool IniDelete(HKEY root, const wchar_t* subkey, const wchar_t* name) {
  if (!UsesIni(root, subkey)) return Vetoed();
  wchar_t key[kIniKeySize];
  // A cut key could be the prefix of entries that were never meant.
  if (MakeIniKey(root, subkey, name, key, kIniKeySize)) RemoveEntries(key, name == nullptr);
  return true;
}

bool IniKeyExists(HKEY root, const wchar_t* subkey, bool& exists) {
  exists = false;
  if (!UsesIni(root, subkey)) return Vetoed();
  wchar_t prefix[kIniKeySize];
  MakeIniKey(root, subkey, nullptr, prefix, kIniKeySize);
  for (IniEntry* entry = settingsStore.first; entry && !exists; entry = entry->next)
    exists = StartsWith(entry->key, prefix);
  return true;
}

bool SaveIni() {
  SettingsStore& store = settingsStore;
  if (!store.active || store.saveSettings == 0 || store.loadIncomplete) return false;
  wchar_t temp[kPathSize];
  CopyText(temp, store.iniPath, kPathSize);
  if (TextLength(temp) + TextLength(kIniTempSuffix) >= kPathSize) return false;
  AppendText(temp, kIniTempSuffix, kPathSize);
  Array<wchar_t> content;
  FormatIni(content);
  {
    File file;
    if (!file.Create(temp, File::kCreateShareRead)) return false;
    // A file left open here is deleted by its destructor, so a failed write leaves no trace.
    if (!file.Write(content.data, content.count * sizeof(wchar_t))) return false;
    if (!file.Close()) {
      DelFile(temp);
      return false;
    }
  }
  if (MoveOver(temp, store.iniPath)) return true;
  DelFile(temp);
  return false;
}

void FreeIni() {
  SettingsStore& store = settingsStore;
  while (IniEntry* entry = store.first) {
    store.first = entry->next;
    FreeEntry(entry);
  }
  store.last = nullptr;
  store.entryCount = 0;
  store.active = false;
  store.attempted = false;
  store.loadIncomplete = false;
  store.appData = store.integration = store.saveSettings = 1;
}

bool IntegrationAllowed() {
  if (!settingsStore.attempted) LoadIni();
  return settingsStore.integration != 0;
}
