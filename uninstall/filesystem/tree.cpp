#include "filesystem/tree.h"

#include <windows.h>
#include <winternl.h>

#include <cwchar>
#include <new>
#include <utility>

#include "base/convert.h"
#include "base/owners.h"
#include "base/procaddress.h"
#include "base/text.h"
#include "filesystem/fileops.h"
#include "filesystem/log.h"
#include "filesystem/path.h"

namespace {

using NtCreateFileFunction = NTSTATUS(NTAPI*)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*,
                                              IO_STATUS_BLOCK*, LARGE_INTEGER*, ULONG, ULONG,
                                              ULONG, ULONG, void*, ULONG);

constexpr ACCESS_MASK kEntryAccess = DELETE | SYNCHRONIZE | FILE_LIST_DIRECTORY | FILE_TRAVERSE |
                                     FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
// Nobody renames or deletes an entry while it is held: a held folder stays where it was checked.
constexpr ULONG kEntryShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr ULONG kEntryOptions =
    FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT;
// Each level holds a handle and a listing buffer on the stack.
constexpr unsigned kMaxDepth = 128;
constexpr unsigned kListingSize = 1024;
constexpr unsigned kMaxHeld = 256;

struct Walk {
  NtCreateFileFunction open;
  DWORD volume;              // the volume the walk started on
  wchar_t path[kPathSize];   // the name within the volume the entry at hand must have
  union {                    // the name its handle has
    FILE_NAME_INFO found;
    wchar_t space[kPathSize + 2];
  };
};

// The handle's name within its volume in walk.found, and its volume and attributes in info.
bool QueryName(Walk& walk, HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) {
  return GetFileInformationByHandle(handle, &info) &&
         GetFileInformationByHandleEx(handle, FileNameInfo, &walk.found, sizeof walk.space) &&
         walk.found.FileNameLength < kPathSize * sizeof(wchar_t);
}

// Opens name within the held folder and appends it to walk.path. True when the handle is that
// very entry: it names walk.path (Wine resolves a link while opening, and the handle then names
// the target). attributes receives the entry's own.
bool OpenWithin(Walk& walk, HANDLE folder, const wchar_t* name, unsigned nameLength,
                ScopedHandle& entry, DWORD& attributes, bool& opened) {
  unsigned base = TextLength(walk.path);
  opened = false;
  if (base + 1 + nameLength >= kPathSize) return false;
  walk.path[base] = L'\\';
  CopyText(walk.path + base + 1, name, nameLength + 1);
  UNICODE_STRING unicodeName;
  unicodeName.Buffer = walk.path + base + 1;
  unicodeName.Length = unicodeName.MaximumLength = static_cast<USHORT>(nameLength * 2);
  OBJECT_ATTRIBUTES objectAttributes;
  InitializeObjectAttributes(&objectAttributes, &unicodeName, OBJ_CASE_INSENSITIVE, folder,
                             nullptr);
  IO_STATUS_BLOCK status;
  BY_HANDLE_FILE_INFORMATION info;
  opened = walk.open(entry.put(), kEntryAccess, &objectAttributes, &status, nullptr, 0,
                     kEntryShare, FILE_OPEN, kEntryOptions, nullptr, 0) >= 0 &&
           QueryName(walk, entry.get(), info);
  if (!opened) return false;
  attributes = info.dwFileAttributes;
  unsigned length = walk.found.FileNameLength / sizeof(wchar_t);
  return info.dwVolumeSerialNumber == walk.volume && length == TextLength(walk.path) &&
         CompareNoCaseN(walk.found.FileName, walk.path, length) == 0;
}

Deletion DeleteEntry(Walk& walk, HANDLE folder, const wchar_t* name, unsigned nameLength,
                     unsigned depth, bool folderOnly, bool recurse);

// Deletes every entry of the held folder whose final name walk.path holds.
bool EmptyFolder(Walk& walk, HANDLE folder, unsigned depth) {
  alignas(8) BYTE listing[kListingSize];
  bool empty = true;
  for (auto kind = FileFullDirectoryRestartInfo;
       GetFileInformationByHandleEx(folder, kind, listing, sizeof listing);
       kind = FileFullDirectoryInfo) {
    for (auto* entry = reinterpret_cast<FILE_FULL_DIR_INFO*>(listing);;
         entry = reinterpret_cast<FILE_FULL_DIR_INFO*>(reinterpret_cast<BYTE*>(entry) +
                                                        entry->NextEntryOffset)) {
      unsigned length = entry->FileNameLength / sizeof(wchar_t);
      wchar_t* name = entry->FileName;
      bool dot = name[0] == L'.' && (length == 1 || (length == 2 && name[1] == L'.'));
      if (!dot && DeleteEntry(walk, folder, name, length, depth + 1, false, true) !=
                      Deletion::kDeleted)
        empty = false;
      if (!entry->NextEntryOffset) break;
    }
  }
  return empty && GetLastError() == ERROR_NO_MORE_FILES;
}

// Deletes name within the held folder once it proved to be that very entry; a folder with its
// contents when recurse is set, else only when empty.
Deletion DeleteEntry(Walk& walk, HANDLE folder, const wchar_t* name, unsigned nameLength,
                     unsigned depth, bool folderOnly, bool recurse) {
  unsigned base = TextLength(walk.path);
  ScopedHandle entry;
  DWORD attributes = 0;
  bool opened = true;
  Deletion result = Deletion::kRefused;
  if (depth <= kMaxDepth &&
      OpenWithin(walk, folder, name, nameLength, entry, attributes, opened)) {
    bool link = attributes & FILE_ATTRIBUTE_REPARSE_POINT;
    bool isFolder = attributes & FILE_ATTRIBUTE_DIRECTORY;
    result = Deletion::kFailed;
    if (link || !folderOnly || isFolder) {
      if (attributes & FILE_ATTRIBUTE_READONLY) {
        FILE_BASIC_INFO basic = {};
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        SetFileInformationByHandle(entry.get(), FileBasicInfo, &basic, sizeof basic);
      }
      // A link is deleted itself: its handle is the link, not what it leads to.
      if ((link || !isFolder || !recurse || EmptyFolder(walk, entry.get(), depth)) &&
          MarkForDeletion(entry.get(), true))
        result = Deletion::kDeleted;
    }
  } else if (!opened) {
    result = Deletion::kFailed;
  }
  walk.path[base] = 0;
  return result;
}

// Opens the folder the caller trusts and puts its name within its volume in walk.path.
bool StartWalk(Walk& walk, const wchar_t* folderName, ScopedHandle& folder) {
  walk.open = ModuleFunction<NtCreateFileFunction>(GetModuleHandleW(L"ntdll"), "NtCreateFile");
  wchar_t buffer[kPathSize];
  folder.reset(CreateFileW(WindowsName(folderName, buffer),
                           FILE_LIST_DIRECTORY | FILE_TRAVERSE | SYNCHRONIZE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!walk.open || !folder || !QueryName(walk, folder.get(), info)) return false;
  walk.volume = info.dwVolumeSerialNumber;
  unsigned length = walk.found.FileNameLength / sizeof(wchar_t);
  // The drive root's name is its separator alone.
  if (length > 0 && IsPathSeparator(walk.found.FileName[length - 1])) length--;
  CopyText(walk.path, walk.found.FileName, length + 1);
  return true;
}

}  // namespace

struct HeldWay::State {
  Walk walk;
  unsigned count = 0;  // folders held, the trusted one first
  // Each held folder's handle, the length of its name in the caller's path, and in walk.path.
  ScopedHandle handles[kMaxHeld];
  unsigned callerEnd[kMaxHeld];
  unsigned walkEnd[kMaxHeld];
  wchar_t held[kPathSize];  // the caller's name of the deepest held folder
};

HeldWay::~HeldWay() { delete state; }

Deletion DeleteWithin(const wchar_t* path, unsigned base, HeldWay& way, bool whole) {
  if (!way.state) way.state = new (std::nothrow) HeldWay::State;
  if (!way.state || base == 0 || base >= kPathSize) return Deletion::kFailed;
  HeldWay::State& held = *way.state;
  Walk& walk = held.walk;
  // The held folders this path passes through (not the entry itself, which is to be deleted).
  unsigned keep = 0;
  while (keep < held.count) {
    unsigned end = held.callerEnd[keep];
    if (std::wmemcmp(path, held.held, end) != 0 || !path[end] ||
        (keep > 0 && !IsPathSeparator(path[end])))
      break;
    keep++;
  }
  if (keep == 0 || held.callerEnd[0] != base) keep = 0;
  while (held.count > keep) held.handles[--held.count].reset();
  if (held.count == 0) {
    std::wmemcpy(held.held, path, base);
    held.held[base] = 0;
    if (!StartWalk(walk, held.held, held.handles[0])) return Deletion::kFailed;
    held.callerEnd[0] = base;
    held.walkEnd[0] = TextLength(walk.path);
    held.count = 1;
  }
  walk.path[held.walkEnd[held.count - 1]] = 0;
  HANDLE folder = held.handles[held.count - 1].get();
  ScopedHandle beyond;  // the deepest folder, once more are passed than can be held
  const wchar_t* name = path + held.callerEnd[held.count - 1];
  for (;;) {
    while (IsPathSeparator(*name)) name++;
    unsigned length = 0;
    while (name[length] && !IsPathSeparator(name[length])) length++;
    if (length == 0) return Deletion::kFailed;
    if (!name[length]) {
      Deletion result = DeleteEntry(walk, folder, name, length, 0, whole, whole);
      if (!whole)
        LogStep(result == Deletion::kDeleted ? ERROR_SUCCESS : GetLastError(), L"delete %s", path);
      return result;
    }
    ScopedHandle next;
    DWORD attributes = 0;
    bool opened;
    if (!OpenWithin(walk, folder, name, length, next, attributes, opened))
      return opened ? Deletion::kRefused : Deletion::kFailed;
    if ((attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) !=
        FILE_ATTRIBUTE_DIRECTORY)
      return Deletion::kRefused;
    name += length;
    unsigned end = static_cast<unsigned>(name - path);
    if (held.count < kMaxHeld && !beyond) {
      std::wmemcpy(held.held + held.callerEnd[held.count - 1],
                   path + held.callerEnd[held.count - 1], end - held.callerEnd[held.count - 1]);
      held.callerEnd[held.count] = end;
      held.walkEnd[held.count] = TextLength(walk.path);
      held.handles[held.count] = std::move(next);
      folder = held.handles[held.count++].get();
    } else {
      beyond = std::move(next);
      folder = beyond.get();
    }
  }
}

bool DeleteTree(const wchar_t* path) {
  const wchar_t* name = PointToName(path);
  HeldWay way;
  bool done = (name != path && *name &&
               DeleteWithin(path, static_cast<unsigned>(name - path), way, true) ==
                   Deletion::kDeleted) ||
              GetFileAttr(path) == INVALID_FILE_ATTRIBUTES;
  LogStep(done ? ERROR_SUCCESS : GetLastError(), L"delete folder tree %s", path);
  return done;
}
