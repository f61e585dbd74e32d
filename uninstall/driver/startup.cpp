#include "driver/startup.h"

#include <shellapi.h>

#include <memory>

#include "driver/donedlg.h"
#include "driver/setupdlg.h"
#include "driver/uninstall.h"
#include "filesystem/fileops.h"
#include "filesystem/owners.h"
#include "filesystem/product.h"
#include "integration/winver.h"
#include "localisation/convert.h"
#include "localisation/langfile.h"
#include "localisation/langmodule.h"
#include "localisation/messages.h"
#include "localisation/text.h"
#include "settings/registry.h"
#include "settings/store.h"

namespace {

constexpr wchar_t kKernelModule[] = L"kernel32";
constexpr char kSetDllDirectory[] = "SetDllDirectoryW";
constexpr wchar_t kLanguageFileName[] = L"uninstall.lng";
constexpr wchar_t kRichEditModule[] = L"riched20.dll";
constexpr wchar_t kIconName[] = L"OBXICON";
constexpr wchar_t kBoldFontFace[] = L"MS Shell Dlg";
constexpr wchar_t kInstallerSwitchesVariable[] = L"sfxcmd";
constexpr wchar_t kInstallerPathVariable[] = L"sfxname";
constexpr wchar_t kPresetFileName[] = L"ombrix.ini";
constexpr wchar_t kPathsKey[] = OBX_PROGRAM_KEY L"\\Paths";
constexpr wchar_t kAppDataValue[] = L"AppData";

constexpr unsigned kWarningSize = 512;
constexpr unsigned kRightsErrorSize = 1024;
constexpr unsigned kSystemTextSize = 256;
constexpr DWORD kWaitMs = 2000;
// Held by the running setup or uninstallation until its process ends; global, so that a copy
// in another session counts as well.
constexpr wchar_t kRunningMutexName[] = L"Global\\Ombrix.SetupOrUninstall";
// How long a silent copy waits for the running one to end (an installer may start the next step
// at once), and how long "/wait" waits for the uninstallation that started the batch.
constexpr DWORD kSilentCopyWaitMs = 60000;
constexpr DWORD kRemovalWaitMs = 30000;
constexpr unsigned kRtlMessageFlags = MB_RTLREADING | MB_RIGHT;

// The screen's vertical dpi, asked once it can be had.
struct DisplayMetrics {
  int dpiY = 0;
};
DisplayMetrics displayMetrics;

// Owned by this process from the moment it may change anything until it ends.
ScopedHandle runningMutex;

// Waits for the running setup or uninstallation, if any, to end: the batch file deletes the
// program's file only after that.
void WaitForRunningCopy() {
  ScopedHandle running(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kRunningMutexName));
  if (!running) return;
  DWORD result = WaitForSingleObject(running.get(), kRemovalWaitMs);
  if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) ReleaseMutex(running.get());
}

// True once no other setup or uninstallation runs; a silent copy waits a bounded time for one
// to end, an interactive one does not (its user sees the other one's window).
bool BecomeOnlyRunningCopy() {
  runningMutex.reset(CreateMutexW(nullptr, FALSE, kRunningMutexName));
  if (!runningMutex) return false;  // another's object that this process may not use
  DWORD result = WaitForSingleObject(runningMutex.get(), runState.silent ? kSilentCopyWaitMs : 0);
  return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

enum class SwitchAction { kSetup, kMsi, kInit, kWait, kNoExplorer, kWarning };

struct SwitchEntry {
  const wchar_t* keyword;
  unsigned compared;
  SwitchAction action;
};

// Searched in order, first match wins; text after the compared characters is ignored.
constexpr SwitchEntry kSwitches[] = {
    {L"setup", 5, SwitchAction::kSetup}, {L"msi", 3, SwitchAction::kMsi},
    {L"init", 4, SwitchAction::kInit},   {L"wait", 4, SwitchAction::kWait},
    {L"noexplorer", 4, SwitchAction::kNoExplorer}, {L"warning", 7, SwitchAction::kWarning},
};

bool IsBlank(wchar_t ch) { return ch == L' ' || ch == L'\t'; }

bool IsSilentSwitch(const wchar_t* argument) {
  return ToUpperChar(argument[1]) == L'S' && !IsAsciiLetter(argument[2]);
}

// True when the switch rules out uninstallation. "/msi" alone does not: an MSI package takes back
// the integration with it, while the record and the files stay the package's.
bool ApplySwitch(const wchar_t* argument, bool& setupRequested) {
  const wchar_t* name = argument + 1;
  for (const SwitchEntry& entry : kSwitches) {
    if (CompareNoCaseN(name, entry.keyword, entry.compared) != 0) continue;
    switch (entry.action) {
      case SwitchAction::kSetup:
        setupRequested = true;
        break;
      case SwitchAction::kMsi:
        runState.msiMode = true;
        return false;
      case SwitchAction::kInit:
        CopyText(runState.initString, name + 4, kInitStringSize);
        break;
      case SwitchAction::kWait:
        Sleep(kWaitMs);
        WaitForRunningCopy();
        break;
      case SwitchAction::kNoExplorer:
        runState.noExplorer = true;
        break;
      case SwitchAction::kWarning:
        ShowRemovalWarning();
        break;
    }
    return true;
  }
  return true;
}

// Cuts a value longer than the buffer instead of dropping it; the buffer is empty when the
// variable is absent.
void ReadVariableCut(const wchar_t* name, wchar_t* out, unsigned size) {
  out[0] = 0;
  DWORD needed = GetEnvironmentVariableW(name, out, size);
  if (needed < size) return;
  std::unique_ptr<wchar_t[]> whole(new wchar_t[needed]);
  DWORD got = GetEnvironmentVariableW(name, whole.get(), needed);
  if (got == 0 || got >= needed) whole[0] = 0;
  CopyText(out, whole.get(), size);
}

// A path that does not fit is no path: cutting it could name another file.
bool ReadVariablePath(const wchar_t* name, wchar_t* out, unsigned size) {
  DWORD got = GetEnvironmentVariableW(name, out, size);
  if (got == 0 || got >= size) {
    out[0] = 0;
    return false;
  }
  return true;
}

// The "AppData" path override; false when absent, not a string, or longer than the buffer.
bool ReadAppDataOverride(wchar_t* out, unsigned size) {
  return GetRawRegString(HKEY_CURRENT_USER, kPathsKey, kAppDataValue, out, size) && out[0] != 0;
}

void RunSetupFlow() {
  INT_PTR result = ShowSetupDialog();
  if (result == kSetupNotApplied) {
    ShowRightsError(IDS_SETUPNORIGHTS, IDS_UNINSTTITLE, ERROR_ACCESS_DENIED);
    runState.exitCode = kExitNoRights;
    return;
  }
  // -1 means the dialog could not be shown: nothing was applied, so it must not end as success.
  if (result <= 0) {
    runState.exitCode = kExitCancelled;
    return;
  }
  CopyPresetFile(kPresetFileName);
  if (!runState.msiMode) {
    ShowDoneDialog();
    if (IsWow64() && !runState.silent)
      ShowMessage(nullptr, GetMsg(IDS_WARN32BIT), GetMsg(IDS_UNINSTTITLE), MB_ICONINFORMATION);
  }
  if (runState.programGroupFolder[0] && !runState.silent && !runState.msiMode &&
      !runState.noExplorer && FileExist(runState.programGroupFolder))
    ShellExecuteW(nullptr, L"open", runState.programGroupFolder, nullptr, L"", SW_SHOWNORMAL);
}

}  // namespace

RunState runState;

const wchar_t* NextArgument(const wchar_t* text, wchar_t* argument, unsigned capacity) {
  if (capacity > 0) argument[0] = 0;
  while (IsBlank(*text)) text++;
  if (*text == 0) return nullptr;
  unsigned length = 0;
  bool quoted = false;
  for (; *text != 0 && (quoted || !IsBlank(*text)); text++) {
    wchar_t ch = *text;
    if (ch == L'"') {
      if (text[1] != L'"') {
        quoted = !quoted;
        continue;
      }
      text++;  // a doubled quote stands for one
    }
    if (length + 1 < capacity) argument[length++] = ch;
  }
  if (capacity > 0) argument[length] = 0;
  return text;
}

void ParseSwitches(bool fromEnvironment, const wchar_t* text, bool& setupRequested,
                   bool& uninstallRequested) {
  wchar_t argument[kArgumentSize];
  bool switchSeen = false;
  while ((text = NextArgument(text, argument, kArgumentSize)) != nullptr) {
    if (argument[0] != L'/' && argument[0] != L'-') continue;
    if (IsSilentSwitch(argument)) {
      runState.silent = true;
      continue;
    }
    if (fromEnvironment || ApplySwitch(argument, setupRequested)) switchSeen = true;
  }
  uninstallRequested = !switchSeen && !fromEnvironment;
}

void ParseInstallerSwitches() {
  wchar_t value[kArgumentSize];
  ReadVariableCut(kInstallerSwitchesVariable, value, kArgumentSize);
  bool setupRequested = false;
  bool uninstallRequested = false;
  ParseSwitches(true, value, setupRequested, uninstallRequested);
}

void HardenDllSearch() {
  HMODULE kernel = GetModuleHandleW(kKernelModule);
  if (!kernel) return;
  using SetDllDirectoryFunction = BOOL(WINAPI*)(LPCWSTR);
  // Through void(*)(void), the one function type GCC lets any other be cast from.
  auto function = reinterpret_cast<SetDllDirectoryFunction>(
      reinterpret_cast<void (*)(void)>(GetProcAddress(kernel, kSetDllDirectory)));
  if (function) function(L"");
}

HMODULE LoadSystemModule(const wchar_t* name) {
  wchar_t folder[kPathSize];
  UINT length = GetSystemDirectoryW(folder, kPathSize);
  if (length == 0 || length >= kPathSize) return nullptr;
  wchar_t path[kPathSize];
  MakeName(folder, name, path, kPathSize);
  return LoadLibraryW(path);
}

int ScaleByDpi(int value) {
  if (displayMetrics.dpiY == 0) {
    if (HDC screen = GetDC(nullptr)) {
      displayMetrics.dpiY = GetDeviceCaps(screen, LOGPIXELSY);
      ReleaseDC(nullptr, screen);
    }
  }
  return value * displayMetrics.dpiY / 96;
}

int ShowMessage(HWND owner, const wchar_t* text, const wchar_t* caption, unsigned flags) {
  if (languageFile.rightToLeft) flags |= kRtlMessageFlags;
  return MessageBoxW(owner, text, caption, flags);
}

void ClearRtlReading(HWND window) {
  if (!languageFile.rightToLeft) return;
  LONG_PTR style = GetWindowLongPtrW(window, GWL_EXSTYLE);
  SetWindowLongPtrW(window, GWL_EXSTYLE, style & ~static_cast<LONG_PTR>(WS_EX_RTLREADING));
}

void ShowRemovalWarning() {
  wchar_t program[kPathSize];
  GetProgramFile(program, kPathSize);
  wchar_t text[kWarningSize];
  CopyText(text, GetMsg(IDS_UNINSTALLCOMPLETED), kWarningSize);
  AppendText(text, L"\n", kWarningSize);
  // The format comes from an editable language file: only "%s" is filled in, never printf.
  wchar_t note[kWarningSize];
  SubstituteText(note, kWarningSize, GetMsg(IDS_UNINSTALLSHOULDDELETE), program);
  AppendText(text, note, kWarningSize);
  ShowMessage(nullptr, text, GetMsg(IDS_UNINSTALLOBX), MB_ICONINFORMATION | MB_SETFOREGROUND);
}

void ShowRightsError(unsigned textId, unsigned captionId, DWORD error) {
  if (runState.silent) return;
  wchar_t text[kRightsErrorSize];
  CopyText(text, GetMsg(textId), kRightsErrorSize);
  wchar_t system[kSystemTextSize];
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                error, 0, system, kSystemTextSize, nullptr);
  // The system's text ends in a line break.
  while (length > 0 && (system[length - 1] == L'\n' || system[length - 1] == L'\r'))
    length--;
  if (length > 0 && length < kSystemTextSize) {
    system[length] = 0;
    AppendText(text, L"\n\n", kRightsErrorSize);
    AppendText(text, system, kRightsErrorSize);
  }
  ShowMessage(nullptr, text, GetMsg(captionId), MB_ICONERROR | MB_SETFOREGROUND);
}

void CopyPresetFile(const wchar_t* name) {
  wchar_t folder[kPathSize];
  GetUserDataFolder(folder, kPathSize);
  wchar_t userCopy[kPathSize];
  MakeName(folder, name, userCopy, kPathSize);
  if (FileExist(userCopy)) return;
  wchar_t source[kPathSize];
  if (!ReadVariablePath(kInstallerPathVariable, source, kPathSize)) return;
  SetName(source, name, kPathSize);
  // The installer starts setup in the installation folder, so the bare name lands there.
  if (FileExist(source)) CopyFileW(source, name, TRUE);
}

void GetUserDataFolder(wchar_t* out, unsigned size) {
  if (size == 0) return;
  if (ReadAppDataOverride(out, size) && FileExist(out)) return;
  if (GetAppDataFolder(out, size)) return;
  GetProgramFile(out, size);
  RemoveNameFromPath(out);
}

int RunProgram(HINSTANCE instance) {
  HardenDllSearch();
  languageModule.Load(instance);
  LoadLanguageFile(kLanguageFileName);
  ScopedOle ole;
  ScopedModule richEdit(LoadSystemModule(kRichEditModule));

  runState.appIcon = LoadIconW(languageModule.resourceModule, kIconName);
  if (!runState.appIcon && languageModule.resourceModule != languageModule.ownModule)
    runState.appIcon = LoadIconW(languageModule.ownModule, kIconName);
  ScopedFont boldFont(CreateFontW(ScaleByDpi(-12), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, 0, 0,
                                  0, 0, 0, kBoldFontFace));
  runState.boldFont = boldFont.get();

  ParseInstallerSwitches();
  bool setupRequested = false;
  bool uninstallRequested = false;
  ParseSwitches(false, GetCommandLineW(), setupRequested, uninstallRequested);
  if ((setupRequested || uninstallRequested) && !BecomeOnlyRunningCopy()) {
    runState.exitCode = kAnotherCopyRunsExitCode;
  } else {
    if (setupRequested) RunSetupFlow();
    if (uninstallRequested) RunUninstall();
    // While this copy is still the only one running; a copy that gave way changed nothing.
    SaveIni();
  }

  runState.boldFont = nullptr;
  return runState.exitCode;
}
