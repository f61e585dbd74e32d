#include "settings/registry.h"

#include <new>

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

using NtDeleteKeyFunction = LONG(NTAPI*)(HANDLE);
using NtStatusToErrorFunction = ULONG(NTAPI*)(LONG);

// What every key open of this layer passes through: the tests' denials and the counts.
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

// Keys kept open while a RegBatch lives. A handle opened for reading is opened for writing as well
// where that is allowed, so that a key read and then written is opened once. What the batch knows
// also answers for keys it never opens: a key below one known to be missing is missing, and so is
// a key below one this batch created new, unless the batch created something at or below it.
constexpr unsigned kCachedKeyLimit = 320;
constexpr REGSAM kCachedAccess = KEY_READ | KEY_WRITE;

struct CachedKey {
  HKEY root;
  REGSAM view;
  unsigned hash;
  bool missing;     // known to be missing; otherwise it exists, open when key is set
  bool writable;
  bool createdNew;  // created by this batch where no key was
  HKEY key;
  wchar_t path[kRegPathSize];
};

struct KeyBatch {
  unsigned depth = 0;
  CachedKey* keys = nullptr;  // kCachedKeyLimit of them while a batch lives
  unsigned count = 0;
  // Every key the batch created is among the entries: false once one found no room.
  bool complete = true;
};
KeyBatch keyBatch;

// Paths compare without case; the hash folds ASCII case only and serves as a quick filter.
unsigned PathHash(const wchar_t* path) {
  unsigned hash = 2166136261u;
  for (; *path; path++) hash = (hash ^ AsciiUpper(*path)) * 16777619u;
  return hash;
}

// Whether path is base or lies below it.
bool IsAtOrBelow(const wchar_t* path, const wchar_t* base) {
  unsigned length = TextLength(base);
  return CompareNoCaseN(path, base, length) == 0 && (path[length] == 0 || path[length] == L'\\');
}

bool IsBelow(const wchar_t* path, const wchar_t* base) {
  return IsAtOrBelow(path, base) && path[TextLength(base)] != 0;
}

CachedKey* FindCachedKey(HKEY root, REGSAM view, const wchar_t* path, unsigned hash) {
  for (unsigned i = 0; i < keyBatch.count; i++) {
    CachedKey& entry = keyBatch.keys[i];
    if (entry.root == root && entry.view == view && entry.hash == hash &&
        CompareNoCase(entry.path, path) == 0)
      return &entry;
  }
  return nullptr;
}

// Whether the batch knows, without asking the registry, that the key is missing.
bool IsKnownMissing(HKEY root, REGSAM view, const wchar_t* path) {
  bool belowNewKey = false;
  for (unsigned i = 0; i < keyBatch.count; i++) {
    const CachedKey& entry = keyBatch.keys[i];
    if (entry.root != root || entry.view != view) continue;
    if (entry.missing && IsAtOrBelow(path, entry.path)) return true;
    if (entry.createdNew && IsBelow(path, entry.path)) belowNewKey = true;
  }
  if (!belowNewKey || !keyBatch.complete) return false;
  // Views share most keys, so a key made through either one counts.
  for (unsigned i = 0; i < keyBatch.count; i++) {
    const CachedKey& entry = keyBatch.keys[i];
    if (entry.root == root && !entry.missing && IsAtOrBelow(entry.path, path)) return false;
  }
  return true;
}

void DropCachedKey(unsigned index) {
  CachedKey& entry = keyBatch.keys[index];
  if (entry.key) RegCloseKey(entry.key);
  entry = keyBatch.keys[--keyBatch.count];
}

// Before a deletion: drops the entries (of any view) at or below path. Keys created new above it
// may now hold keys the batch has no entry for (those between them and path), so they no longer
// answer for their subkeys.
void ForgetDeletedKeys(HKEY root, const wchar_t* path) {
  for (unsigned i = keyBatch.count; i-- > 0;) {
    CachedKey& entry = keyBatch.keys[i];
    if (entry.root != root) continue;
    if (IsAtOrBelow(entry.path, path))
      DropCachedKey(i);
    else if (IsBelow(path, entry.path))
      entry.createdNew = false;
  }
}

// After a creation: the missing keys at path or above it exist now, made by this batch; in
// another view they may or may not.
void NoteCreatedAncestors(HKEY root, REGSAM view, const wchar_t* path) {
  for (unsigned i = keyBatch.count; i-- > 0;) {
    CachedKey& entry = keyBatch.keys[i];
    if (entry.root != root || !entry.missing || !IsAtOrBelow(path, entry.path)) continue;
    if (entry.view != view) {
      DropCachedKey(i);
      continue;
    }
    entry.missing = false;
    entry.createdNew = true;
  }
}

// Takes over key (null for a missing key) when there is room; false leaves it with the caller.
// A key once created new stays so.
bool CacheKey(HKEY root, REGSAM view, const wchar_t* path, unsigned hash, HKEY key,
              bool writable, bool createdNew) {
  CachedKey* entry = FindCachedKey(root, view, path, hash);
  if (entry) {
    if (entry->key) RegCloseKey(entry->key);
    createdNew = createdNew || (key && entry->createdNew);
  } else {
    if (keyBatch.count == kCachedKeyLimit) return false;
    entry = &keyBatch.keys[keyBatch.count++];
    entry->root = root;
    entry->view = view;
    entry->hash = hash;
    CopyText(entry->path, path, kRegPathSize);
  }
  entry->key = key;
  entry->missing = !key;
  entry->writable = writable;
  entry->createdNew = createdNew;
  return true;
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

LONG CreateKey(HKEY root, const wchar_t* path, REGSAM access, ScopedKey& key,
               DWORD* disposition = nullptr) {
  key.reset();
  if (IsDenied(root, path)) return ERROR_ACCESS_DENIED;
  registryAccess.counts.creations++;
  LONG error = RegCreateKeyExW(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                               key.put(), disposition);
  if (error != ERROR_SUCCESS) key.release();
  return error;
}

// The key a request works on: the batch's open handle, or one opened for this request alone.
struct KeyUse {
  ScopedKey owned;
  HKEY key = nullptr;
};

// Opens a key for the batch and keeps it (or the fact that it is missing) when there is room.
LONG OpenCachedKey(HKEY root, const wchar_t* path, REGSAM view, unsigned hash, KeyUse& use) {
  LONG error = ERROR_ACCESS_DENIED;
  if (!IsDenied(root, path)) error = OpenKey(root, path, kCachedAccess | view, use.owned);
  bool writable = error == ERROR_SUCCESS;
  // A key this process may not change is still read.
  if (error == ERROR_ACCESS_DENIED) error = OpenKey(root, path, KEY_READ | view, use.owned);
  use.key = use.owned.get();
  if ((error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND) &&
      CacheKey(root, view, path, hash, use.key, writable, false))
    use.owned.release();
  return error;
}

// For reads and existence tests; view is 0 or a KEY_WOW64_* flag.
LONG UseKeyToRead(HKEY root, const wchar_t* path, REGSAM view, REGSAM access, KeyUse& use) {
  if (!keyBatch.keys) {
    LONG error = OpenKey(root, path, access | view, use.owned);
    use.key = use.owned.get();
    return error;
  }
  unsigned hash = PathHash(path);
  CachedKey* entry = FindCachedKey(root, view, path, hash);
  if (entry && (entry->key || entry->missing)) {
    use.key = entry->key;
    return entry->key ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  }
  if (!entry && IsKnownMissing(root, view, path)) {
    CacheKey(root, view, path, hash, nullptr, false, false);
    return ERROR_FILE_NOT_FOUND;
  }
  LONG error = OpenCachedKey(root, path, view, hash, use);
  if (error != ERROR_FILE_NOT_FOUND) return error;
  // Keys are mostly read in groups of siblings (a program's settings, a type's subkeys): when
  // the parent is missing too, the batch knows the rest of the group without opening them.
  wchar_t parent[kRegPathSize];
  CopyText(parent, path, kRegPathSize);
  wchar_t* name = parent + TextLength(parent);
  while (name > parent && name[-1] != L'\\') name--;
  if (name == parent) return error;
  name[-1] = 0;
  unsigned parentHash = PathHash(parent);
  if (!FindCachedKey(root, view, parent, parentHash) && !IsKnownMissing(root, view, parent)) {
    KeyUse parentUse;
    OpenCachedKey(root, parent, view, parentHash, parentUse);
  }
  return error;
}

LONG UseKeyToWrite(HKEY root, const wchar_t* path, REGSAM view, KeyUse& use) {
  if (!keyBatch.keys) {
    LONG error = CreateKey(root, path, KEY_WRITE | view, use.owned);
    use.key = use.owned.get();
    return error;
  }
  unsigned hash = PathHash(path);
  CachedKey* entry = FindCachedKey(root, view, path, hash);
  if (entry && entry->key && entry->writable && !IsDenied(root, path)) {
    use.key = entry->key;
    return ERROR_SUCCESS;
  }
  DWORD disposition = 0;
  LONG error = CreateKey(root, path, kCachedAccess | view, use.owned, &disposition);
  use.key = use.owned.get();
  if (error != ERROR_SUCCESS) return error;
  NoteCreatedAncestors(root, view, path);
  if (CacheKey(root, view, path, hash, use.key, true, disposition == REG_CREATED_NEW_KEY))
    use.owned.release();
  else
    keyBatch.complete = false;
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

DWORD SetRegValue(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD type,
                  const void* data, DWORD bytes) {
  wchar_t path[kRegPathSize];
  if (!BuildRegPath(root, subkey, path, kRegPathSize)) return ERROR_FILENAME_EXCED_RANGE;
  if (!TakeRegChange()) return ERROR_CANCELLED;
  KeyUse use;
  LONG error = UseKeyToWrite(root, path, RegView, use);
  if (error != ERROR_SUCCESS) return static_cast<DWORD>(error);
  return static_cast<DWORD>(
      RegSetValueExW(use.key, name, 0, type, static_cast<const BYTE*>(data), bytes));
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
  KeyUse use;
  if (UseKeyToRead(root, path, 0, KEY_QUERY_VALUE, use) != ERROR_SUCCESS) return false;
  // A kept handle outlives a deletion made through another root (HKCR and the Classes keys).
  return RegQueryInfoKeyW(use.key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

DWORD GetRegDword(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD defaultValue) {
  DWORD value;
  if (IniGetNumber(root, subkey, name, defaultValue, value)) return value;
  wchar_t path[kRegPathSize];
  if (!BuildRegPath(root, subkey, path, kRegPathSize)) return defaultValue;
  KeyUse use;
  if (UseKeyToRead(root, path, RegView, kReadAccess, use) != ERROR_SUCCESS) return defaultValue;
  DWORD data = 0, bytes = sizeof data;
  if (RegQueryValueExW(use.key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&data),
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
  KeyUse use;
  if (UseKeyToRead(root, path, RegView, kReadAccess, use) != ERROR_SUCCESS) return false;
  DWORD bytes = size * sizeof(wchar_t);
  if (RegQueryValueExW(use.key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer),
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
  if (keyBatch.keys) {
    if (IsKnownMissing(root, 0, path)) return ERROR_FILE_NOT_FOUND;
    // A key this batch created is no link.
    CachedKey* entry = FindCachedKey(root, 0, path, PathHash(path));
    if (entry && entry->key && entry->writable && entry->createdNew)
      return static_cast<DWORD>(RegDeleteValueW(entry->key, name));
  }
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
  if (keyBatch.keys) {
    if (IsKnownMissing(root, RegView, path)) return ERROR_FILE_NOT_FOUND;
    ForgetDeletedKeys(root, path);
  }
  return static_cast<DWORD>(DeleteKeyAt(root, path, RegView));
}

DWORD DeleteRegTree(HKEY root, const wchar_t* subkey) {
  if (IniDelete(root, subkey, nullptr)) return ERROR_SUCCESS;
  wchar_t path[kRegPathSize];
  if (!BuildRegPath(root, subkey, path, kRegPathSize)) return ERROR_FILENAME_EXCED_RANGE;
  if (!path[0]) return ERROR_INVALID_PARAMETER;
  if (!TakeRegChange()) return ERROR_CANCELLED;
  if (keyBatch.keys) {
    if (IsKnownMissing(root, 0, path)) return ERROR_FILE_NOT_FOUND;
    ForgetDeletedKeys(root, path);
  }
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
  KeyUse use;
  LONG error = UseKeyToRead(root, path, RegView, kReadAccess, use);
  if (error != ERROR_SUCCESS) return static_cast<DWORD>(error);
  return static_cast<DWORD>(
      RegQueryValueExW(use.key, name, nullptr, type, static_cast<BYTE*>(data), bytes));
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
  KeyUse use;
  if (UseKeyToRead(root, path, RegView, kReadAccess, use) != ERROR_SUCCESS)
    return ERROR_NO_MORE_ITEMS;
  DWORD length = nameSize;
  LONG error = RegEnumValueW(use.key, index, name, &length, nullptr, type,
                             static_cast<BYTE*>(data), bytes);
  name[length < nameSize ? length : nameSize - 1] = 0;
  return static_cast<DWORD>(error);
}

bool CountRegKeyContents(HKEY root, const wchar_t* subkey, DWORD* subkeys, DWORD* values) {
  wchar_t path[kRegPathSize];
  if (StoreTakesKey(root, subkey) || !BuildRegPath(root, subkey, path, kRegPathSize))
    return false;
  KeyUse use;
  return UseKeyToRead(root, path, RegView, kReadAccess, use) == ERROR_SUCCESS &&
         RegQueryInfoKeyW(use.key, nullptr, nullptr, nullptr, subkeys, nullptr, nullptr, values,
                          nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

void SetRegChangeLimit(unsigned changes) { regChangesLeft = changes; }

RegKeyCounts GetRegKeyCounts() { return registryAccess.counts; }

void ResetRegKeyCounts() { registryAccess.counts = {}; }

RegBatch::RegBatch() {
  if (keyBatch.depth++ > 0) return;
  // Without the memory every request opens its own key, as outside a batch.
  keyBatch.keys = new (std::nothrow) CachedKey[kCachedKeyLimit];
  keyBatch.count = 0;
  keyBatch.complete = true;
}

RegBatch::~RegBatch() {
  if (--keyBatch.depth > 0) return;
  while (keyBatch.count > 0) DropCachedKey(keyBatch.count - 1);
  delete[] keyBatch.keys;
  keyBatch.keys = nullptr;
}

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
