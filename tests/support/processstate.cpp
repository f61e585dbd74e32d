#include "processstate.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "base/ole.h"
#include "base/winver.h"
#include "driver/help.h"
#include "driver/runstate.h"
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

void ResetProcessState() {
  FreeIni();
  SetIniSearchPlaces(nullptr, nullptr);
  settingsStore.entryLimit = 0;
  SetRegView(0);
  AllowRegistryWrites();
  SetRegChangeLimit(kUnlimitedRegChanges);
  ResetRegKeyCounts();
  handlerBackups = HandlerBackups{};
  runState = RunState{};
  languageFile.Clear();
  languageModule.Free();
  languageModule.ownModule = GetModuleHandleW(nullptr);
  languageModule.resourceModule = languageModule.ownModule;
  // A right-to-left language file mirrors every window the process makes from then on.
  SetProcessDefaultLayout(0);
  SetPlatformOverride(nullptr);
  SetFolderAccessDeniedOverride(nullptr);
  CloseRunLog();
  SetElevationOverride(nullptr);
  SetAdminOnlyFolderOverride(nullptr);
  SetWorkAreaOverride(nullptr);
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
