#include "driver/filelist.h"

#include <cstring>
#include <cwchar>
#include <new>

#include "base/convert.h"
#include "base/owners.h"
#include "base/text.h"
#include "filesystem/fileops.h"

const wchar_t kListFileName[] = L"Uninstall.lst";

namespace {

// A million entries take a few dozen MiB; a larger file is no list an installer wrote.
constexpr unsigned kMaxListBytes = 64u << 20;
constexpr unsigned kReadPiece = 1u << 20;
// ANSI and UTF-8 lines longer than this many bytes are never cut into entries.
constexpr unsigned kListLineBytes = 2047;

constexpr const wchar_t* kDeviceNames[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
constexpr const wchar_t* kNumberedDevices[] = {L"COM", L"LPT"};

bool IsDotsAndBlanks(const wchar_t* begin, const wchar_t* end) {
  bool dot = false;
  for (const wchar_t* p = begin; p < end; p++) {
    if (*p == L'.')
      dot = true;
    else if (*p != L' ')
      return false;
  }
  return dot;
}

bool MatchesNoCase(const wchar_t* begin, const wchar_t* end, const wchar_t* name) {
  for (const wchar_t* p = begin; p < end; p++, name++)
    if (*name == 0 || AsciiUpper(*p) != *name) return false;
  return *name == 0;
}

// Windows opens a device for such a name in any folder: the part before the first dot, trailing
// blanks dropped, is what counts (so "nul", "NUL.txt", "Nul .x" and "NUL..." all are NUL).
bool IsDeviceName(const wchar_t* begin, const wchar_t* end) {
  const wchar_t* stop = begin;
  while (stop < end && *stop != L'.') stop++;
  while (stop > begin && stop[-1] == L' ') stop--;
  for (const wchar_t* name : kDeviceNames)
    if (MatchesNoCase(begin, stop, name)) return true;
  if (stop - begin != 4) return false;
  wchar_t digit = stop[-1];
  // Windows counts the superscript digits one to three as port numbers too.
  if (!((digit >= L'0' && digit <= L'9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3))
    return false;
  for (const wchar_t* name : kNumberedDevices)
    if (MatchesNoCase(begin, stop - 1, name)) return true;
  return false;
}

bool IsLineBlank(unsigned ch) { return ch == ' ' || ch == '\t' || ch == '\r'; }

unsigned UnitAt(const FileList& list, unsigned at) {
  const unsigned char* p = list.bytes.get() + at;
  switch (list.encoding) {
    case kTextUtf16Le:
      return p[0] | (p[1] << 8);
    case kTextUtf16Be:
      return p[1] | (p[0] << 8);
    default:
      return p[0];
  }
}

// The entry of the line [begin, end) in wide characters, or false.
bool DecodeLine(const FileList& list, unsigned begin, unsigned end, wchar_t* out, unsigned size) {
  unsigned width = list.encoding == kTextUtf16Le || list.encoding == kTextUtf16Be ? 2 : 1;
  while (end > begin && IsLineBlank(UnitAt(list, end - width))) end -= width;
  if (end == begin) return false;
  for (unsigned at = begin; at < end; at += width)
    if (UnitAt(list, at) == 0) return false;  // what follows it would name another file
  unsigned units = (end - begin) / width;
  if (width == 2) {
    if (units >= size) return false;
    for (unsigned i = 0; i < units; i++) out[i] = static_cast<wchar_t>(UnitAt(list, begin + 2 * i));
    out[units] = 0;
    return true;
  }
  if (units > kListLineBytes) return false;
  UINT page = list.encoding == kTextUtf8 ? CP_UTF8 : CP_ACP;
  DWORD flags = list.encoding == kTextUtf8 ? MB_ERR_INVALID_CHARS : 0;
  int chars = MultiByteToWideChar(page, flags,
                                  reinterpret_cast<const char*>(list.bytes.get()) + begin,
                                  static_cast<int>(units), out, static_cast<int>(size) - 1);
  if (chars <= 0) return false;
  out[chars] = 0;
  return true;
}

}  // namespace

bool IsSafeListEntry(const wchar_t* entry) {
  if (!entry || entry[0] == 0) return false;
  // Absolute, "\\?\", "\\.\" and network names all begin with a separator.
  if (IsPathSeparator(entry[0])) return false;
  const wchar_t* component = entry;
  for (const wchar_t* p = entry;; p++) {
    if (*p == L':') return false;  // a drive or a stream name
    if (*p != 0 && !IsPathSeparator(*p)) continue;
    // "." and ".." (and what Windows trims to them) name the folder itself or one above it.
    if (IsDotsAndBlanks(component, p) || IsDeviceName(component, p)) return false;
    if (*p == 0) return true;
    component = p + 1;
  }
}

bool ReadFileList(HANDLE file, FileList& list) {
  list = FileList{};
  LARGE_INTEGER size = {};
  LARGE_INTEGER zero = {};
  if (!GetFileSizeEx(file, &size) || size.QuadPart > kMaxListBytes ||
      !SetFilePointerEx(file, zero, nullptr, FILE_BEGIN))
    return false;
  unsigned expected = static_cast<unsigned>(size.QuadPart);
  list.bytes.reset(new (std::nothrow) unsigned char[expected + 1]);
  if (!list.bytes) return false;
  while (list.size < expected) {
    DWORD piece = expected - list.size < kReadPiece ? expected - list.size : kReadPiece;
    DWORD got = 0;
    if (!ReadFile(file, list.bytes.get() + list.size, piece, &got, nullptr)) return false;
    if (got == 0) break;  // cut short meanwhile: the end is where it is now
    list.size += got;
  }
  list.encoding = DetectTextEncoding(list.bytes.get(), list.size);
  list.start = list.encoding == kTextUtf8 ? 3 : list.encoding == kTextAnsi ? 0 : 2;
  return true;
}

bool ReadFileList(const wchar_t* path, FileList& list) {
  ScopedHandle file(OpenExistingFile(path, GENERIC_READ, FILE_SHARE_READ));
  return file && ReadFileList(file.get(), list);
}

ListLine NextListEntry(const FileList& list, unsigned& pos, const wchar_t* folder, wchar_t* path) {
  if (pos < list.start) pos = list.start;
  unsigned width = list.encoding == kTextUtf16Le || list.encoding == kTextUtf16Be ? 2 : 1;
  // An odd last byte of UTF-16 is no unit.
  unsigned limit = list.size - (list.size - list.start) % width;
  if (pos >= limit) return ListLine::kEnd;
  unsigned begin = pos, end = pos;
  if (width == 1) {
    const void* lf = std::memchr(list.bytes.get() + pos, '\n', limit - pos);
    end = lf ? static_cast<unsigned>(static_cast<const unsigned char*>(lf) - list.bytes.get())
             : limit;
  } else {
    while (end < limit && UnitAt(list, end) != '\n') end += 2;
  }
  pos = end < limit ? end + width : limit;

  wchar_t entry[kPathSize];
  if (!DecodeLine(list, begin, end, entry, kPathSize)) return ListLine::kSkipped;
  // "sub\" names the folder sub; with the separator a link there would be followed.
  unsigned length = TextLength(entry);
  while (length > 0 && IsPathSeparator(entry[length - 1])) entry[--length] = 0;
  // "\sub\file" is sub\file of the folder, as the folder's own path joined to it reads; two
  // separators begin a network or device name and stay refused.
  const wchar_t* inside = entry;
  if (IsPathSeparator(inside[0]) && !IsPathSeparator(inside[1])) inside++, length--;
  if (!IsSafeListEntry(inside)) return ListLine::kSkipped;
  unsigned folderLength = TextLength(folder);
  if (folderLength + length >= kPathSize) return ListLine::kSkipped;
  std::wmemcpy(path, folder, folderLength);
  std::wmemcpy(path + folderLength, inside, length + 1);
  return ListLine::kEntry;
}

WayCheck CheckFoldersOnTheWay(const wchar_t* path, unsigned base, CheckedFolders& checked,
                              unsigned& linkEnd) {
  unsigned parent = TextLength(path);
  while (parent > base && !IsPathSeparator(path[parent - 1])) parent--;
  while (parent > base && IsPathSeparator(path[parent - 1])) parent--;
  if (parent <= base) return WayCheck::kReal;  // directly in the installation folder
  // The same folders as the last entry, or some of them.
  auto sameUpTo = [&](unsigned length) {
    return std::wmemcmp(checked.path, path, length) == 0;
  };
  if (checked.length >= parent && sameUpTo(parent) &&
      (checked.length == parent || IsPathSeparator(checked.path[parent])))
    return WayCheck::kReal;
  unsigned from = base;
  if (checked.length > base && checked.length < parent && sameUpTo(checked.length) &&
      IsPathSeparator(path[checked.length]))
    from = checked.length + 1;
  wchar_t probe[kPathSize];
  std::wmemcpy(probe, path, parent);
  for (unsigned at = from; at <= parent; at++) {
    if (at < parent && !IsPathSeparator(path[at])) continue;
    if (at > 0 && IsPathSeparator(path[at - 1])) continue;  // a doubled separator
    probe[at] = 0;
    unsigned attr = GetFileAttr(probe);
    if (IsLink(attr)) {
      linkEnd = at;
      checked.length = 0;
      return WayCheck::kLink;
    }
    if (!IsDir(attr)) {
      checked.length = 0;
      return WayCheck::kBlocked;
    }
    probe[at] = path[at];
  }
  std::wmemcpy(checked.path, path, parent);
  checked.path[parent] = 0;
  checked.length = parent;
  return WayCheck::kReal;
}
