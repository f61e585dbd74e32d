#include "integration/apply.h"

#include <windows.h>
#include <shlobj.h>

#include "base/convert.h"
#include "base/product.h"
#include "base/text.h"
#include "filesystem/fileops.h"
#include "filesystem/path.h"
#include "integration/associations.h"
#include "integration/shellext.h"
#include "integration/shortcuts.h"
#include "settings/registry.h"

namespace {

constexpr wchar_t kAppPathsFolder[] = L"Path";
// In the machine-wide program key "Software\Ombrix".
constexpr wchar_t kProgramKey[] = L"";
constexpr wchar_t kProgramPathName[] = L"exe32";
constexpr wchar_t kThemesKey[] = L"Interface\\Themes";
constexpr wchar_t kThemeIconName[] = L"ShellExtIcon";

struct ShellNotifications {
  unsigned associationChanges = 0;
};
ShellNotifications shellNotifications;

void WriteAppPaths(const wchar_t* program, const wchar_t* folder) {
  SetRegString(HKEY_LOCAL_MACHINE, kAppPathsKey, nullptr, program);
  SetRegString(HKEY_LOCAL_MACHINE, kAppPathsKey, kAppPathsFolder, folder);
}

}  // namespace

bool RegisterAppPaths() {
  wchar_t program[kPathSize];
  GetMainProgramPath(program, kPathSize);
  // Missing administrator rights show here first.
  if (SetRegString(HKEY_LOCAL_MACHINE, kAppPathsKey, nullptr, program) == ERROR_ACCESS_DENIED)
    return false;
  SetRegString(HKEY_LOCAL_MACHINE, kProgramKey, kProgramPathName, program);
  wchar_t folder[kPathSize];
  CopyText(folder, program, kPathSize);
  RemoveNameFromPath(folder);
  SetRegString(HKEY_LOCAL_MACHINE, kAppPathsKey, kAppPathsFolder, folder);
  // 32-bit and 64-bit programs look the name up in their own views.
  ScopedRegView view(RegViewFor(true));
  WriteAppPaths(program, folder);
  return true;
}

bool ApplyIntegration(const IntegrationOptions& options, wchar_t* programGroupOut,
                      unsigned programGroupSize) {
  if (!RegisterAppPaths()) return false;
  RegisterShellExtensions(false, options);
  AssociateAll(options);
  if (!RegisterProgIds()) return false;
  // The theme's icon goes into shortcuts that every user of the computer opens, but any process of
  // the user can name it: only a file in the program's own folder, where the program those
  // shortcuts start lies, is taken.
  wchar_t icon[kPathSize], iconFolder[kPathSize], folder[kPathSize];
  GetSettingString(kThemesKey, kThemeIconName, icon, L"", kPathSize);
  CopyText(iconFolder, icon, kPathSize);
  RemoveNameFromPath(iconFolder);
  GetMainProgramPath(folder, kPathSize);
  RemoveNameFromPath(folder);
  bool haveIcon = icon[0] != 0 && CompareNoCase(iconFolder, folder) == 0 && FileExist(icon);
  UpdateShortcuts(options, programGroupOut, programGroupSize, haveIcon ? icon : nullptr);
  return true;
}

void NotifyAssociationsChanged() {
  shellNotifications.associationChanges++;
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST | SHCNF_FLUSH, nullptr, nullptr);
}

unsigned AssociationNotificationCount() { return shellNotifications.associationChanges; }
