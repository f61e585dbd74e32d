#include "driver/uninstall.h"

#include <shlobj.h>

#include <cstdarg>
#include <cwchar>
#include <memory>
#include <new>

#include "driver/record.h"
#include "driver/startup.h"
#include "filesystem/fileops.h"
#include "filesystem/owners.h"
#include "filesystem/path.h"
#include "integration/associations.h"
#include "integration/options.h"
#include "integration/shellext.h"
#include "integration/shortcuts.h"
#include "localisation/convert.h"
#include "localisation/langmodule.h"
#include "localisation/messages.h"
#include "localisation/text.h"
#include "settings/registry.h"
#include "settings/store.h"

namespace {

constexpr wchar_t kListFileName[] = L"Uninstall.lst";
constexpr wchar_t kBatchFileName[] = L"Uninstall_Obx.Bat";
constexpr const wchar_t* kHelpIndexFiles[] = {L"ombrix.gid", L"ombrix.fts"};
constexpr wchar_t kWebViewFolderName[] = L"Ombrix.exe.WebView2";
constexpr wchar_t kInstallFolderName[] = L"Ombrix";
constexpr wchar_t kPathsKey[] = L"Paths";
constexpr wchar_t kTempFolderValue[] = L"TempFolder";
constexpr wchar_t kFallbackTempFolder[] = L"\\obxtemp";
constexpr wchar_t kComspecVariable[] = L"COMSPEC";
constexpr const wchar_t* kProductClassKeys[] = {L"Ombrix", L"Ombrix.ZIP", L"Ombrix.REV", L".rev"};
constexpr wchar_t kAppPathsKey[] =
    L"\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Ombrix.exe";

constexpr wchar_t kTempNameFormat[] = L"%s.%u.tmp";
constexpr unsigned kLastTempNumber = 999;

constexpr wchar_t kBatchStartWait[] = L"\"%s\" /wait\r\n";
constexpr wchar_t kBatchRemoveTry[] =
    L"del \"%s\"\r\nrd \"%s\"\r\nif not exist \"%s\" goto done\r\n";
constexpr wchar_t kBatchDone[] = L":done\r\n";
constexpr wchar_t kBatchWarning[] = L"if exist \"%s\" \"%s\" /warning\r\n";
constexpr wchar_t kBatchDeleteSelf[] = L"del \"%s\"\r\n";
// Quoted, so that a blank in the interpreter's path cannot start another program.
constexpr wchar_t kBatchCommand[] = L"\"%s\" /c \"%s\"";
constexpr unsigned kRemoveTries = 5;

constexpr unsigned kNoteSize = 256;
constexpr unsigned kListErrorSize = 200;
// Bytes of a list line including the terminator; longer lines are never cut into entries.
constexpr unsigned kListLineSize = 2048;
constexpr unsigned kListChunkSize = 16384;
// A batch line holds up to three full paths, well within the interpreter's 8191 characters.
constexpr unsigned kBatchLineSize = 3 * kPathSize + 64;
constexpr unsigned kCommandLineSize = 2 * kPathSize + 16;

constexpr UINT kQuestionFlags = MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND;
constexpr UINT kErrorFlags = MB_ICONERROR | MB_SETFOREGROUND;
constexpr UINT kNoteFlags = MB_ICONINFORMATION | MB_SETFOREGROUND;

// Reads "Uninstall.lst" line by line from its start, in chunks.
class ListReader {
 public:
  explicit ListReader(HANDLE file) : file_(file) {}
  bool Rewind() {
    pos_ = end_ = 0;
    LARGE_INTEGER zero = {};
    return SetFilePointerEx(file_, zero, nullptr, FILE_BEGIN) != 0;
  }
  // The next line without its LF; false at the end of the list. usable is false for a line that
  // does not fit (trailing blanks aside) or holds a zero byte: what is left of it would name
  // another file.
  bool Next(char* line, unsigned size, bool& usable) {
    unsigned length = 0;
    bool any = false;
    usable = true;
    for (;;) {
      if (pos_ == end_ && !Fill()) break;
      any = true;
      char ch = buffer_[pos_++];
      if (ch == '\n') break;
      if (ch == 0) usable = false;
      if (length + 1 < size)
        line[length++] = ch;
      else if (ch != ' ' && ch != '\t' && ch != '\r')
        usable = false;
    }
    line[length] = 0;
    return any;
  }

 private:
  bool Fill() {
    DWORD got = 0;
    if (!ReadFile(file_, buffer_, kListChunkSize, &got, nullptr) || got == 0) return false;
    pos_ = 0;
    end_ = got;
    return true;
  }

  HANDLE file_;
  char buffer_[kListChunkSize];
  unsigned pos_ = 0;
  unsigned end_ = 0;
};

void TrimLine(char* line) {
  unsigned length = TextLength(line);
  while (length > 0 && (line[length - 1] == ' ' || line[length - 1] == '\t' ||
                        line[length - 1] == '\r' || line[length - 1] == '\n'))
    line[--length] = 0;
}

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

// Each call first with the name as given, then once with its "\\?\" form.
bool ClearAttributes(const wchar_t* path) {
  if (SetFileAttributesW(path, 0)) return true;
  wchar_t longPath[kPathSize];
  return MakeLongPath(path, longPath, kPathSize) && SetFileAttributesW(longPath, 0);
}

bool RemoveFolder(const wchar_t* path) {
  if (RemoveDirectoryW(path)) return true;
  wchar_t longPath[kPathSize];
  return MakeLongPath(path, longPath, kPathSize) && RemoveDirectoryW(longPath);
}

bool RenameFile(const wchar_t* from, const wchar_t* to) {
  if (MoveFileW(from, to)) return true;
  wchar_t longFrom[kPathSize], longTo[kPathSize];
  return MakeLongPath(from, longFrom, kPathSize) && MakeLongPath(to, longTo, kPathSize) &&
         MoveFileW(longFrom, longTo);
}

bool ScheduleDeletion(const wchar_t* path) {
  if (MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) return true;
  wchar_t longPath[kPathSize];
  return MakeLongPath(path, longPath, kPathSize) &&
         MoveFileExW(longPath, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

// Renaming frees the entry's own name at once; the renamed file goes at the next restart.
void ScheduleForRestart(const wchar_t* path) {
  wchar_t temp[kPathSize];
  bool named = false;
  for (unsigned n = 0; n <= kLastTempNumber; n++) {
    // A cut name would be another file.
    named = FormatText(temp, kPathSize, kTempNameFormat, path, n) >= 0;
    if (!named || !FileExist(temp)) break;
  }
  const wchar_t* target = named && RenameFile(path, temp) ? temp : path;
  ScheduleDeletion(target);
}

// True when the entry went in this pass.
bool RemoveEntry(const wchar_t* path, const wchar_t* programName, bool& rebootNeeded) {
  unsigned attr = GetFileAttr(path);
  // Gone already, as most entries are in every pass after the first: nothing to clear or delete.
  if (attr == INVALID_FILE_ATTRIBUTES) return false;
  ClearAttributes(path);
  if (IsDir(attr)) return RemoveFolder(path);  // only once it is empty
  if (DelFile(path)) return true;
  // The running program goes through the batch file, the open list after the passes.
  const wchar_t* name = PointToName(path);
  if (CompareNoCase(name, programName) == 0 || CompareNoCase(name, kListFileName) == 0)
    return false;
  rebootNeeded = true;
  ScheduleForRestart(path);
  return false;
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

bool WriteBatchLines(HANDLE file, const wchar_t* batchPath, const wchar_t* program,
                     const wchar_t* folder, bool silent) {
  wchar_t p[kPathSize], d[kPathSize], b[kPathSize];
  if (!MakeBatchPath(program, p, kPathSize) || !MakeBatchPath(folder, d, kPathSize) ||
      !MakeBatchPath(batchPath, b, kPathSize))
    return false;
  if (!WriteFormattedLine(file, kBatchStartWait, p)) return false;
  for (unsigned i = 0; i < kRemoveTries; i++)
    if (!WriteFormattedLine(file, kBatchRemoveTry, p, d, p)) return false;
  if (!WriteFormattedLine(file, kBatchDone)) return false;
  if (!silent && !WriteFormattedLine(file, kBatchWarning, p, p)) return false;
  return WriteFormattedLine(file, kBatchDeleteSelf, b);
}

void ShowListError() {
  wchar_t text[kListErrorSize];
  // The format comes from an editable language file: only "%s" is filled in.
  SubstituteText(text, kListErrorSize, GetMsg(IDS_CANNOTOPENLIST), kListFileName);
  ShowMessage(nullptr, text, GetMsg(IDS_UNINSTALLOBX), kErrorFlags);
}

void StartBatch(const wchar_t* batchPath, bool leaveFolder) {
  wchar_t comspec[kPathSize];
  DWORD length = GetEnvironmentVariableW(kComspecVariable, comspec, kPathSize);
  if (length == 0 || length >= kPathSize) comspec[0] = 0;
  wchar_t command[kCommandLineSize];
  if (FormatText(command, kCommandLineSize, kBatchCommand, comspec, batchPath) < 0) return;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  // Out of the folder, so that neither this process nor the child holds it.
  if (leaveFolder) SetCurrentDirectoryW(L"..");
  PROCESS_INFORMATION process = {};
  if (CreateProcessW(nullptr, command, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                     &process)) {
    ScopedHandle thread(process.hThread);
    ScopedHandle child(process.hProcess);
  }
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

bool IsSafeListEntry(const wchar_t* entry) {
  if (!entry || entry[0] == 0) return false;
  // Absolute, "\\?\", "\\.\" and network names all begin with a separator.
  if (IsPathSeparator(entry[0])) return false;
  const wchar_t* component = entry;
  for (const wchar_t* p = entry;; p++) {
    if (*p == L':') return false;  // a drive or a stream name
    if (*p != 0 && !IsPathSeparator(*p)) continue;
    // "." and ".." (and what Windows trims to them) name the folder itself or one above it.
    if (IsDotsAndBlanks(component, p)) return false;
    if (*p == 0) return true;
    component = p + 1;
  }
}

DeletionPasses DeleteListedFiles(HANDLE list, const wchar_t* folder, const wchar_t* programName) {
  DeletionPasses result;
  auto reader = std::make_unique<ListReader>(list);
  char line[kListLineSize];
  wchar_t entry[kPathSize];
  wchar_t path[kPathSize];
  unsigned folderLength = TextLength(folder);
  for (;;) {
    if (!reader->Rewind()) break;
    result.passes++;
    unsigned removed = 0;
    bool usable;
    while (reader->Next(line, kListLineSize, usable)) {
      TrimLine(line);
      if (line[0] == 0 || !usable) continue;
      ToWide(line, entry, kPathSize);
      if (!IsSafeListEntry(entry)) continue;
      if (folderLength + TextLength(entry) >= kPathSize) continue;  // cut, it names another file
      CopyText(path, folder, kPathSize);
      AppendText(path, entry, kPathSize);
      if (RemoveEntry(path, programName, result.rebootNeeded)) removed++;
    }
    result.removed += removed;
    if (removed == 0) break;
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

bool WriteRemovalBatch(const wchar_t* batchPath, const wchar_t* program, const wchar_t* folder,
                       bool silent) {
  bool written;
  {
    ScopedHandle file(CreateFileW(batchPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    // The file must exist before its own short name can be asked for.
    written = WriteBatchLines(file.get(), batchPath, program, folder, silent);
  }
  if (!written) DeleteFileW(batchPath);
  return written;
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

void RemoveIntegration() {
  IntegrationOptions options = {};  // every choice off: each step takes back what it wrote
  AssociateAll(options);
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_FLUSH, nullptr, nullptr);
  RegisterShellExtensions(true, options);
  UpdateShortcuts(options, nullptr, 0, nullptr);
  for (const wchar_t* key : kProductClassKeys) DeleteRegTree(HKEY_CLASSES_ROOT, key);
  DeleteRegTree(HKEY_CURRENT_USER, L"");
  if (runState.msiMode) return;  // the MSI package owns the record and App Paths
  DeleteRegKey(HKEY_LOCAL_MACHINE, kUninstallRecordKey);
  DeleteRegKey(HKEY_LOCAL_MACHINE, kAppPathsKey);
  // Setup registers the main program in the 64-bit view too on 64-bit Windows.
  SelectRegView(true);
  DeleteRegKey(HKEY_LOCAL_MACHINE, kAppPathsKey);
  SetRegView(0);
}

void RunUninstall() {
  wchar_t program[kPathSize];
  DWORD programLength = GetModuleFileNameW(nullptr, program, kPathSize);
  if (programLength == 0 || programLength >= kPathSize) return;  // a cut path names another file
  program[programLength] = 0;
  wchar_t folder[kPathSize];
  if (!GetProgramFolder(program, folder, kPathSize)) return;
  bool entered = SetCurrentDirectoryW(folder) != 0;
  // What the batch file removes: the folder itself, not the current directory, which stays
  // elsewhere when the folder cannot be entered.
  wchar_t installFolder[kPathSize];
  CopyText(installFolder, folder, kPathSize);
  AddEndSlash(folder, kPathSize);

  if (!runState.silent &&
      ShowMessage(nullptr, GetMsg(IDS_CONTINUEUNINSTALL), GetMsg(IDS_UNINSTALLOBX),
                  kQuestionFlags) != IDYES)
    return;

  wchar_t listPath[kPathSize];
  MakeName(folder, kListFileName, listPath, kPathSize);
  ScopedHandle list(CreateFileW(listPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!list) {
    ShowListError();
    return;
  }

  // Fetched now: the language module goes before they are shown.
  wchar_t rebootNote[kNoteSize], caption[kNoteSize];
  LoadMsg(IDS_REBOOTREQUIRED, rebootNote, kNoteSize);
  LoadMsg(IDS_UNINSTALLOBX, caption, kNoteSize);

  RemoveIntegration();
  languageModule.Free();
  if (runState.msiMode) return;

  // Settings kept in "Ombrix.ini" are written now; a save at process end would bring the file
  // back into a folder that is about to go.
  SaveIni();
  settingsStore.saveSettings = 0;

  for (const wchar_t* name : kHelpIndexFiles) {
    wchar_t path[kPathSize];
    MakeName(folder, name, path, kPathSize);
    ClearAttributes(path);
    DelFile(path);
  }
  DeletionPasses passes = DeleteListedFiles(list.get(), folder, PointToName(program));
  list.reset();
  DelFile(listPath);

  wchar_t temp[kPathSize], webView[kPathSize];
  GetTempFolder(temp, kPathSize);
  MakeName(temp, kWebViewFolderName, webView, kPathSize);
  if (FileExist(webView)) RemoveFolderTree(webView);

  if (passes.rebootNeeded && !runState.silent) {
    ShowMessage(nullptr, rebootNote, caption, kNoteFlags);
    if (CompareNoCase(PointToName(installFolder), kInstallFolderName) == 0)
      ScheduleDeletion(installFolder);
  }

  wchar_t batch[kPathSize];
  DWORD tempLength = GetTempPathW(kPathSize, batch);
  if (tempLength == 0 || tempLength >= kPathSize) return;
  if (tempLength + TextLength(kBatchFileName) >= kPathSize) return;
  AppendText(batch, kBatchFileName, kPathSize);
  if (!WriteRemovalBatch(batch, program, installFolder, runState.silent)) return;
  StartBatch(batch, entered);
}
