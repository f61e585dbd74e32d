#include "integration/shortcuts.h"

#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <windows.h>

#include "base/ole.h"
#include "base/owners.h"
#include "base/product.h"
#include "base/text.h"
#include "base/winver.h"
#include "filesystem/fileops.h"
#include "filesystem/findfile.h"
#include "filesystem/log.h"
#include "filesystem/path.h"
#include "filesystem/tree.h"
#include "localisation/messages.h"
#include "settings/store.h"

namespace {

constexpr wchar_t kLinkFileName[] = OBX_PRODUCT_NAME L".lnk";
constexpr wchar_t kLinkExtension[] = L".lnk";
constexpr wchar_t kAllFilesMask[] = L"*";

constexpr wchar_t kManualFile[] = L"Obx.txt";

constexpr unsigned kGroupEntries = 4;

// The program group's entries with their texts copied out of the message buffers, which later
// lookups would reuse.
struct GroupEntry {
  wchar_t linkName[kMessageSize];
  wchar_t target[kPathSize];
};

// Language files may be edited by anyone: a shortcut name stays a plain name inside the group
// folder, whatever the text holds.
void MakeSafeFileName(wchar_t* name) {
  for (wchar_t* p = name; *p; p++) {
    if (*p < 0x20 || *p == L'\\' || *p == L'/' || *p == L':' || *p == L'*' || *p == L'?' ||
        *p == L'"' || *p == L'<' || *p == L'>' || *p == L'|')
      *p = L'_';
  }
}

void ProgramFolderFile(const wchar_t* name, wchar_t* out) {
  GetProgramFolderFile(name, out, kPathSize);
}

void LoadGroupEntries(GroupEntry (&entries)[kGroupEntries]) {
  static const unsigned kNameIds[kGroupEntries] = {0, IDS_OMBRIXHELP, IDS_OBXHELP, IDS_WHATSNEW};
  wchar_t whatsNew[kMessageSize];
  LoadMsg(IDS_WHATSNEWNAME, whatsNew, kMessageSize);
  const wchar_t* targets[kGroupEntries] = {kMainProgramName, kHelpLinkTarget, kManualFile,
                                           PointToName(whatsNew)};
  for (unsigned i = 0; i < kGroupEntries; i++) {
    if (i == 0)
      CopyText(entries[i].linkName, kProductName, kMessageSize);
    else
      LoadMsg(kNameIds[i], entries[i].linkName, kMessageSize);
    MakeSafeFileName(entries[i].linkName);
    // Only the name part of a translated file name counts: every target lives beside us.
    if (targets[i][0])
      ProgramFolderFile(targets[i], entries[i].target);
    else
      entries[i].target[0] = 0;
  }
}

// Stale shortcuts go; subfolders the user made inside the group stay. A group that is a link
// leads elsewhere, so nothing is deleted through it.
void DeleteFilesIn(const wchar_t* folder) {
  unsigned attr = GetFileAttr(folder);
  if (!IsDir(attr) || IsLink(attr)) return;
  wchar_t mask[kPathSize];
  MakeName(folder, kAllFilesMask, mask, kPathSize);
  FindFile find;
  find.SetMask(mask);
  FindData data;
  while (find.Next(data))
    if (!data.isDir) DelFile(data.name);
}

void CreateGroupShortcuts(const wchar_t* group, const GroupEntry (&entries)[kGroupEntries],
                          const wchar_t* workingFolder, const wchar_t* description,
                          const wchar_t* iconPath) {
  for (unsigned i = 0; i < kGroupEntries; i++) {
    const GroupEntry& entry = entries[i];
    // A missing target or an empty translation would give a broken or nameless shortcut.
    if (!entry.linkName[0] || !entry.target[0]) continue;
    unsigned attr = GetFileAttr(entry.target);
    if (attr == INVALID_FILE_ATTRIBUTES || IsDir(attr)) continue;
    wchar_t link[kPathSize];
    MakeName(group, entry.linkName, link, kPathSize);
    AppendText(link, kLinkExtension, kPathSize);
    CreateShortcut(true, entry.target, link, workingFolder, description,
                   i == 0 ? iconPath : nullptr, nullptr);
  }
}

// The group folder inside a Programs folder; false when that folder is unknown.
bool GroupFolder(int csidl, wchar_t* out) {
  if (!GetSpecialFolder(out, kPathSize, csidl)) return false;
  AddEndSlash(out, kPathSize);
  AppendText(out, kProductName, kPathSize);
  return true;
}

void UpdateDesktopLink(const IntegrationOptions& options, const wchar_t* program,
                       const wchar_t* description, const wchar_t* iconPath,
                       const wchar_t* userFolder) {
  wchar_t userLink[kPathSize] = {};
  if (userFolder) MakeName(userFolder, kLinkFileName, userLink, kPathSize);
  wchar_t commonLink[kPathSize] = {};
  wchar_t folder[kPathSize];
  if (GetSpecialFolder(folder, kPathSize, CSIDL_COMMON_DESKTOPDIRECTORY))
    MakeName(folder, kLinkFileName, commonLink, kPathSize);
  // Only one of the two is touched: an existing user link, else the all-users one.
  const wchar_t* link = userLink[0] && FileExist(userLink) ? userLink : commonLink;
  if (!link[0]) return;
  if (options.linkDesktop)
    CreateShortcut(true, program, link, nullptr, description, iconPath, nullptr);
  else
    DelFile(link);
}

void UpdateStartMenuLink(const IntegrationOptions& options, bool vista, const wchar_t* program,
                         const wchar_t* workingFolder, const wchar_t* description,
                         const wchar_t* iconPath) {
  wchar_t link[kPathSize];
  if (!GetSpecialFolder(link, kPathSize, vista ? CSIDL_COMMON_STARTMENU : CSIDL_STARTMENU))
    return;
  AddEndSlash(link, kPathSize);
  AppendText(link, kLinkFileName, kPathSize);
  if (options.linkStartMenu)
    CreateShortcut(true, program, link, workingFolder, description, iconPath, nullptr);
  else
    DelFile(link);
}

}  // namespace

bool CreateShortcut(bool loadExisting, const wchar_t* target, const wchar_t* linkPath,
                    const wchar_t* workingFolder, const wchar_t* description,
                    const wchar_t* iconPath, const wchar_t* arguments) {
  EnsureCom();
  ComPtr<IShellLinkW> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              link.put_void())))
    return false;
  ComPtr<IPersistFile> file;
  if (FAILED(link->QueryInterface(IID_IPersistFile, file.put_void()))) return false;
  // A missing file simply starts a new shortcut; an existing one keeps its hot key, show
  // command and arguments.
  if (loadExisting) file->Load(linkPath, STGM_READWRITE);
  link->SetPath(target);
  if (description) link->SetDescription(description);
  link->SetIconLocation(iconPath ? iconPath : L"", 0);
  if (arguments) link->SetArguments(arguments);
  if (workingFolder) link->SetWorkingDirectory(workingFolder);
  HRESULT saved = file->Save(linkPath, TRUE);
  LogStep(static_cast<unsigned long>(saved), L"shortcut %s to %s", linkPath, target);
  return SUCCEEDED(saved);
}

void UpdateShortcuts(const IntegrationOptions& options, wchar_t* programGroupOut,
                     unsigned programGroupSize, const wchar_t* iconPath) {
  if (!IntegrationAllowed()) return;
  wchar_t program[kPathSize];
  ProgramFolderFile(kMainProgramName, program);
  bool vista = GetWindowsVersion() >= kWindowsVista;
  wchar_t description[kMessageSize];
  LoadMsg(IDS_OMBRIXDESC, description, kMessageSize);

  // A folder that cannot be found is never replaced by a relative name: creating or deleting
  // there would hit whatever the current folder holds.
  wchar_t desktop[kPathSize];
  bool desktopKnown = GetSpecialFolder(desktop, kPathSize, CSIDL_DESKTOPDIRECTORY);
  if (!desktopKnown && !vista) return;
  UpdateDesktopLink(options, program, description, iconPath, desktopKnown ? desktop : nullptr);

  const wchar_t* workingFolder = desktopKnown ? desktop : nullptr;
  UpdateStartMenuLink(options, vista, program, workingFolder, description, iconPath);

  GroupEntry entries[kGroupEntries];
  LoadGroupEntries(entries);
  wchar_t group[kPathSize];
  if (GroupFolder(CSIDL_PROGRAMS, group)) {
    if (options.linkPrograms) {
      if (programGroupOut) CopyText(programGroupOut, group, programGroupSize);
      DeleteFilesIn(group);
      CreateDirectoryW(group, nullptr);
      CreateGroupShortcuts(group, entries, workingFolder, description, iconPath);
    } else {
      DeleteTree(group);
    }
  }

  if (GroupFolder(CSIDL_COMMON_PROGRAMS, group)) {
    if (options.linkPrograms) {
      DeleteFilesIn(group);
      CreateDirectoryW(group, nullptr);
      if (programGroupOut && FileExist(group))
        CopyText(programGroupOut, group, programGroupSize);
      CreateGroupShortcuts(group, entries, workingFolder, description, iconPath);
    } else {
      DeleteTree(group);
    }
  }
}
