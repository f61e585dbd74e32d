#include "driver/listdeletion.h"

#include <utility>

#include "base/array.h"
#include "base/convert.h"
#include "base/outcome.h"
#include "base/text.h"
#include "filesystem/fileops.h"
#include "filesystem/path.h"
#include "filesystem/tree.h"

namespace {

constexpr wchar_t kTempNameFormat[] = L"%s.%u.tmp";
constexpr unsigned kLastTempNumber = 999;

// Renaming frees the entry's own name at once; the renamed file goes at the next restart. False
// when nothing could be scheduled; left then holds the name under which the file stays.
bool ScheduleForRestart(const wchar_t* path, wchar_t* left) {
  wchar_t temp[kPathSize];
  bool named = false;
  for (unsigned n = 0; n <= kLastTempNumber; n++) {
    // A cut name would be another file.
    named = FormatText(temp, kPathSize, kTempNameFormat, path, n) >= 0;
    if (!named || !FileExist(temp)) break;
  }
  const wchar_t* target = named && RenameFile(path, temp) ? temp : path;
  CopyText(left, target, kPathSize);
  return ScheduleDeletion(target);
}

// Adds a path that must be deleted by hand to the result's text, as long as it fits whole.
void NoteLeftFile(DeletionResult& result, const wchar_t* path) {
  result.unscheduled++;
  unsigned used = TextLength(result.left);
  unsigned needed = TextLength(path) + (used ? 1 : 0);
  if (used + needed >= kLeftFilesSize) return;
  if (used) AppendText(result.left, L"\n", kLeftFilesSize);
  AppendText(result.left, path, kLeftFilesSize);
}

// A link is removed itself: its target, wherever that is, stays as it is.
bool RemoveLink(const wchar_t* path, unsigned attr) {
  return IsDir(attr) ? RemoveFolder(path) : DelFile(path);
}

bool ClearReadOnly(const wchar_t* path, unsigned attr) {
  return !(attr & FILE_ATTRIBUTE_READONLY) || ClearAttributes(path);
}

// Checks the folders on the way to path; a link among them is removed, never followed.
bool ReachWithoutLinks(wchar_t* path, unsigned base, CheckedFolders& checked,
                       DeletionResult& result) {
  unsigned linkEnd = 0;
  WayCheck way = CheckFoldersOnTheWay(path, base, checked, linkEnd);
  if (way == WayCheck::kLink) {
    wchar_t kept = path[linkEnd];
    path[linkEnd] = 0;
    if (RemoveLink(path, GetFileAttr(path))) result.removed++;
    path[linkEnd] = kept;
  }
  return way == WayCheck::kReal;
}

void RemoveListedFile(const wchar_t* path, unsigned base, HeldWay& way,
                      const wchar_t* programName, DeletionResult& result) {
  // Through held folders: one exchanged for a link since it was checked is not followed.
  Deletion deletion = DeleteWithin(path, base, way);
  if (deletion == Deletion::kDeleted) result.removed++;
  if (deletion != Deletion::kFailed) return;
  // The running program goes through the batch file, the open list at the end.
  const wchar_t* name = PointToName(path);
  if (CompareNoCase(name, programName) == 0 || CompareNoCase(name, kListFileName) == 0) return;
  wchar_t left[kPathSize];
  if (ScheduleForRestart(path, left))
    result.scheduled = true;
  else
    NoteLeftFile(result, left);
}

struct ListedFolder {
  unsigned line;   // where its line begins in the list
  unsigned depth;  // its components below the installation folder
};

// Deeper folders first, then in the list's order.
bool Before(const ListedFolder& a, const ListedFolder& b) {
  return a.depth != b.depth ? a.depth > b.depth : a.line < b.line;
}

// Heap sort by Before: n log n steps for any list, in less code than std::sort's.
void SiftDown(ListedFolder* folders, unsigned at, unsigned count) {
  for (unsigned child; (child = 2 * at + 1) < count; at = child) {
    if (child + 1 < count && Before(folders[child], folders[child + 1])) child++;
    if (!Before(folders[at], folders[child])) return;
    std::swap(folders[at], folders[child]);
  }
}

void SortFolders(ListedFolder* folders, unsigned count) {
  for (unsigned at = count / 2; at-- > 0;) SiftDown(folders, at, count);
  while (count > 1) {
    std::swap(folders[0], folders[--count]);
    SiftDown(folders, 0, count);
  }
}

unsigned Depth(const wchar_t* entry) {
  unsigned depth = 0;
  bool inName = false;
  for (const wchar_t* p = entry; *p; p++) {
    if (!IsPathSeparator(*p) && !inName) depth++;
    inName = !IsPathSeparator(*p);
  }
  return depth;
}

}  // namespace

DeletionResult DeleteListedFiles(const FileList& list, const wchar_t* folder,
                                 const wchar_t* programName) {
  DeletionResult result;
  Array<ListedFolder> folders;
  wchar_t path[kPathSize];
  unsigned base = TextLength(folder);
  CheckedFolders checked;
  HeldWay way;
  // Files (and links) in the list's order; folders are only noted, since one listed before its
  // contents is still full now.
  for (unsigned pos = 0;;) {
    unsigned line = pos;
    ListLine kind = NextListEntry(list, pos, folder, path);
    if (kind == ListLine::kEnd) break;
    if (kind != ListLine::kEntry || !ReachWithoutLinks(path, base, checked, result)) continue;
    unsigned attr = GetFileAttr(path);
    if (attr == INVALID_FILE_ATTRIBUTES) continue;
    if (IsLink(attr)) {
      if (RemoveLink(path, attr)) result.removed++;
    } else if (IsDir(attr)) {
      if (!folders.Push(ListedFolder{line, Depth(path + base)})) MemoryError();
    } else {
      RemoveListedFile(path, base, way, programName, result);
    }
  }
  // Then the folders, each after every folder below it: one look at each, whatever the depth.
  SortFolders(folders.data, folders.count);
  checked.length = 0;
  for (unsigned i = 0; i < folders.count; i++) {
    unsigned pos = folders[i].line;
    if (NextListEntry(list, pos, folder, path) != ListLine::kEntry ||
        !ReachWithoutLinks(path, base, checked, result))
      continue;
    unsigned attr = GetFileAttr(path);
    if (attr == INVALID_FILE_ATTRIBUTES) continue;
    if (!IsLink(attr)) ClearReadOnly(path, attr);
    if (IsLink(attr) ? RemoveLink(path, attr) : DeleteWithin(path, base, way) == Deletion::kDeleted)
      result.removed++;
  }
  return result;
}
