#include "filesystem/fileops.h"

#include <windows.h>

#include "base/owners.h"
#include "base/text.h"
#include "filesystem/log.h"
#include "filesystem/path.h"

namespace {

constexpr wchar_t kNewFileSuffix[] = L".tmp";
constexpr unsigned kNewFileTries = 16;

// Up to this length names are given to Windows as they are by WindowsName; longer ones in their
// "\\?\" form.
constexpr unsigned kPlainNameLimit = MAX_PATH - 30;

constexpr DWORD kFolderChangeAccess = DELETE | FILE_ADD_FILE;

// The folder CheckFolderChangeAccess reports as denied in tests; empty for none.
struct FolderAccessOverride {
  wchar_t deniedFolder[kPathSize] = {};
};
FolderAccessOverride folderAccessOverride;

HANDLE OpenFolderForChange(const wchar_t* name) {
  return CreateFileW(name, kFolderChangeAccess,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                     nullptr);
}

bool FreeSpaceOf(const wchar_t* folder, ULARGE_INTEGER& available, ULARGE_INTEGER& totalFree) {
  ULARGE_INTEGER total;
  return GetDiskFreeSpaceExW(folder, &available, &total, &totalFree) != 0;
}

bool ReplaceEntry(const wchar_t* from, const wchar_t* to) {
  if (MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING)) return true;
  wchar_t longFrom[kPathSize], longTo[kPathSize];
  return LongFormForRetry(from, longFrom) && LongFormForRetry(to, longTo) &&
         MoveFileExW(longFrom, longTo, MOVEFILE_REPLACE_EXISTING);
}

// What the run changes on the disk goes to its log with Windows' answer; returns done. A deletion
// that found nothing changed nothing and is left out.
bool Logged(bool done, const wchar_t* what, const wchar_t* name, bool deletion = false) {
  DWORD error = done ? ERROR_SUCCESS : GetLastError();
  if (!deletion || (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND))
    LogStep(error, L"%s %s", what, name);
  return done;
}

}  // namespace

bool LongFormForRetry(const wchar_t* name, wchar_t* out) {
  DWORD error = GetLastError();
  bool built = MakeLongPath(name, out, kPathSize);
  SetLastError(error);
  return built;
}

bool DelFile(const wchar_t* name) {
  wchar_t longName[kPathSize];
  return Logged(DeleteFileW(name) || (LongFormForRetry(name, longName) && DeleteFileW(longName)),
                L"delete file", name, true);
}

bool ClearAttributes(const wchar_t* name) {
  if (SetFileAttributesW(name, 0)) return true;
  wchar_t longName[kPathSize];
  return LongFormForRetry(name, longName) && SetFileAttributesW(longName, 0);
}

bool RemoveFolder(const wchar_t* name) {
  wchar_t longName[kPathSize];
  return Logged(
      RemoveDirectoryW(name) || (LongFormForRetry(name, longName) && RemoveDirectoryW(longName)),
      L"remove folder", name, true);
}

bool RenameFile(const wchar_t* from, const wchar_t* to) {
  wchar_t longFrom[kPathSize], longTo[kPathSize];
  bool done = MoveFileW(from, to) || (LongFormForRetry(from, longFrom) &&
                                      LongFormForRetry(to, longTo) && MoveFileW(longFrom, longTo));
  LogStep(done ? ERROR_SUCCESS : GetLastError(), L"rename %s to %s", from, to);
  return done;
}

bool ScheduleDeletion(const wchar_t* name) {
  wchar_t longName[kPathSize];
  return Logged(MoveFileExW(name, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) ||
                    (LongFormForRetry(name, longName) &&
                     MoveFileExW(longName, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)),
                L"schedule for deletion at restart", name);
}

HANDLE OpenExistingFile(const wchar_t* name, DWORD access, DWORD share) {
  HANDLE file =
      CreateFileW(name, access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  wchar_t longName[kPathSize];
  if (file == INVALID_HANDLE_VALUE && LongFormForRetry(name, longName))
    file = CreateFileW(longName, access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
  return file;
}

const wchar_t* WindowsName(const wchar_t* name, wchar_t* buffer) {
  if (TextLength(name) < kPlainNameLimit || !MakeLongPath(name, buffer, kPathSize)) return name;
  return buffer;
}

unsigned GetFileAttr(const wchar_t* name) {
  DWORD attr = GetFileAttributesW(name);
  if (attr != INVALID_FILE_ATTRIBUTES) return attr;
  wchar_t longName[kPathSize];
  if (!LongFormForRetry(name, longName)) return INVALID_FILE_ATTRIBUTES;
  return GetFileAttributesW(longName);
}

bool FileExist(const wchar_t* name) { return GetFileAttr(name) != INVALID_FILE_ATTRIBUTES; }

bool IsDir(unsigned attr) {
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The all-bits-set word means "no attributes"; it must not read as a link either.
bool IsLink(unsigned attr) {
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

uint64_t GetFreeDisk(const wchar_t* name) {
  wchar_t folder[kPathSize];
  GetFilePath(name, folder, kPathSize);
  ULARGE_INTEGER available, totalFree;
  bool ok;
  if (folder[0] == 0) {
    ok = FreeSpaceOf(nullptr, available, totalFree);
  } else {
    ok = FreeSpaceOf(folder, available, totalFree);
    wchar_t longFolder[kPathSize];
    if (!ok && LongFormForRetry(folder, longFolder))
      ok = FreeSpaceOf(longFolder, available, totalFree);
  }
  // Guards against a quota figure that the volume itself cannot hold.
  if (!ok || available.HighPart > totalFree.HighPart) return 0;
  return available.QuadPart;
}

HANDLE CreateNewFile(const wchar_t* name, DWORD access, DWORD share,
                     SECURITY_ATTRIBUTES* security) {
  HANDLE file = CreateFileW(name, access, share, security, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  DWORD error = GetLastError();
  wchar_t longName[kPathSize];
  // Something standing at the name is there under its long form too.
  if (file == INVALID_HANDLE_VALUE && error != ERROR_FILE_EXISTS &&
      error != ERROR_ALREADY_EXISTS && LongFormForRetry(name, longName))
    file = CreateFileW(longName, access, share, security, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
  Logged(file != INVALID_HANDLE_VALUE, L"create file", name);
  return file;
}

bool MarkForDeletion(HANDLE file, bool mark) {
  FILE_DISPOSITION_INFO disposition = {mark};
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
}

HANDLE CreateRandomFile(const wchar_t* prefix, const wchar_t* suffix, DWORD access, DWORD share,
                        SECURITY_ATTRIBUTES* security, wchar_t* name) {
  for (unsigned tries = 0; tries < kNewFileTries && MakeRandomName(prefix, suffix, name, kPathSize);
       tries++) {
    HANDLE file = CreateNewFile(name, access, share, security);
    DWORD error = GetLastError();
    if (file != INVALID_HANDLE_VALUE ||
        (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS))
      return file;
  }
  return INVALID_HANDLE_VALUE;
}

HANDLE CreatePendingFile(const wchar_t* name, wchar_t* temp) {
  wchar_t prefix[kPathSize];
  CopyText(prefix, name, kPathSize);
  AppendText(prefix, L".", kPathSize);
  if (TextLength(prefix) != TextLength(name) + 1) return INVALID_HANDLE_VALUE;
  ScopedHandle file(
      CreateRandomFile(prefix, kNewFileSuffix, GENERIC_WRITE | DELETE, 0, nullptr, temp));
  // Without the mark a kill would leave the file; without the file nothing is left.
  if (file && MarkForDeletion(file.get(), true)) return file.release();
  if (file) {
    file.reset();
    DelFile(temp);
  }
  return INVALID_HANDLE_VALUE;
}

bool WriteNewFile(const wchar_t* name, const void* data, unsigned size) {
  wchar_t temp[kPathSize];
  bool written;
  {
    ScopedHandle file(CreatePendingFile(name, temp));
    if (!file) return false;
    DWORD done = 0;
    written = WriteFile(file.get(), data, size, &done, nullptr) && done == size &&
              MarkForDeletion(file.get(), false);
  }
  // The file at temp is this call's own: deleting it reaches no link.
  if (written && ReplaceEntry(temp, name)) return Logged(true, L"write file", name);
  Logged(false, L"write file", name);
  DelFile(temp);
  return false;
}

unsigned long CheckFolderChangeAccess(const wchar_t* name) {
  const wchar_t* denied = folderAccessOverride.deniedFolder;
  if (denied[0] && CompareStringOrdinal(name, -1, denied, -1, TRUE) == CSTR_EQUAL)
    return ERROR_ACCESS_DENIED;
  ScopedHandle folder(OpenFolderForChange(name));
  wchar_t longName[kPathSize];
  if (!folder && LongFormForRetry(name, longName)) folder.reset(OpenFolderForChange(longName));
  return folder ? ERROR_SUCCESS : GetLastError();
}

void SetFolderAccessDeniedOverride(const wchar_t* name) {
  CopyText(folderAccessOverride.deniedFolder, name ? name : L"", kPathSize);
}
