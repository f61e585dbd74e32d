#include "settings/registry.h"

#include "base/convert.h"
#include "base/owners.h"
#include "base/procaddress.h"
#include "base/product.h"
#include "base/text.h"
#include "filesystem/log.h"
#include "filesystem/secure.h"
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
// The value that makes a key a registry link.
constexpr wchar_t kLinkValue[] = L"SymbolicLinkValue";

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

// Whether path is base or lies below it (whole components, case ignored).
bool IsAtOrBelow(const wchar_t* path, const wchar_t* base) {
  unsigned length = TextLength(base);
  return CompareNoCaseN(path, base, length) == 0 && (path[length] == 0 || path[length] == L'\\');
}

bool IsDenied(HKEY root, const wchar_t* path) {
  for (unsigned i = 0; i < registryAccess.denialCount; i++) {
    const RegistryDenial& denial = registryAccess.denials[i];
    if (denial.root == root && (!denial.path[0] || IsAtOrBelow(path, denial.path))) return true;
  }
  return false;
}

// Keys kept open while a RegBatch lives. A handle opened for reading is opened for writing as well
// where that is allowed, so that a key read and then written is opened once. A key below one
// known to be missing is missing without being opened, and so is one below a key the batch
// created new, unless the batch has created something at or below it since (every creation goes
// through the batch and is kept, so a kept entry is the only way such a key can exist).
constexpr unsigned kCachedKeyLimit = 320;
constexpr REGSAM kCachedAccess = KEY_READ | KEY_WRITE;

struct CachedKey {
  HKEY root;
  REGSAM view;
  HKEY key;  // null: known to be missing
  bool writable;
  bool createdNew;  // had no subkeys when the batch created it
  wchar_t path[kRegPathSize];
};

// All zero until a batch starts, so that it takes no room in the program file.
struct KeyBatch {
  unsigned depth;
  unsigned count;
  // A creation that found no room to be kept: a new key's subkeys are then unknown.
  bool creationUnkept;
  CachedKey keys[kCachedKeyLimit];
};
KeyBatch keyBatch;

// The entry for the key, or (with `missing`) for a missing key at or above it.
CachedKey* FindCachedKey(HKEY root, REGSAM view, const wchar_t* path, bool missing) {
  for (unsigned i = 0; i < keyBatch.count; i++) {
    CachedKey& entry = keyBatch.keys[i];
    if (entry.root == root && entry.view == view &&
        (CompareNoCase(entry.path, path) == 0 ||
         (missing && !entry.key && IsAtOrBelow(path, entry.path))))
      return &entry;
  }
  return nullptr;
}

// Whether path lies below a key this batch created new and nothing kept lies at or below it.
bool IsBelowNewKey(HKEY root, REGSAM view, const wchar_t* path) {
  if (keyBatch.creationUnkept) return false;
  bool belowNew = false;
  for (unsigned i = 0; i < keyBatch.count; i++) {
    const CachedKey& entry = keyBatch.keys[i];
    if (entry.root != root || !entry.key) continue;
    // Kept in any view: the views may be the same keys.
    if (IsAtOrBelow(entry.path, path)) return false;
    if (entry.createdNew && entry.view == view && IsAtOrBelow(path, entry.path)) belowNew = true;
  }
  return belowNew;
}

bool IsKnownMissing(HKEY root, REGSAM view, const wchar_t* path) {
  CachedKey* entry = FindCachedKey(root, view, path, true);
  if (entry) return !entry->key;
  return IsBelowNewKey(root, view, path);
}

// Before a change at path, in any view: a deletion drops the entries at or below it; a creation
// those at or above it that it makes wrong (missing keys) or that it replaces (the key itself,
// kept for reading only). A null root drops every entry. A deletion may leave keys it could not
// delete, so the keys above it no longer answer for their subkeys.
void ForgetCachedKeys(HKEY root, const wchar_t* path, bool deleted) {
  if (!root) keyBatch.creationUnkept = false;
  for (unsigned i = keyBatch.count; i-- > 0;) {
    CachedKey& entry = keyBatch.keys[i];
    if (deleted && root && entry.root == root && IsAtOrBelow(path, entry.path))
      entry.createdNew = false;
    if (!root || (entry.root == root && (deleted ? IsAtOrBelow(entry.path, path)
                                                 : !entry.writable &&
                                                       IsAtOrBelow(path, entry.path)))) {
      if (entry.key) RegCloseKey(entry.key);
      entry = keyBatch.keys[--keyBatch.count];
    }
  }
}

// "Software\Classes\" and a full path below the classes root.
constexpr unsigned kSystemPathSize = kRegPathSize + 17;

// Where Windows is asked for name below from: out gets name, and the root to ask is returned.
// An elevated run reads and changes the machine's classes themselves: in HKEY_CLASSES_ROOT
// Windows hands a request to the user's own key of that name where there is one, and any process
// of the user can make one, so the machine-wide writes would land there and the backups saved
// for every user would come from there.
HKEY SystemRoot(HKEY from, const wchar_t* name, wchar_t* out) {
  if (from != HKEY_CLASSES_ROOT || !IsProcessElevated()) {
    CopyText(out, name, kSystemPathSize);
    return from;
  }
  FormatText(out, kSystemPathSize, L"%s\\%s", L"Software\\Classes", name);
  return HKEY_LOCAL_MACHINE;
}

// Opens name below from (root itself or a key below it); path is the same key's full path below
// root, which the denials compare.
LONG OpenKeyAt(HKEY root, const wchar_t* path, HKEY from, const wchar_t* name, DWORD options,
               REGSAM access, ScopedKey& key) {
  key.reset();
  if ((access & kWriteRights) && IsDenied(root, path)) return ERROR_ACCESS_DENIED;
  registryAccess.counts.opens++;
  wchar_t system[kSystemPathSize];
  from = SystemRoot(from, name, system);
  LONG error = RegOpenKeyExW(from, system, options, access, key.put());
  if (error != ERROR_SUCCESS) key.release();
  return error;
}

LONG OpenKey(HKEY root, const wchar_t* path, REGSAM access, ScopedKey& key) {
  return OpenKeyAt(root, path, root, path, 0, access, key);
}

// Whether the key, opened as itself, is a registry link.
bool IsLinkKey(HKEY key) {
  DWORD type = REG_NONE;
  return RegQueryValueExW(key, kLinkValue, nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
         type == REG_LINK;
}

// Creates or opens the key. Below the user's root and the classes root, where a process without
// administrator rights can make keys of its own (in the classes root, those of the user's part
// shadow the machine's), each component is opened or created as itself below the one before:
// a registry link anywhere on the way is met, refused and counted, never followed.
LONG CreateKey(HKEY root, const wchar_t* path, REGSAM access, ScopedKey& key,
               DWORD* disposition) {
  key.reset();
  if (IsDenied(root, path)) return ERROR_ACCESS_DENIED;
  registryAccess.counts.creations++;
  bool walk = root == HKEY_CURRENT_USER || root == HKEY_CLASSES_ROOT;
  wchar_t rest[kSystemPathSize];
  HKEY base = SystemRoot(root, path, rest);
  // The machine's classes key itself is one step, which Windows places in the view asked for;
  // only administrators can change it. The keys below it are walked.
  unsigned whole = base == root ? 0 : 16;
  ScopedKey parent;
  for (wchar_t* name = rest;; whole = 0) {
    wchar_t* end = name + whole;
    while (*end && (!walk || *end != L'\\')) end++;
    bool last = !*end;
    *end = 0;
    LONG error = RegCreateKeyExW(parent ? parent.get() : base, name, 0, nullptr,
                                 REG_OPTION_NON_VOLATILE |
                                     (walk && !whole ? REG_OPTION_OPEN_LINK : 0),
                                 (last ? access : KEY_CREATE_SUB_KEY | (access & KEY_WOW64_RES)) |
                                     KEY_QUERY_VALUE,
                                 nullptr, key.put(), disposition);
    if (error != ERROR_SUCCESS) {
      key.release();
      return error;
    }
    if (walk && *disposition == REG_OPENED_EXISTING_KEY && IsLinkKey(key.get())) {
      key.reset();
      registryAccess.counts.linksRefused++;
      return ERROR_CANT_RESOLVE_FILENAME;
    }
    if (last) return ERROR_SUCCESS;
    parent = std::move(key);
    name = end + 1;
  }
}

// The key a request works on: the batch's open handle, or one opened for this request alone.
struct KeyUse {
  ScopedKey owned;
  HKEY key = nullptr;
};

// Keeps the request's key (null for a missing key) for the batch when there is room.
CachedKey* CacheKey(HKEY root, REGSAM view, const wchar_t* path, KeyUse& use, bool writable) {
  if (keyBatch.count == kCachedKeyLimit) return nullptr;
  CachedKey& entry = keyBatch.keys[keyBatch.count++];
  entry.root = root;
  entry.view = view;
  entry.key = use.owned.release();
  entry.writable = writable;
  entry.createdNew = false;
  CopyText(entry.path, path, kRegPathSize);
  return &entry;
}

// Within a batch: opens a key and keeps it (or the fact that it is missing) when there is room.
LONG OpenCachedKey(HKEY root, const wchar_t* path, REGSAM view, KeyUse& use) {
  LONG error = ERROR_ACCESS_DENIED;
  if (!IsDenied(root, path)) error = OpenKey(root, path, kCachedAccess | view, use.owned);
  bool writable = error == ERROR_SUCCESS;
  // A key this process may not change is still read.
  if (error == ERROR_ACCESS_DENIED) error = OpenKey(root, path, KEY_READ | view, use.owned);
  use.key = use.owned.get();
  if (error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND)
    CacheKey(root, view, path, use, writable);
  return error;
}

// For reads and existence tests: the key at subkey (as BuildRegPath places it); view is 0 or a
// KEY_WOW64_* flag.
LONG UseKeyToRead(HKEY root, const wchar_t* subkey, REGSAM view, REGSAM access, KeyUse& use) {
  wchar_t path[kRegPathSize];
  // A path that does not fit names no key.
  if (!BuildRegPath(root, subkey, path, kRegPathSize)) return ERROR_FILE_NOT_FOUND;
  if (!keyBatch.depth) {
    LONG error = OpenKey(root, path, access | view, use.owned);
    use.key = use.owned.get();
    return error;
  }
  CachedKey* entry = FindCachedKey(root, view, path, true);
  if (entry) {
    use.key = entry->key;
    return entry->key ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  }
  if (IsBelowNewKey(root, view, path)) return ERROR_FILE_NOT_FOUND;
  LONG error = OpenCachedKey(root, path, view, use);
  if (error != ERROR_FILE_NOT_FOUND) return error;
  // Keys are mostly read in groups of siblings (a program's settings, a type's subkeys): when
  // the parent is missing too, the batch knows the rest of the group without opening them.
  wchar_t* name = path + TextLength(path);
  while (name > path && name[-1] != L'\\') name--;
  if (name > path) {
    name[-1] = 0;
    KeyUse parentUse;
    if (!FindCachedKey(root, view, path, true)) OpenCachedKey(root, path, view, parentUse);
  }
  return error;
}

LONG UseKeyToWrite(HKEY root, const wchar_t* path, REGSAM view, KeyUse& use) {
  CachedKey* entry = FindCachedKey(root, view, path, false);
  if (entry && entry->writable && !IsDenied(root, path)) {
    use.key = entry->key;
    return ERROR_SUCCESS;
  }
  DWORD disposition = 0;
  LONG error = CreateKey(root, path, (keyBatch.depth ? kCachedAccess : KEY_WRITE) | view,
                         use.owned, &disposition);
  use.key = use.owned.get();
  if (error != ERROR_SUCCESS || !keyBatch.depth) return error;
  ForgetCachedKeys(root, path, false);
  if (CachedKey* kept = CacheKey(root, view, path, use, true))
    kept->createdNew = disposition == REG_CREATED_NEW_KEY;
  else
    keyBatch.creationUnkept = true;
  return error;
}

// Deletes the key the handle stands for: opened with REG_OPTION_OPEN_LINK, a link key itself and
// never the key it points at. RegDeleteKey by name would follow the link (seen under Wine: the
// target went and the link stayed).
LONG DeleteOpenKey(HKEY key) {
  if (!registryAccess.ntLoaded) {
    registryAccess.ntLoaded = true;
    HMODULE ntdll = GetModuleHandleW(kNtModule);
    registryAccess.ntDeleteKey = ModuleFunction<NtDeleteKeyFunction>(ntdll, kNtDeleteKey);
    registryAccess.statusToError =
        ModuleFunction<NtStatusToErrorFunction>(ntdll, kNtStatusToError);
  }
  if (!registryAccess.ntDeleteKey || !registryAccess.statusToError)
    return ERROR_CALL_NOT_IMPLEMENTED;
  LONG status = registryAccess.ntDeleteKey(key);
  return status == 0 ? ERROR_SUCCESS : static_cast<LONG>(registryAccess.statusToError(status));
}

// Every change goes to the run's log with its root, view and Windows' answer, and a failed one
// is counted; a deletion that found nothing changed nothing and is left out.
DWORD NoteRegChange(DWORD error, const wchar_t* what, HKEY root, const wchar_t* path,
                    const wchar_t* name, REGSAM view) {
  bool deletion = what[0] == L'd';
  if (deletion && error == ERROR_FILE_NOT_FOUND) return error;
  if (error != ERROR_SUCCESS) registryAccess.counts.failedChanges++;
  const wchar_t* rootName = root == HKEY_LOCAL_MACHINE  ? L"HKLM"
                            : root == HKEY_CURRENT_USER ? L"HKCU"
                                                        : L"HKCR";
  const wchar_t* viewName = view & KEY_WOW64_32KEY   ? L"32-bit"
                            : view & KEY_WOW64_64KEY ? L"64-bit"
                                                     : L"default";
  LogStep(error, L"registry %s %s\\%s%s%s (%s view)", what, rootName, path, name ? L" value " : L"",
          name ? (name[0] ? name : L"(default)") : L"", viewName);
  return error;
}

// What the registry deletions share once the settings store has passed: the full path, and
// ERROR_SUCCESS when the registry is to be asked. A whole key is never the root itself, and the
// batch forgets it with everything below it. view: that of the deletion.
DWORD StartDeletion(HKEY root, const wchar_t* subkey, REGSAM view, bool wholeKey,
                    wchar_t* path) {
  if (!BuildRegPath(root, subkey, path, kRegPathSize)) return ERROR_FILENAME_EXCED_RANGE;
  // An empty path would name the root (or a test's stand-in for it).
  if (wholeKey && !path[0]) return ERROR_INVALID_PARAMETER;
  if (!TakeRegChange()) return ERROR_CANCELLED;
  if (IsKnownMissing(root, view, path)) return ERROR_FILE_NOT_FOUND;
  if (wholeKey) ForgetCachedKeys(root, path, true);
  return ERROR_SUCCESS;
}

DWORD SetRegValue(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD type,
                  const void* data, DWORD bytes) {
  wchar_t path[kRegPathSize];
  if (!BuildRegPath(root, subkey, path, kRegPathSize)) return ERROR_FILENAME_EXCED_RANGE;
  if (!TakeRegChange()) return ERROR_CANCELLED;
  KeyUse use;
  LONG error = UseKeyToWrite(root, path, RegView, use);
  if (error == ERROR_SUCCESS)
    error = RegSetValueExW(use.key, name, 0, type, static_cast<const BYTE*>(data), bytes);
  return NoteRegChange(static_cast<DWORD>(error), L"set", root, path, name ? name : L"", RegView);
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
  KeyUse use;
  if (UseKeyToRead(root, subkey, 0, KEY_QUERY_VALUE, use) != ERROR_SUCCESS) return false;
  // A kept handle outlives a deletion made through another root (HKCR and the Classes keys).
  return RegQueryInfoKeyW(use.key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

DWORD GetRegDword(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD defaultValue) {
  DWORD value;
  if (IniGetNumber(root, subkey, name, defaultValue, value)) return value;
  KeyUse use;
  if (UseKeyToRead(root, subkey, RegView, kReadAccess, use) != ERROR_SUCCESS) return defaultValue;
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
  KeyUse use;
  if (UseKeyToRead(root, subkey, RegView, kReadAccess, use) != ERROR_SUCCESS) return false;
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
  DWORD error = StartDeletion(root, subkey, 0, false, path);
  if (error != ERROR_SUCCESS) return error;
  // A key the batch created new is no link, so its kept handle is the key itself.
  CachedKey* entry = FindCachedKey(root, 0, path, false);
  // A link key is opened as itself: the value of the key it points at stays.
  ScopedKey key;
  if (entry && entry->createdNew && !IsDenied(root, path))
    error = static_cast<DWORD>(RegDeleteValueW(entry->key, name));
  else if ((error = static_cast<DWORD>(OpenKeyAt(root, path, root, path, REG_OPTION_OPEN_LINK,
                                                 KEY_WRITE, key))) == ERROR_SUCCESS)
    error = static_cast<DWORD>(RegDeleteValueW(key.get(), name));
  return NoteRegChange(error, L"delete", root, path, name, 0);
}

DWORD DeleteRegKey(HKEY root, const wchar_t* subkey) {
  if (IniDelete(root, subkey, nullptr)) return ERROR_SUCCESS;
  wchar_t path[kRegPathSize];
  DWORD error = StartDeletion(root, subkey, RegView, true, path);
  if (error != ERROR_SUCCESS) return error;
  ScopedKey key;
  error = static_cast<DWORD>(
      OpenKeyAt(root, path, root, path, REG_OPTION_OPEN_LINK, DELETE | RegView, key));
  if (error == ERROR_SUCCESS) error = static_cast<DWORD>(DeleteOpenKey(key.get()));
  return NoteRegChange(error, L"delete key", root, path, nullptr, RegView);
}

DWORD DeleteRegTree(HKEY root, const wchar_t* subkey) {
  if (IniDelete(root, subkey, nullptr)) return ERROR_SUCCESS;
  wchar_t path[kRegPathSize];
  DWORD error = StartDeletion(root, subkey, 0, true, path);
  if (error != ERROR_SUCCESS) return error;
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
  return NoteRegChange(static_cast<DWORD>(result), L"delete tree", root, path, nullptr, 0);
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
  if (StoreTakesKey(root, subkey)) return ERROR_FILE_NOT_FOUND;
  KeyUse use;
  LONG error = UseKeyToRead(root, subkey, RegView, kReadAccess, use);
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
  if (nameSize == 0 || StoreTakesKey(root, subkey)) return ERROR_NO_MORE_ITEMS;
  KeyUse use;
  if (UseKeyToRead(root, subkey, RegView, kReadAccess, use) != ERROR_SUCCESS)
    return ERROR_NO_MORE_ITEMS;
  DWORD length = nameSize;
  LONG error = RegEnumValueW(use.key, index, name, &length, nullptr, type,
                             static_cast<BYTE*>(data), bytes);
  name[length < nameSize ? length : nameSize - 1] = 0;
  return static_cast<DWORD>(error);
}

bool CountRegKeyContents(HKEY root, const wchar_t* subkey, DWORD* subkeys, DWORD* values) {
  if (StoreTakesKey(root, subkey)) return false;
  KeyUse use;
  return UseKeyToRead(root, subkey, RegView, kReadAccess, use) == ERROR_SUCCESS &&
         RegQueryInfoKeyW(use.key, nullptr, nullptr, nullptr, subkeys, nullptr, nullptr, values,
                          nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

void SetRegChangeLimit(unsigned changes) { regChangesLeft = changes; }

RegKeyCounts GetRegKeyCounts() { return registryAccess.counts; }

void ResetRegKeyCounts() { registryAccess.counts = {}; }

void ResetRegistryState() {
  ForgetCachedKeys(nullptr, nullptr, true);
  keyBatch.depth = 0;
  registryAccess = RegistryAccess{};
  treeDeletion = TreeDeletion{};
  regChangesLeft = kUnlimitedRegChanges;
  RegView = 0;
}

RegBatch::RegBatch() { keyBatch.depth++; }

RegBatch::~RegBatch() {
  if (--keyBatch.depth > 0) return;
  ForgetCachedKeys(nullptr, nullptr, true);
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
