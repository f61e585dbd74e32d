#include "integration/templates.h"

#include <windows.h>

#include "filesystem/fileops.h"
#include "filesystem/findfile.h"
#include "filesystem/path.h"
#include "localisation/text.h"
#include "settings/registry.h"
#include "settings/store.h"

namespace {

constexpr wchar_t kObxTemplateName[] = L"obxnew.dat";
constexpr wchar_t kZipTemplateName[] = L"zipnew.dat";
constexpr wchar_t kShellNewKeyFormat[] = L"%s\\ShellNew";
constexpr wchar_t kFileNameValue[] = L"FileName";
constexpr wchar_t kNullFileValue[] = L"NullFile";
constexpr wchar_t kBackupKeyFormat[] = L"Setup\\%s";
constexpr wchar_t kExistValue[] = L"Exist";
constexpr wchar_t kShellNewValue[] = L"ShellNew";
constexpr wchar_t kNullFileMark = L'*';
constexpr wchar_t kMenuItemsKey[] = L"Setup\\MenuItems";
constexpr wchar_t kNewObxValue[] = L"NewOBX";
constexpr wchar_t kNewZipValue[] = L"NewZIP";

constexpr unsigned kBackupKeySize = 64;

// Empty archives. The first byte is filled in only when a file is written, so that this program's
// own image never carries a complete archive signature.
unsigned char obxTemplate[24] = {0x00, 'b',  'x',  '!',  0x1A, 0x07, 0x01, 0x00,
                                 0xC1, 0xDF, 0x5F, 0x56, 0x03, 0x01, 0x04, 0x00,
                                 0x1D, 0x77, 0x56, 0x51, 0x03, 0x05, 0x04, 0x00};
unsigned char zipTemplate[22] = {0x00, 'K', 0x05, 0x06};
constexpr unsigned char kObxFirstByte = 'O';
constexpr unsigned char kZipFirstByte = 'P';

void ShellNewKey(const wchar_t* ext, wchar_t* out) {
  FormatText(out, kPathSize, kShellNewKeyFormat, ext);
}

}  // namespace

bool NewFileWanted(bool shellExt, bool isObxRow, bool isZipRow) {
  bool newObx = GetSettingDword(kMenuItemsKey, kNewObxValue, 1) != 0;
  bool newZip = GetSettingDword(kMenuItemsKey, kNewZipValue, 1) != 0;
  return shellExt && (!isObxRow || newObx) && (!isZipRow || newZip);
}

void InstallNewFileTemplate(const wchar_t* ext, bool isObxRow) {
  wchar_t shellNewKey[kPathSize];
  ShellNewKey(ext, shellNewKey);
  DeleteRegKey(HKEY_CLASSES_ROOT, shellNewKey);

  unsigned char* bytes = isObxRow ? obxTemplate : zipTemplate;
  unsigned size = isObxRow ? sizeof obxTemplate : sizeof zipTemplate;
  bytes[0] = isObxRow ? kObxFirstByte : kZipFirstByte;

  wchar_t path[kPathSize];
  if (GetModuleFileNameW(nullptr, path, kPathSize) >= kPathSize) path[0] = 0;
  SetName(path, isObxRow ? kObxTemplateName : kZipTemplateName, kPathSize);

  // A template of the right size is taken as intact, whoever wrote it; a link is replaced by a
  // file of its own, its target left as it is.
  FindData found;
  bool intact = FindFile::FastFind(path, found) && !found.isDir && !found.isLink &&
                found.size == size;
  // An installation whose ini file switches integration off must leave the disk as it was; the
  // ShellNew entry below is dropped by the registry layer in that case anyway.
  if (!intact && IntegrationAllowed()) {
    WriteNewFile(path, bytes, size);
  }
  SetRegString(HKEY_CLASSES_ROOT, shellNewKey, kFileNameValue, path);
}

void RestoreNewFileHandler(const wchar_t* ext) {
  wchar_t backup[kBackupKeySize];
  FormatText(backup, kBackupKeySize, kBackupKeyFormat, ext);
  wchar_t shellNewKey[kPathSize];
  ShellNewKey(ext, shellNewKey);
  if (GetSettingDword(backup, kExistValue, 1) == 0) {
    DeleteRegKey(HKEY_CLASSES_ROOT, shellNewKey);
    return;
  }
  wchar_t saved[kPathSize];
  GetSettingString(backup, kShellNewValue, saved, L"", kPathSize);
  DeleteRegValue(HKEY_CLASSES_ROOT, shellNewKey, kFileNameValue);
  if (saved[0] == kNullFileMark)
    SetRegString(HKEY_CLASSES_ROOT, shellNewKey, kNullFileValue, L"");
  else if (saved[0])
    SetRegString(HKEY_CLASSES_ROOT, shellNewKey, kFileNameValue, saved);
}
