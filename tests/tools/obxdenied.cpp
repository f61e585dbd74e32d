// The program itself, with registry writes refused as on Windows without administrator rights
// (Wine enforces no registry security). End-to-end tests copy it into an installation folder in
// place of uninstall.exe. The variable OBXDENY names the refused keys: entries separated by ';',
// each a root ("HKLM", "HKCU" or "HKCR") optionally followed by a backslash and a full path below
// it, for example "HKLM;HKCR" or "HKCU\Software\Ombrix"; the entry "FOLDER" refuses changes to
// the program's own folder (deleting it, adding files), which Wine never refuses either; the entry
// "ADMINONLY" makes that folder one that only administrators can change, which Wine cannot.
#include <windows.h>

#include "base/convert.h"
#include "driver/startup.h"
#include "filesystem/fileops.h"
#include "filesystem/path.h"
#include "filesystem/secure.h"
#include "settings/registry.h"

namespace {

constexpr wchar_t kDenyVariable[] = L"OBXDENY";
constexpr unsigned kDenySize = 2048;

struct RootName {
  const wchar_t* name;
  HKEY root;
};
const RootName kRoots[] = {{L"HKLM", HKEY_LOCAL_MACHINE},
                               {L"HKCU", HKEY_CURRENT_USER},
                               {L"HKCR", HKEY_CLASSES_ROOT}};

constexpr wchar_t kFolderEntry[] = L"FOLDER";
constexpr wchar_t kAdminOnlyEntry[] = L"ADMINONLY";

void DenyOwnFolder(bool adminOnly) {
  wchar_t folder[kPathSize];
  DWORD length = GetModuleFileNameW(nullptr, folder, kPathSize);
  if (length == 0 || length >= kPathSize) return;
  RemoveNameFromPath(folder);  // the form the uninstallation asks about
  if (adminOnly)
    SetAdminOnlyFolderOverride(folder);
  else
    SetFolderAccessDeniedOverride(folder);
}

void DenyEntry(wchar_t* entry) {
  if (CompareNoCase(entry, kFolderEntry) == 0) return DenyOwnFolder(false);
  if (CompareNoCase(entry, kAdminOnlyEntry) == 0) return DenyOwnFolder(true);
  wchar_t* path = entry;
  while (*path && *path != L'\\') path++;
  if (*path) *path++ = 0;
  for (const RootName& root : kRoots)
    if (CompareNoCase(entry, root.name) == 0) DenyRegistryWrites(root.root, path);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
  wchar_t denials[kDenySize];
  DWORD got = GetEnvironmentVariableW(kDenyVariable, denials, kDenySize);
  if (got >= kDenySize) return 3;
  if (got == 0) denials[0] = 0;
  for (wchar_t* entry = denials; *entry;) {
    wchar_t* end = entry;
    while (*end && *end != L';') end++;
    bool last = *end == 0;
    *end = 0;
    DenyEntry(entry);
    if (last) break;
    entry = end + 1;
  }
  return RunProgram(instance);
}
