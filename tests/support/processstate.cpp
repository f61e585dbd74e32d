#include "processstate.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "base/ole.h"
#include "base/winver.h"
#include "driver/help.h"
#include "driver/runstate.h"
#include "driver/startup.h"
#include "driver/uninstall.h"
#include "filesystem/fileops.h"
#include "filesystem/log.h"
#include "filesystem/secure.h"
#include "integration/handlerbackup.h"
#include "localisation/dialogs.h"
#include "localisation/dialogsource.h"
#include "localisation/langfile.h"
#include "localisation/langmodule.h"
#include "settings/registry.h"
#include "settings/store.h"

// One reset per unit that owns process-wide objects (ARCHITECTURE.md lists them), each the
// owner's own function.
void ResetProcessState() {
  ResetUninstallState();
  ResetStartupState();
  ResetSettingsStore();
  ResetRegistryState();
  ResetUnsavedHandlers();
  ResetRunState();
  languageFile.Clear();
  ResetLanguageModule();
  // A right-to-left language file mirrors every window the process makes from then on.
  SetProcessDefaultLayout(0);
  SetPlatformOverride(nullptr);
  SetFolderAccessDeniedOverride(nullptr);
  CloseRunLog();
  SetElevationOverride(nullptr);
  SetAdminOnlyFolderOverride(nullptr);
  SetWorkAreaOverride(nullptr);
  SetHelpOpener(nullptr);
  SetHelpViewerOverride(nullptr);
  EndOle();
  FreeDialogSupport();
}

namespace {

class ProcessStateReset : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override { ResetProcessState(); }
  void OnTestEnd(const ::testing::TestInfo&) override { ResetProcessState(); }
};

}  // namespace

// Every test program's entry point: GoogleTest's own, with the reset around each test.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new ProcessStateReset);
  return RUN_ALL_TESTS();
}
