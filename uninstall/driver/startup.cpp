#include "driver/startup.h"

#include <shellapi.h>

#include <memory>

#include "base/convert.h"
#include "base/ole.h"
#include "base/owners.h"
#include "base/procaddress.h"
#include "base/product.h"
#include "base/text.h"
#include "base/winver.h"
#include "driver/cmdline.h"
#include "driver/donedlg.h"
#include "driver/help.h"
#include "driver/setupdlg.h"
#include "driver/uninstall.h"
#include "filesystem/fileops.h"
#include "filesystem/log.h"
#include "filesystem/secure.h"
#include "integration/associations.h"
#include "integration/handlerbackup.h"
#include "localisation/dialogs.h"
#include "localisation/dialogsource.h"
#include "localisation/langfile.h"
#include "localisation/langmodule.h"
#include "localisation/messages.h"
#include "settings/registry.h"
#include "settings/store.h"

namespace {

constexpr char kSetDllDirectory[] = "SetDllDirectoryW";
constexpr wchar_t kLanguageFileName[] = L"uninstall.lng";
constexpr wchar_t kIconName[] = L"OBXICON";
constexpr wchar_t kBoldFontFace[] = L"MS Shell Dlg";
constexpr wchar_t kInstallerPathVariable[] = L"sfxname";
constexpr wchar_t kPresetFileName[] = L"ombrix.ini";
constexpr wchar_t kAppDataValue[] = L"AppData";

constexpr unsigned kWarningSize = 512;
// Held by the running setup or uninstallation until its process ends; global, so that a copy
// in another session counts as well. Any process may make an object of this name; an elevated
// run's is owned by the administrators and usable by them alone.
constexpr wchar_t kRunningMutexName[] = L"Global\\Ombrix.SetupOrUninstall";
// How long a silent copy waits for the running one to end (an installer may start the next step
// at once).
constexpr DWORD kSilentCopyWaitMs = 60000;
// "/wait": a pause for a script that starts the program before its next step.
constexpr DWORD kWaitMs = 2000;

// The screen's vertical dpi, asked once it can be had.
struct DisplayMetrics {
  int dpiY = 0;
};
DisplayMetrics displayMetrics;

// Owned by this process from the moment it may change anything until it ends.
ScopedHandle runningMutex;

// True once no other setup or uninstallation runs; a silent copy waits a bounded time for one
// to end, an interactive one does not (its user sees the other one's window). Elevated, only a
// lock that an administrator made counts: an object of the name that another kind or owner made
// is no run of this program (a non-elevated process cannot make the administrators its owner).
bool BecomeOnlyRunningCopy() {
  bool elevated = IsProcessElevated();
  AdminOnlySecurity security(true);
  runningMutex.reset(CreateMutexW(elevated ? security.get() : nullptr, FALSE, kRunningMutexName));
  if (elevated && (!runningMutex || !IsAdminOwned(runningMutex.get()))) {
    runningMutex.reset();
    return true;
  }
  if (!runningMutex) return false;  // an elevated run's, which this process may not use
  DWORD result = WaitForSingleObject(runningMutex.get(), runState.silent ? kSilentCopyWaitMs : 0);
  return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
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
  return GetRawRegString(HKEY_CURRENT_USER, kUserPathsKey, kAppDataValue, out, size) && out[0] != 0;
}

// What the run started only when it was needed, taken back when the run ends on any path. OLE
// ends first: it flushes the clipboard, which may hold text copied from a rich edit control
// through an object whose code is in the rich edit module.
struct OnDemandSupport {
  OnDemandSupport() = default;
  ~OnDemandSupport() {
    EndOle();
    FreeDialogSupport();
  }
  OnDemandSupport(const OnDemandSupport&) = delete;
  OnDemandSupport& operator=(const OnDemandSupport&) = delete;
};

// The run did part of what was asked: it fails, and says so unless silent.
void ReportPartlyDone(unsigned captionId) {
  runState.outcome = Outcome::kIncomplete;
  ShowMessage(nullptr, GetMsg(IDS_PARTLYDONE), GetMsg(captionId),
              MB_ICONWARNING | MB_SETFOREGROUND);
}

}  // namespace

void RunSetupFlow() {
  // A silent run does what confirming the dialog does without creating it: nobody would see it.
  Outcome applied = runState.silent ? ApplySilentSetup() : ShowSetupDialog();
  if (applied == Outcome::kNoRights)
    ShowRightsError(IDS_SETUPNORIGHTS, IDS_UNINSTTITLE, ERROR_ACCESS_DENIED);
  if (applied != Outcome::kDone) {
    runState.outcome = applied;
    return;
  }
  // A refused change leaves the integration partly applied; without the main program the
  // associations and shortcuts name nothing. So are types whose previous handler could not be
  // saved, left to that program, and choices and backups a settings file refused. Saved now
  // (again at the end), so that the user hears of that with the rest, before the completion
  // dialog, which would read as a whole success.
  wchar_t mainProgram[kPathSize];
  GetMainProgramPath(mainProgram, kPathSize);
  bool whole = FileExist(mainProgram);
  if (!whole) LogLine(L"missing: %s", mainProgram);
  SaveIni();
  if (!whole || UnsavedHandlerCount() > 0 || GetRegKeyCounts().failedChanges > 0 ||
      settingsStore.saveRefused)
    ReportPartlyDone(IDS_UNINSTTITLE);
  CopyPresetFile(kPresetFileName);
  if (runState.silent || runState.msiMode) return;
  ShowDoneDialog();
  if (IsWow64())
    ShowMessage(nullptr, GetMsg(IDS_WARN32BIT), GetMsg(IDS_UNINSTTITLE), MB_ICONINFORMATION);
  if (runState.programGroupFolder[0] && !runState.noExplorer &&
      FileExist(runState.programGroupFolder)) {
    EnsureCom();  // the shell may hand the folder to its extensions
    ShellExecuteW(nullptr, L"open", runState.programGroupFolder, nullptr, L"", SW_SHOWNORMAL);
  }
}

void HardenDllSearch() {
  using SetDllDirectoryFunction = BOOL(WINAPI*)(LPCWSTR);
  auto function = KernelFunction<SetDllDirectoryFunction>(kSetDllDirectory);
  if (function) function(L"");
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
  if (FileExist(source))
    LogStep(CopyFileW(source, name, TRUE) ? ERROR_SUCCESS : GetLastError(), L"copy %s to %s",
            source, name);
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
  SetHelpOpener(ShowHelp);
  languageModule.Load(instance);
  LoadLanguageFile(kLanguageFileName);
  OnDemandSupport onDemand;

  CommandLine line;
  ParseInstallerSwitches(line);
  ParseSwitches(false, GetCommandLineW(), line);
  runState.silent = line.silent;
  runState.msiMode = line.msiMode;
  runState.noExplorer = line.noExplorer;
  CopyText(runState.initString, line.initString, kInitStringSize);
  // Nothing acts on a command line that is not understood; "/wait" and "/warning" act once the
  // whole line is known, so after "/S" wherever it stands.
  if (line.invalid) {
    runState.outcome = Outcome::kInvalidCommandLine;
  } else {
    if (line.wait) Sleep(kWaitMs);
    if (line.warning) ShowRemovalWarning();
  }
  // Only the dialogs use the icon and the bold font; asking for either brings up the display
  // driver, which a silent run never needs.
  ScopedFont boldFont;
  if (!runState.silent) {
    runState.appIcon = LoadIconW(languageModule.resourceModule, kIconName);
    if (!runState.appIcon && languageModule.resourceModule != languageModule.ownModule)
      runState.appIcon = LoadIconW(languageModule.ownModule, kIconName);
    boldFont.reset(CreateFontW(ScaleByDpi(-12), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, 0, 0, 0,
                               0, 0, kBoldFontFace));
    runState.boldFont = boldFont.get();
  }
  if (line.log && !OpenRunLog(line.logPath)) {
    runState.outcome = Outcome::kLogFailed;
    return static_cast<int>(ExitCodeOf(runState.outcome));
  }
  LogLine(L"%s " OBX_VERSION_TEXT L", command line: %s", kProductName, GetCommandLineW());
  LogLine(L"rights: %s", IsProcessElevated() ? L"elevated" : L"not elevated");
  if (line.invalid || line.help) {
    // A person who asked for help, or typed a switch wrong, sees the switches; a silent run
    // cannot show them and so did not do what was asked.
    ShowMessage(nullptr, GetMsg(IDS_USAGE), GetMsg(IDS_UNINSTTITLE), MB_ICONINFORMATION);
    if (runState.silent) runState.outcome = Outcome::kInvalidCommandLine;
  } else if ((line.setup || line.uninstall) && !BecomeOnlyRunningCopy()) {
    runState.outcome = Outcome::kAnotherCopyRuns;
    if (!runState.silent)
      ShowMessage(nullptr, GetMsg(IDS_ANOTHERRUNNING),
                  GetMsg(line.setup ? IDS_UNINSTTITLE : IDS_UNINSTALLOBX),
                  MB_ICONERROR | MB_SETFOREGROUND);
  } else {
    if (line.setup) RunSetupFlow();
    if (line.uninstall) RunUninstall();
    // While this copy is still the only one running; a copy that gave way changed nothing.
    SaveIni();
    // Settings left as they were on disk, by any save of the run (the uninstallation saves
    // before its files go), are part of what was asked; a run that changed nothing keeps its
    // outcome.
    if (settingsStore.saveRefused &&
        (runState.outcome == Outcome::kDone || runState.outcome == Outcome::kRestartNeeded))
      ReportPartlyDone(line.setup ? IDS_UNINSTTITLE : IDS_UNINSTALLOBX);
  }

  runState.boldFont = nullptr;
  unsigned code = ExitCodeOf(runState.outcome);
  LogLine(L"exit code %u: %s", code, ReasonOf(runState.outcome));
  CloseRunLog();
  return static_cast<int>(code);
}

void ResetStartupState() {
  runningMutex.reset();
  displayMetrics = DisplayMetrics{};
}
