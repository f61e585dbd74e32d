#include "driver/selfremoval.h"

#include <cstdarg>
#include <cwchar>
#include <memory>
#include <new>

#include "base/text.h"
#include "filesystem/fileops.h"
#include "filesystem/path.h"
#include "filesystem/secure.h"

namespace {

constexpr wchar_t kBatchNamePrefix[] = L"Uninstall_Obx_";
constexpr wchar_t kBatchExtension[] = L".Bat";
constexpr wchar_t kSystemTempName[] = L"Temp";
constexpr wchar_t kInterpreterName[] = L"cmd.exe";

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
constexpr unsigned kRemoveTries = 5;

// A batch line holds up to three full paths, well within the interpreter's 8191 characters.
constexpr unsigned kBatchLineSize = 3 * kPathSize + 64;
constexpr unsigned kCommandLineSize = kPathSize + 64;

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

// folder + "Uninstall_Obx_", where the batch's name and the program's name aside begin; false
// when it does not fit.
bool MakeBatchPrefix(const wchar_t* folder, wchar_t* out) {
  CopyText(out, folder, kPathSize);
  AddEndSlash(out, kPathSize);
  unsigned length = TextLength(out);
  AppendText(out, kBatchNamePrefix, kPathSize);
  return TextLength(out) == length + TextLength(kBatchNamePrefix);
}

// A new batch file directly in folder, under a fresh random name.
bool CreateBatchFileIn(const wchar_t* folder, SECURITY_ATTRIBUTES* security,
                       RemovalBatch& batch) {
  wchar_t prefix[kPathSize];
  if (!MakeBatchPrefix(folder, prefix)) return false;
  batch.file.reset(CreateRandomFile(prefix, kBatchExtension, GENERIC_WRITE, FILE_SHARE_READ,
                                    security, batch.path));
  return batch.file && WriteBatchLine(batch.file.get(), kBatchWaitForEnd);
}

bool GetSystemTempFolder(wchar_t* out) {
  wchar_t windows[kPathSize];
  UINT length = GetSystemWindowsDirectoryW(windows, kPathSize);
  if (length == 0 || length >= kPathSize) return false;
  MakeName(windows, kSystemTempName, out, kPathSize);
  return IsDir(GetFileAttr(out));
}

}  // namespace

void DiscardRemovalBatch(RemovalBatch& batch) {
  batch.endSignal.reset();
  if (batch.file) {
    batch.file.reset();
    DelFile(batch.path);
  }
  batch.path[0] = 0;
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
  wchar_t place[kPathSize], prefix[kPathSize];
  GetFilePath(beside, place, kPathSize);
  return MakeBatchPrefix(place, prefix) &&
         MakeRandomName(prefix, kAsideExtension, aside, kPathSize) && RenameFile(program, aside);
}
