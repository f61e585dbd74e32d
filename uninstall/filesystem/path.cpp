#include "filesystem/path.h"

#include <windows.h>
// After windows.h, which it needs.
#include <ntsecapi.h>
#include <shlobj.h>

#include "base/convert.h"
#include "base/product.h"
#include "base/text.h"
#include "filesystem/fileops.h"

namespace {

constexpr wchar_t kLongPrefix[] = L"\\\\?\\";
constexpr wchar_t kLongUncPrefix[] = L"\\\\?\\UNC";
constexpr wchar_t kDevicePrefix[] = L"\\\\.\\";
constexpr wchar_t kUnknownFolder[] = L"unknown_folder";
// SHGetFolderPathW writes up to MAX_PATH characters.
constexpr unsigned kMinFolderSize = 260;

// Writes prefix, then the parts, into out; false (and out untouched) when the whole does not fit.
bool Compose(wchar_t* out, unsigned size, const wchar_t* prefix, const wchar_t* a,
             const wchar_t* b = L"") {
  unsigned total = TextLength(prefix) + TextLength(a) + TextLength(b);
  if (total >= size) return false;
  CopyText(out, prefix, size);
  AppendText(out, a, size);
  AppendText(out, b, size);
  return true;
}

// "\\?\" form of a full path: drive X:\ or \\server\share.
bool LongFormOfFull(const wchar_t* full, const wchar_t* rest, wchar_t* out, unsigned size) {
  if (IsDriveLetter(full)) return Compose(out, size, kLongPrefix, full, rest);
  return Compose(out, size, kLongUncPrefix, full + 1, rest);
}

}  // namespace

bool IsPathSeparator(wchar_t ch) { return ch == L'\\' || ch == L'/'; }

bool IsDriveLetter(const wchar_t* path) { return IsAsciiLetter(path[0]) && path[1] == L':'; }

bool IsFullPath(const wchar_t* path) {
  return (path[0] == L'\\' && path[1] == L'\\') ||
         (IsDriveLetter(path) && IsPathSeparator(path[2]));
}

const wchar_t* SkipLongPrefix(const wchar_t* path) {
  return StartsWith(path, kLongPrefix) ? path + 4 : path;
}

bool HasWildcards(const wchar_t* path) {
  for (path = SkipLongPrefix(path); *path; path++)
    if (*path == L'*' || *path == L'?') return true;
  return false;
}

const wchar_t* PointToName(const wchar_t* path) {
  const wchar_t* name = IsDriveLetter(path) ? path + 2 : path;
  for (const wchar_t* p = path; *p; p++)
    if (IsPathSeparator(*p)) name = p + 1;
  return name;
}

wchar_t* PointToName(wchar_t* path) {
  return const_cast<wchar_t*>(PointToName(const_cast<const wchar_t*>(path)));
}

const wchar_t* PointToLastChar(const wchar_t* path) {
  unsigned n = TextLength(path);
  return n == 0 ? path : path + n - 1;
}

wchar_t* PointToLastChar(wchar_t* path) {
  return const_cast<wchar_t*>(PointToLastChar(const_cast<const wchar_t*>(path)));
}

void AddEndSlash(wchar_t* path, unsigned size) {
  unsigned n = TextLength(path);
  if (n > 0 && path[n - 1] != L'\\' && n + 1 < size) {
    path[n] = L'\\';
    path[n + 1] = 0;
  }
}

void RemoveNameFromPath(wchar_t* path) {
  wchar_t* name = PointToName(path);
  if (name > path && IsPathSeparator(name[-1])) {
    wchar_t* separator = name - 1;
    bool isRoot = separator == path || (separator == path + 2 && IsDriveLetter(path));
    if (!isRoot) name = separator;
  }
  *name = 0;
}

void SetName(wchar_t* path, const wchar_t* name, unsigned size) {
  // The new name may point into path itself.
  wchar_t copy[kPathSize];
  CopyText(copy, name, kPathSize);
  unsigned offset = static_cast<unsigned>(PointToName(path) - path);
  if (offset < size) CopyText(path + offset, copy, size - offset);
}

bool GetProgramFile(wchar_t* out, unsigned size) {
  if (size == 0) return false;
  // Older systems leave a cut name unterminated and report no error.
  DWORD length = GetModuleFileNameW(nullptr, out, size);
  if (length > 0 && length < size) {
    out[length] = 0;
    return true;
  }
  out[0] = 0;
  return false;
}

bool GetProgramFolderFile(const wchar_t* name, wchar_t* out, unsigned size) {
  if (size == 0) return false;
  out[0] = 0;
  // The program's own name may be longer than the result.
  wchar_t program[kPathSize];
  if (!GetProgramFile(program, kPathSize)) return false;
  unsigned offset = static_cast<unsigned>(PointToName(program) - program);
  if (offset + TextLength(name) >= size) return false;
  CopyText(out, program, offset + 1);
  CopyText(out + offset, name, size - offset);
  return true;
}

void GetFilePath(const wchar_t* path, wchar_t* out, unsigned size) {
  if (size == 0) return;
  unsigned n = static_cast<unsigned>(PointToName(path) - path);
  if (n > size - 1) n = size - 1;
  if (out != path) MoveMemory(out, path, n * sizeof(wchar_t));
  out[n] = 0;
}

void MakeName(const wchar_t* folder, const wchar_t* name, wchar_t* out, unsigned size) {
  wchar_t joined[kPathSize];
  CopyText(joined, folder, kPathSize);
  bool bareDrive = IsDriveLetter(joined) && joined[2] == 0;
  if (joined[0] != 0 && !bareDrive) AddEndSlash(joined, kPathSize);
  AppendText(joined, name, kPathSize);
  CopyText(out, joined, size);
}

bool MakeLongPath(const wchar_t* path, wchar_t* out, unsigned size) {
  if (path[0] == 0) return false;
  // Already a long or device name: converting again would only produce a wrong name.
  if (StartsWith(path, kLongPrefix) || StartsWith(path, kDevicePrefix)) return false;
  if (IsDriveLetter(path) && IsPathSeparator(path[2]))
    return Compose(out, size, kLongPrefix, path);
  if (path[0] == L'\\' && path[1] == L'\\') return Compose(out, size, kLongUncPrefix, path + 1);
  // "X:name" is relative to that drive's own current folder, which the long form cannot
  // express; prefixing the current folder would name a stream of a file called X.
  if (IsDriveLetter(path)) return false;

  wchar_t current[kPathSize];
  DWORD n = GetCurrentDirectoryW(kPathSize, current);
  if (n == 0 || n >= kPathSize) return false;
  if (IsPathSeparator(path[0])) {
    if (!IsDriveLetter(current)) return false;
    current[2] = 0;
    return Compose(out, size, kLongPrefix, current, path);
  }
  AddEndSlash(current, kPathSize);
  if (*PointToLastChar(current) != L'\\') return false;
  if (path[0] == L'.' && IsPathSeparator(path[1])) path += 2;
  if (!IsFullPath(current)) return false;
  return LongFormOfFull(current, path, out, size);
}

bool MakeRandomName(const wchar_t* prefix, const wchar_t* suffix, wchar_t* out, unsigned size) {
  unsigned length = TextLength(prefix);
  unsigned char bytes[kRandomDigits / 2];
  if (length + kRandomDigits + TextLength(suffix) >= size || !RtlGenRandom(bytes, sizeof bytes))
    return false;
  CopyText(out, prefix, size);
  constexpr wchar_t kHex[] = L"0123456789abcdef";
  for (unsigned char byte : bytes) {
    out[length++] = kHex[byte >> 4];
    out[length++] = kHex[byte & 15];
  }
  CopyText(out + length, suffix, size - length);
  return true;
}

bool GetSystemFile(const wchar_t* name, wchar_t* out) {
  wchar_t folder[kPathSize];
  UINT length = GetSystemDirectoryW(folder, kPathSize);
  if (length == 0 || length >= kPathSize) return false;
  MakeName(folder, name, out, kPathSize);
  return true;
}

HMODULE LoadSystemModule(const wchar_t* name) {
  wchar_t path[kPathSize];
  return GetSystemFile(name, path) ? LoadLibraryW(path) : nullptr;
}

bool GetUserTempFolder(wchar_t* out) {
  DWORD length = GetTempPathW(kPathSize, out);
  return length > 0 && length < kPathSize;
}

bool GetSpecialFolder(wchar_t* out, unsigned size, int csidl) {
  if (size >= kMinFolderSize &&
      SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, out)))
    return true;
  CopyText(out, kUnknownFolder, size);
  return false;
}

bool GetAppDataFolder(wchar_t* out, unsigned size) {
  if (size > 0) out[0] = 0;
  wchar_t folder[kPathSize];
  if (!GetSpecialFolder(folder, kPathSize, CSIDL_APPDATA)) return false;
  AddEndSlash(folder, kPathSize);
  AppendText(folder, kProductName, kPathSize);
  CopyText(out, folder, size);
  return FileExist(folder);
}
