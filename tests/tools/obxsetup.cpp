// Stands in for a confirmed setup dialog in end-to-end tests: started from an installation folder,
// it saves and applies every integration choice (all archive types, the shortcuts, the Explorer
// extension) and writes the installed-programs record for the uninstall.exe beside it.
#include <windows.h>
#include <ole2.h>

#include "driver/record.h"
#include "filesystem/path.h"
#include "integration/apply.h"
#include "integration/options.h"
#include "localisation/langmodule.h"
#include "settings/registry.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
  languageModule.Load(instance);
  HRESULT ole = OleInitialize(nullptr);
  IntegrationOptions options = {};
  for (bool& associate : options.associate) associate = true;
  options.linkDesktop = options.linkStartMenu = options.linkPrograms = true;
  options.shellExt = true;
  RegBatch batch;
  SaveIntegrationOptions(options);
  wchar_t group[kPathSize] = {};
  bool applied = ApplyIntegration(options, group, kPathSize);

  wchar_t program[kPathSize];
  DWORD length = GetModuleFileNameW(nullptr, program, kPathSize);
  if (length == 0 || length >= kPathSize) return 3;
  SetName(program, L"uninstall.exe", kPathSize);
  WriteUninstallRecord(program);
  NotifyAssociationsChanged();
  if (SUCCEEDED(ole)) OleUninitialize();
  return applied ? 0 : 2;
}
