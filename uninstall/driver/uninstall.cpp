#include "driver/uninstall.h"

#include <shlobj.h>

#include "base/convert.h"
#include "base/owners.h"
#include "base/product.h"
#include "base/text.h"
#include "driver/filelist.h"
#include "driver/listdeletion.h"
#include "driver/record.h"
#include "driver/runstate.h"
#include "driver/selfremoval.h"
#include "filesystem/fileops.h"
#include "filesystem/findfile.h"
#include "filesystem/log.h"
#include "filesystem/path.h"
#include "filesystem/secure.h"
#include "filesystem/tree.h"
#include "integration/apply.h"
#include "integration/associations.h"
#include "integration/handlerbackup.h"
#include "integration/options.h"
#include "integration/shellext.h"
#include "integration/shortcuts.h"
#include "localisation/langmodule.h"
#include "localisation/messages.h"
#include "settings/registry.h"
#include "settings/store.h"

namespace {

constexpr const wchar_t* kHelpIndexFiles[] = {L"ombrix.gid", L"ombrix.fts"};
// The main program's browser control leaves its data there.
constexpr wchar_t kWebViewFolderName[] = OBX_PRODUCT_NAME L".exe.WebView2";
constexpr wchar_t kTempFolderValue[] = L"TempFolder";
constexpr wchar_t kFallbackTempFolder[] = L"\\obxtemp";

constexpr unsigned kNoteSize = 256;
constexpr unsigned kListErrorSize = 200;

constexpr UINT kQuestionFlags = MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND;
constexpr UINT kErrorFlags = MB_ICONERROR | MB_SETFOREGROUND;
constexpr UINT kNoteFlags = MB_ICONINFORMATION | MB_SETFOREGROUND;

// Held from its creation until the process ends.
RemovalBatch removalBatch;

void ShowListError() {
  wchar_t text[kListErrorSize];
  // The format comes from an editable language file: only "%s" is filled in.
  SubstituteText(text, kListErrorSize, GetMsg(IDS_CANNOTOPENLIST), kListFileName);
  ShowMessage(nullptr, text, GetMsg(IDS_UNINSTALLOBX), kErrorFlags);
}

// True when folder (ending in a backslash) holds name and nothing else.
bool HoldsOnly(const wchar_t* folder, const wchar_t* name) {
  FindFile find;
  wchar_t mask[kPathSize];
  MakeName(folder, L"*", mask, kPathSize);
  find.SetMask(mask);
  FindData data;
  bool seen = false;
  while (find.Next(data)) {
    if (CompareNoCase(PointToName(data.name), name) != 0) return false;
    seen = true;
  }
  return seen && !data.error;
}

}  // namespace

bool GetProgramFolder(const wchar_t* program, wchar_t* out, unsigned size) {
  if (size == 0) return false;
  CopyText(out, program, size);
  wchar_t* slash = nullptr;
  for (wchar_t* p = out; *p; p++)
    if (*p == L'\\') slash = p;
  if (!slash) return false;
  if (slash > out && slash[-1] == L':')
    slash[1] = 0;
  else
    *slash = 0;
  return true;
}

void GetTempFolder(wchar_t* out, unsigned size) {
  if (size == 0) return;
  wchar_t value[kPathSize];
  GetSettingString(kPathsKey, kTempFolderValue, value, L"", kPathSize);
  wchar_t expanded[kPathSize];
  DWORD length = ExpandEnvironmentStringsW(value, expanded, kPathSize);
  if (length > 0 && length <= kPathSize) CopyText(value, expanded, kPathSize);
  if ((value[0] == 0 || !FileExist(value)) && !GetUserTempFolder(value))
    CopyText(value, kFallbackTempFolder, kPathSize);
  CopyText(out, value, size);
  AddEndSlash(out, size);
}

void RemoveWebViewData(const wchar_t* tempFolder) {
  wchar_t webView[kPathSize];
  MakeName(tempFolder, kWebViewFolderName, webView, kPathSize);
  DeleteTree(webView);
}

void RemoveIntegration() {
  RegBatch batch;  // every key opened once for all its changes
  IntegrationOptions options = {};  // every choice off: each step takes back what it wrote
  AssociateAll(options);
  // ".rev" goes back to its previous handler like every extension, before the backups go.
  ReleaseRecoveryExtension();
  RegisterShellExtensions(true, options);
  UpdateShortcuts(options, nullptr, 0, nullptr);
  for (const wchar_t* key : kProductTypes) DeleteRegTree(HKEY_CLASSES_ROOT, key);
  DeleteRegTree(HKEY_CURRENT_USER, L"");
  // The MSI package owns the record and App Paths.
  if (!runState.msiMode) {
    DeleteRegKey(HKEY_LOCAL_MACHINE, kAppPathsKey);
    // Setup registers the main program in the 64-bit view too on 64-bit Windows.
    ScopedRegView view(RegViewFor(true));
    DeleteRegKey(HKEY_LOCAL_MACHINE, kAppPathsKey);
  }
  NotifyAssociationsChanged();
}

bool HasUninstallRights(const wchar_t* installFolder) {
  if (CheckRegWriteAccess(HKEY_CLASSES_ROOT, kProductTypes[0]) == ERROR_ACCESS_DENIED)
    return false;
  if (runState.msiMode) return true;
  return CheckRegWriteAccess(HKEY_LOCAL_MACHINE, kUninstallRecordKey) != ERROR_ACCESS_DENIED &&
         CheckFolderChangeAccess(installFolder) != ERROR_ACCESS_DENIED;
}

void RunUninstall() {
  // Settings found only now (an ini file that appeared after setup) do not steer the removal.
  FollowRecordedSettingsStore(HKEY_LOCAL_MACHINE, kUninstallRecordKey);
  wchar_t program[kPathSize];
  if (!GetProgramFile(program, kPathSize)) return;
  wchar_t folder[kPathSize];
  if (!GetProgramFolder(program, folder, kPathSize)) return;
  // Before anything is asked or changed: without the rights the run would remove only part of
  // the installation and look successful.
  bool rights = HasUninstallRights(folder);
  LogLine(L"rights check (class key%s): %s",
          runState.msiMode ? L"" : L", installed-programs record, installation folder",
          rights ? L"granted" : L"denied");
  if (!rights) {
    ShowRightsError(IDS_UNINSTALLNORIGHTS, IDS_UNINSTALLOBX, ERROR_ACCESS_DENIED);
    runState.outcome = Outcome::kNoRights;
    return;
  }
  bool entered = SetCurrentDirectoryW(folder) != 0;
  // What the batch file removes: the folder itself, not the current directory, which stays
  // elsewhere when the folder cannot be entered.
  wchar_t installFolder[kPathSize];
  CopyText(installFolder, folder, kPathSize);
  AddEndSlash(folder, kPathSize);

  if (!runState.silent &&
      ShowMessage(nullptr, GetMsg(IDS_CONTINUEUNINSTALL), GetMsg(IDS_UNINSTALLOBX),
                  kQuestionFlags) != IDYES) {
    runState.outcome = Outcome::kDeclined;
    return;
  }

  // The package owns the files and need not install the list.
  if (runState.msiMode) {
    RemoveIntegration();
    if (GetRegKeyCounts().failedChanges > 0) runState.outcome = Outcome::kIncomplete;
    return;
  }

  const wchar_t* programName = PointToName(program);
  wchar_t listPath[kPathSize];
  MakeName(folder, kListFileName, listPath, kPathSize);
  // Open until the end, so that the passes cannot delete it: a run stopped before the end finds
  // it again and can start over.
  ScopedHandle list(OpenExistingFile(listPath, GENERIC_READ, FILE_SHARE_READ));
  FileList files;
  bool known = list ? ReadFileList(list.get(), files)
                    // A run stopped after the list went leaves the program alone in its folder,
                    // and the record, which only an administrator can write, still naming it.
                    : GetLastError() == ERROR_FILE_NOT_FOUND && HoldsOnly(folder, programName) &&
                          RecordNamesProgram(program);
  if (!known) {
    ShowListError();
    runState.outcome = Outcome::kIncomplete;
    return;
  }

  // Fetched now: the language module goes before they are shown.
  wchar_t rebootNote[kNoteSize], caption[kNoteSize], leftFormat[kNoteSize];
  LoadMsg(IDS_REBOOTREQUIRED, rebootNote, kNoteSize);
  LoadMsg(IDS_UNINSTALLOBX, caption, kNoteSize);
  LoadMsg(IDS_UNINSTALLSHOULDDELETE, leftFormat, kNoteSize);
  // Looked up now: the settings that may name it go with the integration.
  wchar_t temp[kPathSize];
  GetTempFolder(temp, kPathSize);

  RemoveIntegration();
  languageModule.Free();

  // Settings kept in "Ombrix.ini" are written now; a save at process end would bring the file
  // back into a folder that is about to go.
  SaveIniLast();

  for (const wchar_t* name : kHelpIndexFiles) {
    wchar_t path[kPathSize];
    MakeName(folder, name, path, kPathSize);
    unsigned attr = GetFileAttr(path);
    if (attr == INVALID_FILE_ATTRIBUTES || IsDir(attr)) continue;
    if (!IsLink(attr)) ClearAttributes(path);
    DelFile(path);
  }
  DeletionResult result = DeleteListedFiles(files, folder, programName);

  RemoveWebViewData(temp);

  // The folder, emptied at the restart, goes then too, whoever started the run.
  if (result.scheduled) {
    ShowMessage(nullptr, rebootNote, caption, kNoteFlags);
    if (CompareNoCase(PointToName(installFolder), kProductName) == 0)
      ScheduleDeletion(installFolder);
    if (runState.outcome == Outcome::kDone) runState.outcome = Outcome::kRestartNeeded;
  }
  // Nothing promises these a restart: the user is told to delete them.
  if (result.unscheduled > 0) {
    wchar_t text[kLeftFilesSize + kNoteSize];
    SubstituteText(text, kLeftFilesSize + kNoteSize, leftFormat, result.left);
    ShowMessage(nullptr, text, caption, kNoteFlags);
    runState.outcome = Outcome::kIncomplete;
  }

  list.reset();
  DelFile(listPath);

  // Out of the folder, so that this process does not hold it.
  if (entered) SetCurrentDirectoryW(L"..");
  // Started before the program file moves, the batch waits for this process's end; till the
  // move a run stopped here finds the program and the record again.
  bool started = CreateRemovalBatch(removalBatch) && StartRemovalBatch(removalBatch);
  LogStep(started ? ERROR_SUCCESS : GetLastError(), L"start self-removal batch %s",
          removalBatch.path);
  if (started) {
    // Beside the batch, the folder can go at once, and the batch has no business with it: a setup
    // that fills it again at once keeps what it puts there. Else (another drive) beside itself.
    wchar_t aside[kPathSize];
    bool movedOut = MoveProgramAside(program, removalBatch.path, aside);
    if (movedOut) {
      RemoveFolder(installFolder);
    } else if (!MoveProgramAside(program, program, aside)) {
      CopyText(aside, program, kPathSize);
    }
    // A copy in the temp folder is no installation's file, and may stay for the system to clean;
    // one in a folder a standard user can change is never started by an elevated batch.
    // A batch that cannot be written ends without its lines: the program file stays behind.
    if (!WriteRemovalBatch(removalBatch, aside, movedOut ? nullptr : installFolder,
                           !movedOut && !runState.silent && ElevatedMayUse(aside)))
      runState.outcome = Outcome::kIncomplete;
  } else {
    DiscardRemovalBatch(removalBatch);
    // The program file and its folder stay.
    runState.outcome = Outcome::kIncomplete;
  }
  // Last: until now it is what lets a run stopped on the way finish without the list.
  DeleteRegKey(HKEY_LOCAL_MACHINE, kUninstallRecordKey);
  // A refused change leaves part of the installation behind.
  if (GetRegKeyCounts().failedChanges > 0) runState.outcome = Outcome::kIncomplete;
}

void ResetUninstallState() { DiscardRemovalBatch(removalBatch); }
