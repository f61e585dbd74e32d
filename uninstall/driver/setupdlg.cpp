#include "driver/setupdlg.h"

#include <richedit.h>

#include "base/text.h"
#include "base/winver.h"
#include "driver/record.h"
#include "driver/runstate.h"
#include "integration/apply.h"
#include "integration/associations.h"
#include "integration/contextitems.h"
#include "integration/options.h"
#include "localisation/dialogs.h"
#include "localisation/dialogsource.h"
#include "localisation/messages.h"
#include "resources/resource.h"
#include "settings/registry.h"

namespace {

constexpr wchar_t kDialogName[] = L"SETUPDLG";
constexpr wchar_t kHelpTopic[] = L"HELPIntegrationSettings";
// No check box of its own, so an association the product still holds is always given back.
constexpr wchar_t kLeftoverExtension[] = L".ace";

// The choices between messages; the check boxes hold the state, this record the preset's extra
// rows that have no box.
struct SetupDialogState {
  IntegrationOptions options = {};
  Outcome outcome = Outcome::kCancelled;
};
SetupDialogState setupDialogState;

// Saves the choices and applies them, then writes the record unless the MSI package owns it,
// gives back a leftover ".ace" association and tells the shell once: kDone, or kNoRights when the
// integration could not be applied.
Outcome ApplySetupChoices(const IntegrationOptions& options) {
  SaveIntegrationOptions(options);
  if (!ApplyIntegration(options, runState.programGroupFolder, kPathSize)) return Outcome::kNoRights;
  if (!runState.msiMode) WriteUninstallRecord();
  AssociateExtension(kLeftoverExtension, false, false, false, false);
  NotifyAssociationsChanged();
  return Outcome::kDone;
}

void OnInitDialog(HWND dialog) {
  RegBatch batch;  // the stored choices read once each
  wchar_t explanation[kSetupExplanationSize];
  BuildSetupExplanation(explanation, kSetupExplanationSize);
  SetDlgItemTextW(dialog, IDC_SETUPHELPTEXT, explanation);

  IntegrationOptions& options = setupDialogState.options;
  options = IntegrationOptions{};
  LoadIntegrationOptions(options);
  ApplyInitString(runState.initString, options);
  ShowOptionsInDialog(dialog, options);

  SetForegroundWindow(dialog);
  SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(runState.appIcon));
  SendDlgItemMessageW(dialog, IDC_SETUPHELPTEXT, EM_SETBKGNDCOLOR, 0, GetSysColor(COLOR_BTNFACE));
}

void Confirm(HWND dialog) {
  IntegrationOptions& options = setupDialogState.options;
  ReadOptionsFromDialog(dialog, options);
  RegBatch batch;  // every key below opened once for all its writes
  setupDialogState.outcome = ApplySetupChoices(options);
  EndDialog(dialog, 0);
}

// Windows 11 keeps the product's commands in one top-level item whatever this box says.
void OnCascadedClicked(HWND dialog) {
  if (runState.singleTopItemShown || IsChecked(dialog, IDC_SHELLCASCADED) || !IsWindows11())
    return;
  ShowMessage(dialog, GetMsg(IDS_SINGLETOPITEM), GetMsg(IDS_UNINSTTITLE), MB_ICONINFORMATION);
  runState.singleTopItemShown = true;
}

void OnCommand(HWND dialog, int id) {
  switch (id) {
    case IDOK:
      Confirm(dialog);
      break;
    case IDCANCEL:
      EndDialog(dialog, 0);
      break;
    case IDC_SHELLEXT:
      ReadOptionsFromDialog(dialog, setupDialogState.options);
      ShowOptionsInDialog(dialog, setupDialogState.options);
      break;
    case IDC_SHELLCASCADED:
      OnCascadedClicked(dialog);
      break;
    case IDC_ASSOCALL:
      ToggleAllAssociations(dialog);
      break;
    case IDC_SETCONTEXTMENU:
      ShowContextItemsDialog(dialog, IsChecked(dialog, IDC_SHELLCASCADED));
      break;
    default:
      break;
  }
}

}  // namespace

void BuildSetupExplanation(wchar_t* out, unsigned size) {
  CopyText(out, L"   ", size);
  for (unsigned id = IDS_INSTHELP1; id <= IDS_INSTHELP5; id++) {
    AppendText(out, L" ", size);
    AppendText(out, GetMsg(id), size);
  }
  AppendText(out, L"\r\n    ", size);
  AppendText(out, GetMsg(IDS_INSTHELP6), size);
}

INT_PTR CALLBACK SetupDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (CommonDialogMessage(dialog, message, wParam, lParam, kDialogName, kHelpTopic)) return TRUE;
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog(dialog);
      return TRUE;
    case WM_COMMAND:
      OnCommand(dialog, LOWORD(wParam));
      return TRUE;
    default:
      return FALSE;
  }
}

Outcome ShowSetupDialog() {
  // Unless confirmed nothing was applied, also when the dialog could not be created.
  setupDialogState.outcome = Outcome::kCancelled;
  DialogBoxParamW(PrepareDialogTemplate(kDialogName), kDialogName, nullptr, SetupDialog, 0);
  return setupDialogState.outcome;
}

Outcome ApplySilentSetup() {
  // One batch for the reads and the writes: each key is opened once for both.
  RegBatch batch;
  IntegrationOptions options = {};
  LoadIntegrationOptions(options);
  ApplyInitString(runState.initString, options);
  return ApplySetupChoices(options);
}
