#include "integration/templates.h"

#include <windows.h>

#include "base/convert.h"
#include "base/product.h"
#include "base/text.h"
#include "filesystem/fileops.h"
#include "filesystem/findfile.h"
#include "filesystem/path.h"
#include "integration/handlerbackup.h"
#include "settings/registry.h"
#include "settings/store.h"

namespace {

constexpr wchar_t kObxTemplateName[] = L"obxnew.dat";
constexpr wchar_t kZipTemplateName[] = L"zipnew.dat";

constexpr unsigned kValueNameSize = 256;
// Deleting a value shifts the others down; a value that cannot be deleted ends the clearing.
constexpr unsigned kMaxClearedValues = 1024;

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

void TemplatePath(bool isObxRow, wchar_t* out) {
  GetProgramFolderFile(isObxRow ? kObxTemplateName : kZipTemplateName, out, kPathSize);
}

// Removes the values another program's entry had, leaving its subkeys alone.
void ClearValues(const wchar_t* key) {
  for (unsigned i = 0, index = 0; i < kMaxClearedValues; i++) {
    wchar_t name[kValueNameSize];
    if (EnumRegValue(HKEY_CLASSES_ROOT, key, index, name, kValueNameSize, nullptr, nullptr,
                     nullptr) != ERROR_SUCCESS)
      return;
    DWORD before = 0, after = 0, subkeys;
    CountRegKeyContents(HKEY_CLASSES_ROOT, key, &subkeys, &before);
    DeleteRegValue(HKEY_CLASSES_ROOT, key, name);
    CountRegKeyContents(HKEY_CLASSES_ROOT, key, &subkeys, &after);
    if (after >= before) index++;
  }
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
  wchar_t path[kPathSize];
  TemplatePath(isObxRow, path);
  // The entry found here is saved before the template replaces it; one that cannot be saved
  // completely keeps its place, without the product's template.
  if (!IsShellNewHeld(ext, path)) {
    if (!SaveShellNew(ext)) {
      NoteUnsavedHandler();
      return;
    }
    ClearValues(shellNewKey);
  }

  unsigned char* bytes = isObxRow ? obxTemplate : zipTemplate;
  unsigned size = isObxRow ? sizeof obxTemplate : sizeof zipTemplate;
  bytes[0] = isObxRow ? kObxFirstByte : kZipFirstByte;

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
  SetRegString(HKEY_CLASSES_ROOT, shellNewKey, kShellNewFileNameValue, path);
}

void RestoreNewFileHandler(const wchar_t* ext, bool isObxRow, bool owned) {
  wchar_t path[kPathSize];
  TemplatePath(isObxRow, path);
  // Another program that took the extension over may have made its own New-menu entry since.
  wchar_t shellNewKey[kPathSize], fileName[kPathSize];
  ShellNewKey(ext, shellNewKey);
  GetRegString(HKEY_CLASSES_ROOT, shellNewKey, kShellNewFileNameValue, fileName, L"", kPathSize);
  if (owned || CompareNoCase(fileName, path) == 0) RestoreShellNew(ext, path);
}
