#include "driver/uninstall.h"

#include <shlobj.h>

#include <algorithm>
#include <cstdarg>
#include <cwchar>
#include <memory>
#include <new>

#include "base/array.h"
#include "base/convert.h"
#include "base/outcome.h"
#include "base/owners.h"
#include "base/product.h"
#include "base/text.h"
#include "driver/filelist.h"
#include "driver/record.h"
#include "driver/startup.h"
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

constexpr wchar_t kBatchNamePrefix[] = L"Uninstall_Obx_";
constexpr wchar_t kBatchExtension[] = L".Bat";
constexpr wchar_t kSystemTempName[] = L"Temp";
constexpr wchar_t kInterpreterName[] = L"cmd.exe";
constexpr const wchar_t* kHelpIndexFiles[] = {L"ombrix.gid", L"ombrix.fts"};
// The main program's browser control leaves its data there.
constexpr wchar_t kWebViewFolderName[] = OBX_PRODUCT_NAME L".exe.WebView2";
constexpr wchar_t kPathsKey[] = L"Paths";
constexpr wchar_t kTempFolderValue[] = L"TempFolder";
constexpr wchar_t kFallbackTempFolder[] = L"\\obxtemp";

constexpr wchar_t kTempNameFormat[] = L"%s.%u.tmp";
constexpr unsigned kLastTempNumber = 999;

// Reads the pipe whose other end only this process holds: it returns when this process has
// ended, however it ends, and not before; no program is started for it.
constexpr wchar_t kBatchWaitForEnd[] = L"set /p obx=\r\n";
constexpr wchar_t kBatchDelete[] = L"del \"%s\"\r\n";
constexpr wchar_t kBatchRemoveFolder[] = L"rd \"%s\"\r\n";
// A program's file may stay locked a moment after the end of its process: a second's pause by
// the system's own ping, by its full path, before the next try.
constexpr wchar_t kBatchCheckAndPause[] =
    L"if not exist \"%s\" goto done\r\n\"%s\" -n 2 127.0.0.1 >nul\r\n";
constexpr wchar_t kPauseProgram[] = L"ping.exe";
constexpr wchar_t kAsideExtension[] = L".exe";
constexpr wchar_t kBatchDone[] = L":done\r\n";
constexpr wchar_t kBatchWarning[] = L"if exist \"%s\" \"%s\" /warning\r\n";
// The batch by its bare name in the current folder: the name holds only letters, digits and "_",
// and ".\" keeps the interpreter from searching the path for it.
constexpr wchar_t kBatchCommand[] = L"cmd.exe /d /v:off /c .\\%s";
// Names already taken are passed over; a few random names cannot all be.
constexpr unsigned kBatchNameTries = 8;
constexpr unsigned kRemoveTries = 5;

constexpr unsigned kNoteSize = 256;
constexpr unsigned kListErrorSize = 200;
// A batch line holds up to three full paths, well within the interpreter's 8191 characters.
constexpr unsigned kBatchLineSize = 3 * kPathSize + 64;
constexpr unsigned kCommandLineSize = kPathSize + 64;

constexpr UINT kQuestionFlags = MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND;
constexpr UINT kErrorFlags = MB_ICONERROR | MB_SETFOREGROUND;
constexpr UINT kNoteFlags = MB_ICONINFORMATION | MB_SETFOREGROUND;

// Held from its creation until the process ends.
RemovalBatch removalBatch;

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

bool DeeperFirst(const ListedFolder& a, const ListedFolder& b) {
  return a.depth != b.depth ? a.depth > b.depth : a.line < b.line;
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

// Converts text to the interpreter's code page into out (bytes, terminator included); the length
// without terminator, or -1 when a character does not come back unchanged.
int ToInterpreterCodePage(const wchar_t* text, char* out, unsigned size) {
  UINT page = GetOEMCP();
  bool utf8 = page == CP_UTF8;  // takes neither the flag nor the default-character report
  BOOL defaulted = FALSE;
  int bytes = WideCharToMultiByte(page, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, text, -1, out,
                                  static_cast<int>(size), nullptr, utf8 ? nullptr : &defaulted);
  if (bytes == 0 || defaulted) return -1;
  unsigned length = TextLength(text) + 1;
  std::unique_ptr<wchar_t[]> back(new (std::nothrow) wchar_t[length]);
  if (!back) return -1;
  int chars = MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, out, bytes, back.get(),
                                  static_cast<int>(length));
  if (chars != static_cast<int>(length) || std::wcscmp(back.get(), text) != 0) return -1;
  return bytes - 1;
}

bool SurvivesInterpreter(const wchar_t* path) {
  char narrow[kPathSize * 4];
  return ToInterpreterCodePage(path, narrow, sizeof narrow) >= 0;
}

bool WriteFormattedLine(HANDLE file, const wchar_t* format, ...) {
  wchar_t line[kBatchLineSize];
  va_list args;
  va_start(args, format);
  int written = FormatTextV(line, kBatchLineSize, format, args);
  va_end(args);
  return written >= 0 && WriteBatchLine(file, line);
}

bool GetSystemFile(const wchar_t* name, wchar_t* out) {
  wchar_t system[kPathSize];
  UINT length = GetSystemDirectoryW(system, kPathSize);
  if (length == 0 || length >= kPathSize) return false;
  MakeName(system, name, out, kPathSize);
  return true;
}

bool WriteBatchLines(const RemovalBatch& batch, const wchar_t* program, const wchar_t* folder,
                     bool warning) {
  wchar_t p[kPathSize], d[kPathSize], b[kPathSize], pause[kPathSize], s[kPathSize];
  if (!MakeBatchPath(program, p, kPathSize) || (folder && !MakeBatchPath(folder, d, kPathSize)) ||
      !MakeBatchPath(batch.path, b, kPathSize) || !GetSystemFile(kPauseProgram, pause) ||
      !MakeBatchPath(pause, s, kPathSize))
    return false;
  HANDLE file = batch.file.get();
  for (unsigned i = 0; i < kRemoveTries; i++) {
    if (!WriteFormattedLine(file, kBatchDelete, p) ||
        (folder && !WriteFormattedLine(file, kBatchRemoveFolder, d)) ||
        !WriteFormattedLine(file, kBatchCheckAndPause, p, s))
      return false;
  }
  if (!WriteFormattedLine(file, kBatchDone)) return false;
  if (warning && !WriteFormattedLine(file, kBatchWarning, p, p)) return false;
  return WriteFormattedLine(file, kBatchDelete, b);
}

// Once closed, only an administrator can have replaced the batch of an elevated run; in the
// user's temp folder only the user, who gains nothing by it.
void DiscardRemovalBatch(RemovalBatch& batch) {
  batch.endSignal.reset();
  if (batch.file) {
    batch.file.reset();
    DelFile(batch.path);
  }
  batch.path[0] = 0;
}

// folder + "Uninstall_Obx_" + random digits; false when it does not fit or no randomness is had.
bool MakeRandomBatchName(const wchar_t* folder, wchar_t* out) {
  CopyText(out, folder, kPathSize);
  AddEndSlash(out, kPathSize);
  unsigned length = TextLength(out);
  AppendText(out, kBatchNamePrefix, kPathSize);
  return TextLength(out) == length + TextLength(kBatchNamePrefix) &&
         AppendRandomDigits(out, kPathSize);
}

// A new batch file directly in folder, under a fresh random name.
bool CreateBatchFileIn(const wchar_t* folder, SECURITY_ATTRIBUTES* security,
                       RemovalBatch& batch) {
  for (unsigned i = 0; i < kBatchNameTries; i++) {
    if (!MakeRandomBatchName(folder, batch.path) ||
        TextLength(batch.path) + TextLength(kBatchExtension) >= kPathSize)
      return false;
    AppendText(batch.path, kBatchExtension, kPathSize);
    batch.file.reset(CreateNewFile(batch.path, GENERIC_WRITE, FILE_SHARE_READ, security));
    if (batch.file) return WriteBatchLine(batch.file.get(), kBatchWaitForEnd);
    DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

bool GetSystemTempFolder(wchar_t* out) {
  wchar_t windows[kPathSize];
  UINT length = GetSystemWindowsDirectoryW(windows, kPathSize);
  if (length == 0 || length >= kPathSize) return false;
  MakeName(windows, kSystemTempName, out, kPathSize);
  return IsDir(GetFileAttr(out));
}

bool GetUserTempFolder(wchar_t* out) {
  DWORD length = GetTempPathW(kPathSize, out);
  return length > 0 && length < kPathSize;
}

void ShowListError() {
  wchar_t text[kListErrorSize];
  // The format comes from an editable language file: only "%s" is filled in.
  SubstituteText(text, kListErrorSize, GetMsg(IDS_CANNOTOPENLIST), kListFileName);
  ShowMessage(nullptr, text, GetMsg(IDS_UNINSTALLOBX), kErrorFlags);
}

// True when folder (ending in a backslash) holds nothing but name.
bool HoldsOnly(const wchar_t* folder, const wchar_t* name) {
  wchar_t mask[kPathSize];
  MakeName(folder, L"*", mask, kPathSize);
  WIN32_FIND_DATAW data;
  ScopedFindHandle find(FindFirstFileW(mask, &data));
  if (!find) return false;
  do {
    const wchar_t* found = data.cFileName;
    if (!IsDotEntry(found) && CompareNoCase(found, name) != 0) return false;
  } while (FindNextFileW(find.get(), &data));
  return true;
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
  std::sort(folders.data, folders.data + folders.count, DeeperFirst);
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

bool MakeBatchPath(const wchar_t* path, wchar_t* out, unsigned size) {
  if (size == 0) return false;
  out[0] = 0;
  wchar_t form[kPathSize];
  if (TextLength(path) >= kPathSize) return false;
  if (SurvivesInterpreter(path)) {
    CopyText(form, path, kPathSize);
  } else {
    DWORD length = GetShortPathNameW(path, form, kPathSize);
    if (length == 0 || length >= kPathSize || !SurvivesInterpreter(form)) return false;
  }
  // The interpreter expands "%" even within quotes.
  unsigned length = 0;
  for (const wchar_t* p = form; *p; p++) {
    unsigned needed = *p == L'%' ? 2 : 1;
    if (length + needed >= size) {
      out[0] = 0;
      return false;
    }
    out[length++] = *p;
    if (*p == L'%') out[length++] = L'%';
  }
  out[length] = 0;
  return true;
}

bool WriteBatchLine(HANDLE file, const wchar_t* text) {
  unsigned length = TextLength(text);
  // A UTF-16 unit takes at most three bytes, in any code page.
  unsigned size = length * 3 + 4;
  std::unique_ptr<char[]> narrow(new (std::nothrow) char[size]);
  if (!narrow) return false;
  int bytes = ToInterpreterCodePage(text, narrow.get(), size);
  if (bytes < 0) return false;
  DWORD written = 0;
  return WriteFile(file, narrow.get(), static_cast<DWORD>(bytes), &written, nullptr) &&
         written == static_cast<DWORD>(bytes);
}

bool CreateRemovalBatch(RemovalBatch& batch) {
  DiscardRemovalBatch(batch);
  wchar_t folder[kPathSize];
  if (!IsProcessElevated())
    return GetUserTempFolder(folder) && CreateBatchFileIn(folder, nullptr, batch);
  // Not the user's temp folder, where the user may delete and replace any file once this process
  // no longer holds it, while the interpreter still reads it line by line.
  AdminOnlySecurity security;
  return security.get() && GetSystemTempFolder(folder) &&
         CreateBatchFileIn(folder, security.get(), batch);
}

bool WriteRemovalBatch(RemovalBatch& batch, const wchar_t* program, const wchar_t* folder,
                       bool warning) {
  if (batch.file && WriteBatchLines(batch, program, folder, warning)) return true;
  DiscardRemovalBatch(batch);
  return false;
}

bool StartRemovalBatch(RemovalBatch& batch) {
  wchar_t interpreter[kPathSize];
  if (!GetSystemFile(kInterpreterName, interpreter)) return false;
  wchar_t folder[kPathSize];
  GetFilePath(batch.path, folder, kPathSize);
  const wchar_t* name = PointToName(batch.path);
  for (const wchar_t* c = name; *c; c++) {
    bool plain = (*c >= L'a' && *c <= L'z') || (*c >= L'A' && *c <= L'Z') ||
                 (*c >= L'0' && *c <= L'9') || *c == L'_' || *c == L'.';
    if (!plain) return false;
  }
  wchar_t command[kCommandLineSize];
  if (FormatText(command, kCommandLineSize, kBatchCommand, name) < 0) return false;
  // The batch's input: nobody but this process holds the writing end, which no child inherits.
  HANDLE read = nullptr, write = nullptr;
  if (!CreatePipe(&read, &write, nullptr, 0)) return false;
  ScopedHandle input(read);
  batch.endSignal.reset(write);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.wShowWindow = SW_HIDE;
  startup.hStdInput = read;
  PROCESS_INFORMATION process = {};
  if (!SetHandleInformation(read, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT) ||
      !CreateProcessW(interpreter, command, nullptr, nullptr, TRUE, 0, nullptr, folder, &startup,
                      &process)) {
    batch.endSignal.reset();
    return false;
  }
  ScopedHandle thread(process.hThread);
  ScopedHandle child(process.hProcess);
  return true;
}

bool MoveProgramAside(const wchar_t* program, const wchar_t* beside, wchar_t* aside) {
  wchar_t place[kPathSize];
  GetFilePath(beside, place, kPathSize);
  return MakeRandomBatchName(place, aside) &&
         TextLength(aside) + TextLength(kAsideExtension) < kPathSize &&
         (AppendText(aside, kAsideExtension, kPathSize), RenameFile(program, aside));
}

void GetTempFolder(wchar_t* out, unsigned size) {
  if (size == 0) return;
  wchar_t value[kPathSize];
  GetSettingString(kPathsKey, kTempFolderValue, value, L"", kPathSize);
  wchar_t expanded[kPathSize];
  DWORD length = ExpandEnvironmentStringsW(value, expanded, kPathSize);
  if (length > 0 && length <= kPathSize) CopyText(value, expanded, kPathSize);
  if (value[0] == 0 || GetFileAttributesW(value) == INVALID_FILE_ATTRIBUTES) {
    length = GetTempPathW(kPathSize, value);
    if (length == 0 || length >= kPathSize) CopyText(value, kFallbackTempFolder, kPathSize);
  }
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
    runState.exitCode = kExitNoRights;
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
    runState.exitCode = kExitDeclined;
    return;
  }

  // The package owns the files and need not install the list.
  if (runState.msiMode) {
    RemoveIntegration();
    if (GetRegKeyCounts().failedChanges > 0) runState.exitCode = kExitIncomplete;
    return;
  }

  const wchar_t* programName = PointToName(program);
  wchar_t listPath[kPathSize];
  MakeName(folder, kListFileName, listPath, kPathSize);
  // Open until the end, so that the passes cannot delete it: a run stopped before the end finds
  // it again and can start over.
  ScopedHandle list(CreateFileW(listPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  FileList files;
  bool known = list ? ReadFileList(list.get(), files)
                    // A run stopped after the list went leaves the program alone in its folder,
                    // and the record, which only an administrator can write, still naming it.
                    : GetLastError() == ERROR_FILE_NOT_FOUND && HoldsOnly(folder, programName) &&
                          RecordNamesProgram(program);
  if (!known) {
    ShowListError();
    runState.exitCode = kExitIncomplete;
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
  SaveIni();
  settingsStore.saveSettings = 0;

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
    if (runState.exitCode == kExitSuccess) runState.exitCode = kExitRestartNeeded;
  }
  // Nothing promises these a restart: the user is told to delete them.
  if (result.unscheduled > 0) {
    wchar_t text[kLeftFilesSize + kNoteSize];
    SubstituteText(text, kLeftFilesSize + kNoteSize, leftFormat, result.left);
    ShowMessage(nullptr, text, caption, kNoteFlags);
    runState.exitCode = kExitIncomplete;
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
      runState.exitCode = kExitIncomplete;
  } else {
    DiscardRemovalBatch(removalBatch);
    // The program file and its folder stay.
    runState.exitCode = kExitIncomplete;
  }
  // Last: until now it is what lets a run stopped on the way finish without the list.
  DeleteRegKey(HKEY_LOCAL_MACHINE, kUninstallRecordKey);
  // A refused change leaves part of the installation behind.
  if (GetRegKeyCounts().failedChanges > 0) runState.exitCode = kExitIncomplete;
}
