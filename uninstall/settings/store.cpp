#include "settings/store.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <utility>

#include "base/array.h"
#include "base/convert.h"
#include "base/outcome.h"
#include "base/owners.h"
#include "base/stringlist.h"
#include "base/text.h"
#include "filesystem/fileops.h"
#include "filesystem/log.h"
#include "filesystem/path.h"
#include "filesystem/secure.h"
#include "settings/registry.h"
#include "settings/textfile.h"

namespace {

constexpr wchar_t kIniFileName[] = L"Ombrix.ini";
constexpr unsigned kFirstBucketCount = 64;
constexpr wchar_t kUserRootPrefix[] = L"HKCU\\";
constexpr wchar_t kMachineRootPrefix[] = L"HKLM\\";
constexpr wchar_t kBinaryPrefix[] = L"bin:";
constexpr wchar_t kGlobalKey[] = L"Global";
constexpr wchar_t kAppDataValue[] = L"AppData";
constexpr wchar_t kIntegrationValue[] = L"Integration";
constexpr wchar_t kSaveSettingsValue[] = L"SaveSettings";
constexpr wchar_t kSettingsFileValue[] = L"SettingsFile";

struct SearchPlaces {
  bool overridden = false;
  // The store setup recorded: the ini file's path, or empty for the registry.
  bool recorded = false;
  wchar_t recordedFile[kPathSize] = {};
  wchar_t programFile[kPathSize] = {};
  wchar_t userFolder[kPathSize] = {};
};
SearchPlaces searchPlaces;
bool loading = false;

// Memory ran out. While loading, the load ends there: the entries parsed so far stay, but they no
// longer stand for the file, which is never written back in this run. At any other time a setting
// could not be kept, and the run cannot go on.
bool Shortfall() {
  if (!loading) MemoryError();
  settingsStore.loadIncomplete = true;
  return false;
}

// Null when the memory is not there.
wchar_t* DuplicateText(const wchar_t* text, unsigned length) {
  wchar_t* copy =
      static_cast<wchar_t*>(std::malloc((static_cast<size_t>(length) + 1) * sizeof(wchar_t)));
  if (!copy) return nullptr;
  if (length) std::memcpy(copy, text, length * sizeof(wchar_t));
  copy[length] = 0;
  return copy;
}

void FreeEntry(IniEntry* entry) {
  std::free(entry->key);
  std::free(entry->value);
  std::free(entry);
}

// FNV-1a over the UTF-16 units.
uint32_t HashKey(const wchar_t* key, unsigned length) {
  uint32_t hash = 2166136261u;
  for (unsigned i = 0; i < length; i++) hash = (hash ^ static_cast<uint16_t>(key[i])) * 16777619u;
  return hash;
}

IniEntry** BucketOf(uint32_t hash) {
  return &settingsStore.buckets[hash & (settingsStore.bucketCount - 1)];
}

IniEntry* FindIndexed(const wchar_t* key, uint32_t hash) {
  if (settingsStore.bucketCount == 0) return nullptr;
  for (IniEntry* entry = *BucketOf(hash); entry; entry = entry->sameBucket)
    if (entry->hash == hash && std::wcscmp(entry->key, key) == 0) return entry;
  return nullptr;
}

// Keeps at least one bucket per entry, so that a lookup compares about one key.
bool GrowIndex() {
  SettingsStore& store = settingsStore;
  if (store.entryCount < store.bucketCount) return true;
  unsigned count = store.bucketCount ? store.bucketCount * 2 : kFirstBucketCount;
  auto** buckets = static_cast<IniEntry**>(std::calloc(count, sizeof(IniEntry*)));
  if (!buckets) return false;
  for (unsigned i = 0; i < store.bucketCount; i++) {
    while (IniEntry* entry = store.buckets[i]) {
      store.buckets[i] = entry->sameBucket;
      IniEntry** bucket = &buckets[entry->hash & (count - 1)];
      entry->sameBucket = *bucket;
      *bucket = entry;
    }
  }
  std::free(store.buckets);
  store.buckets = buckets;
  store.bucketCount = count;
  return true;
}

void Unindex(IniEntry* entry) {
  for (IniEntry** link = BucketOf(entry->hash); *link; link = &(*link)->sameBucket) {
    if (*link == entry) {
      *link = entry->sameBucket;
      return;
    }
  }
}

// False (see Shortfall) when the memory is not there.
bool AppendEntry(const wchar_t* key, unsigned keyLength, const wchar_t* value,
                 unsigned valueLength, uint32_t kind) {
  SettingsStore& store = settingsStore;
  if (loading && store.entryLimit != 0 && store.entryCount >= store.entryLimit) return Shortfall();
  IniEntry* entry = GrowIndex() ? static_cast<IniEntry*>(std::calloc(1, sizeof(IniEntry))) : nullptr;
  if (!entry) return Shortfall();
  entry->kind = kind;
  entry->hash = HashKey(key, keyLength);
  entry->key = DuplicateText(key, keyLength);
  entry->value = DuplicateText(value, valueLength);
  if (!entry->key || !entry->value) {
    FreeEntry(entry);
    return Shortfall();
  }
  // Only the first entry of a key answers and takes writes, so only it is indexed; deletions
  // always remove every entry of a key together.
  if (!FindIndexed(entry->key, entry->hash)) {
    IniEntry** bucket = BucketOf(entry->hash);
    entry->sameBucket = *bucket;
    *bucket = entry;
  }
  if (store.last)
    store.last->next = entry;
  else
    store.first = entry;
  store.last = entry;
  store.entryCount++;
  return true;
}

IniEntry* FindEntry(const wchar_t* key) { return FindIndexed(key, HashKey(key, TextLength(key))); }

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
    Unindex(entry);
    FreeEntry(entry);
    store.entryCount--;
  }
  store.last = previous;
}

// A key the file cannot hold as written: a line break would split its line, an "=" would move
// the split between key and value.
bool IsWritableKey(const wchar_t* key) { return !std::wcspbrk(key, L"\r\n="); }

void SetEntry(const wchar_t* key, const wchar_t* value, uint32_t kind) {
  if (!value) value = L"";
  if (!IsWritableKey(key)) return;
  // The rest after a line break would be read back as an entry of its own.
  unsigned valueLength = static_cast<unsigned>(std::wcscspn(value, L"\r\n"));
  if (IniEntry* entry = FindEntry(key)) {
    wchar_t* copy = DuplicateText(value, valueLength);
    if (!copy) {
      Shortfall();
      return;
    }
    std::free(entry->value);
    entry->value = copy;
    entry->kind = kind;
    return;
  }
  AppendEntry(key, TextLength(key), value, valueLength, kind);
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

// An entry line begins with an ASCII letter and holds "="; anything else is dropped. False when
// memory ran out.
bool ParseLine(const wchar_t* line) {
  if (!IsAsciiLetter(line[0])) return true;
  const wchar_t* equals = std::wcschr(line, L'=');
  if (!equals) return true;
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
  return AppendEntry(line, static_cast<unsigned>(equals - line), value, valueLength, kind);
}

bool IsExistingFile(const wchar_t* path) {
  unsigned attr = GetFileAttr(path);
  return attr != INVALID_FILE_ATTRIBUTES && !IsDir(attr);
}

// The ini next to the program wins over the one in the per-user data folder.
void FindIniFile(wchar_t* out, unsigned size) {
  if (searchPlaces.recorded) {
    CopyText(out, searchPlaces.recordedFile, size);
    return;
  }
  wchar_t path[kPathSize];
  if (searchPlaces.overridden)
    CopyText(path, searchPlaces.programFile, kPathSize);
  else
    GetProgramFile(path, kPathSize);
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

bool AppendUnits(Array<wchar_t>& out, const wchar_t* text) {
  unsigned length = TextLength(text);
  unsigned used = out.count;
  if (!out.Add(length)) return false;
  if (length) std::memcpy(out.data + used, text, length * sizeof(wchar_t));
  return true;
}

// Sorts by key, stable so that duplicate keys keep the order that decides which one answers:
// runs of doubling width merged back and forth between the entries and a second array (a few
// hundred bytes of code, where the library's stable sort takes kilobytes).
bool SortByKey(Array<IniEntry*>& entries) {
  unsigned count = entries.count;
  Array<IniEntry*> other;
  if (!other.SetSize(count)) return false;
  IniEntry** from = entries.data;
  IniEntry** to = other.data;
  for (unsigned width = 1; width < count; width *= 2) {
    for (unsigned low = 0; low < count; low += 2 * width) {
      unsigned middle = count - low > width ? low + width : count;
      unsigned high = count - middle > width ? middle + width : count;
      for (unsigned at = low, a = low, b = middle; at < high; at++)
        to[at] = a < middle && (b == high || !KeyLess(from[b], from[a])) ? from[a++] : from[b++];
    }
    std::swap(from, to);
  }
  if (from != entries.data) std::memcpy(entries.data, from, count * sizeof *from);
  return true;
}

// The whole file as it is written: the mark, then the entries sorted by key. False when the
// memory for it is not there.
bool FormatIni(Array<wchar_t>& out) {
  Array<IniEntry*> sorted;
  for (IniEntry* entry = settingsStore.first; entry; entry = entry->next)
    if (!sorted.Push(entry)) return false;
  if (!SortByKey(sorted) || !out.Push(0xFEFF)) return false;
  for (unsigned i = 0; i < sorted.count; i++) {
    const IniEntry* entry = sorted[i];
    const wchar_t* quote = entry->kind == kIniQuoted ? L"\"" : L"";
    if (!AppendUnits(out, entry->key) || !AppendUnits(out, L"=") || !AppendUnits(out, quote) ||
        (entry->kind == kIniBinary && !AppendUnits(out, kBinaryPrefix)) ||
        !AppendUnits(out, entry->value) || !AppendUnits(out, quote) ||
        !AppendUnits(out, L"\r\n"))
      return false;
  }
  return true;
}

bool WriteAll(HANDLE file, const void* data, DWORD size) {
  DWORD written = 0;
  return WriteFile(file, data, size, &written, nullptr) && written == size;
}

// Another program holding the old file open without delete sharing refuses its replacement;
// asked first, because ReplaceFileW may fail half-way then (and Wine's leaves a file behind).
bool MayBeReplaced(const wchar_t* iniName) {
  ScopedHandle probe(CreateFileW(iniName, DELETE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  return static_cast<bool>(probe);
}

// Puts the complete new file in the old one's place. ReplaceFileW keeps the old file's
// attributes (hidden), security and streams, which a rename would drop. A link standing at the
// name now (the file the save resolved was exchanged) is neither replaced nor written through.
bool ReplaceWithSaveFile(const wchar_t* ini, const wchar_t* temp) {
  wchar_t iniBuffer[kPathSize], tempBuffer[kPathSize];
  const wchar_t* iniName = WindowsName(ini, iniBuffer);
  const wchar_t* tempName = WindowsName(temp, tempBuffer);
  DWORD attributes = GetFileAttr(iniName);
  if (IsLink(attributes)) return false;
  if (MayBeReplaced(iniName) &&
      ReplaceFileW(iniName, tempName, nullptr,
                   REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr,
                   nullptr)) {
    // Not every implementation carries the attributes over.
    if (attributes != INVALID_FILE_ATTRIBUTES && GetFileAttr(iniName) != attributes)
      SetFileAttributesW(iniName, attributes);
    return true;
  }
  return false;
}

// The way through a new file. False with the old file untouched and the new one deleted, except
// where a replacement that failed half-way removed the old file: the new one is then moved into
// its place, or left under its own name as the only complete copy.
bool SaveThroughNewFile(const wchar_t* ini, const void* data, DWORD size) {
  wchar_t temp[kPathSize];
  ScopedHandle file(CreatePendingFile(ini, temp));
  if (!file) return false;
  bool written = WriteAll(file.get(), data, size) && FlushFileBuffers(file.get()) &&
                 MarkForDeletion(file.get(), false);
  file.reset();
  if (written && ReplaceWithSaveFile(ini, temp)) return true;
  if (written && !FileExist(ini)) {
    wchar_t iniBuffer[kPathSize], tempBuffer[kPathSize];
    MoveFileExW(WindowsName(temp, tempBuffer), WindowsName(ini, iniBuffer), MOVEFILE_WRITE_THROUGH);
    return FileExist(ini) && !FileExist(temp);
  }
  DelFile(temp);
  return false;
}

// Writes the new text over the old one in the file itself, opened with read and write sharing:
// for a folder that takes no new files, and for a file another program holds open without
// delete sharing. The file first grows to the new length, so that the one write that follows
// cannot run out of disk space part-way, and is cut to that length after it.
bool RewriteInPlace(const wchar_t* ini, const void* data, DWORD size) {
  wchar_t buffer[kPathSize];
  ScopedHandle file(CreateFileW(WindowsName(ini, buffer), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_WRITE_THROUGH, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!file || !GetFileInformationByHandle(file.get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)))
    return false;
  LARGE_INTEGER length, start = {};
  length.QuadPart = size;
  uint64_t oldLength = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  if (size > oldLength &&
      (!SetFilePointerEx(file.get(), length, nullptr, FILE_BEGIN) || !SetEndOfFile(file.get())))
    return false;
  return SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN) &&
         WriteAll(file.get(), data, size) && SetEndOfFile(file.get()) &&
         FlushFileBuffers(file.get());
}

// The file a save must write: the ini's own name, or where a link at that name (or a linked
// folder above it) leads, so that the link stays and its target gets the complete text. False
// when the name leads elsewhere and this process is elevated: a standard user may have made the
// link, and an elevated run writes nothing a standard user can point elsewhere.
bool FindSaveTarget(const wchar_t* ini, wchar_t* target) {
  wchar_t buffer[kPathSize], named[kPathSize];
  const wchar_t* name = WindowsName(ini, buffer);
  ScopedHandle file(CreateFileW(name, FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  DWORD length = GetLongPathNameW(name, named, kPathSize);
  if (length == 0 || length >= kPathSize) CopyText(named, name, kPathSize);
  DWORD found = file ? GetFinalPathNameByHandleW(file.get(), target, kPathSize, 0) : 0;
  if (found == 0 || found >= kPathSize) {
    // Nothing to follow: a file that is gone is written anew under its own name.
    CopyText(target, ini, kPathSize);
    return !file;
  }
  // The final name comes in its "\\?\" form; a share's stays "\\?\UNC\...", which names the
  // same file, though never in the ini name's text.
  const wchar_t* plain = SkipLongPrefix(target);
  if (plain != target && plain[1] == L':') std::wmemmove(target, plain, TextLength(plain) + 1);
  if (CompareNoCase(target, SkipLongPrefix(named)) == 0) return true;
  if (!IsProcessElevated()) return true;
  LogLine(L"%s leads to another file: not saved", ini);
  settingsStore.saveRefused = true;
  return false;
}

}  // namespace

SettingsStore settingsStore;

SettingsStore::~SettingsStore() { FreeIni(); }

void RecordSettingsStore(HKEY root, const wchar_t* key) {
  if (!settingsStore.attempted) LoadIni();
  SetRegString(root, key, kSettingsFileValue, settingsStore.active ? settingsStore.iniPath : L"");
}

void FollowRecordedSettingsStore(HKEY root, const wchar_t* key) {
  // Read with no ini file in force, whose switches could drop the request.
  FreeIni();
  settingsStore.attempted = true;
  wchar_t file[kPathSize];
  bool recorded = GetRegString(root, key, kSettingsFileValue, file, L"", kPathSize);
  settingsStore.attempted = false;
  if (!recorded) return;
  searchPlaces.recorded = true;
  CopyText(searchPlaces.recordedFile, file, kPathSize);
}

void SetIniSearchPlaces(const wchar_t* programFile, const wchar_t* userFolder) {
  searchPlaces.recorded = false;
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
  StringList lines;
  bool complete = false;
  if (!ReadTextFile(path, lines, complete)) return;
  // What came after a failed read, or bytes that could not be decoded, would be lost by a save.
  if (!complete) store.loadIncomplete = true;
  loading = true;
  const wchar_t* line;
  while (lines.GetString(&line) && ParseLine(line)) {
  }
  store.active = true;
  ReadSwitches();
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
  Array<wchar_t> content;
  if (!FormatIni(content)) return false;
  DWORD size = content.count * sizeof(wchar_t);
  wchar_t target[kPathSize];
  if (!FindSaveTarget(store.iniPath, target)) return false;
  return SaveThroughNewFile(target, content.data, size) ||
         RewriteInPlace(target, content.data, size);
}

bool SaveIniLast() {
  bool saved = SaveIni();
  settingsStore.saveSettings = 0;
  return saved;
}

void FreeIni() {
  SettingsStore& store = settingsStore;
  while (IniEntry* entry = store.first) {
    store.first = entry->next;
    FreeEntry(entry);
  }
  store.last = nullptr;
  store.entryCount = 0;
  std::free(store.buckets);
  store.buckets = nullptr;
  store.bucketCount = 0;
  store.active = false;
  store.attempted = false;
  store.loadIncomplete = false;
  store.saveRefused = false;
  store.appData = store.integration = store.saveSettings = 1;
}

void ResetSettingsStore() {
  FreeIni();
  SetIniSearchPlaces(nullptr, nullptr);
  settingsStore.entryLimit = 0;
  loading = false;
}

bool IntegrationAllowed() {
  if (!settingsStore.attempted) LoadIni();
  return settingsStore.integration != 0;
}
