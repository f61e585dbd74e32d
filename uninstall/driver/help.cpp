#include "driver/help.h"

#include <cwchar>

#include "base/convert.h"
#include "base/ole.h"
#include "base/owners.h"
#include "base/procaddress.h"
#include "base/product.h"
#include "base/text.h"
#include "driver/runstate.h"
#include "filesystem/path.h"
#include "filesystem/secure.h"
#include "localisation/langmodule.h"

namespace {

constexpr wchar_t kViewerModule[] = L"hhctrl.ocx";
constexpr char kViewerEntry[] = "HtmlHelpW";
constexpr wchar_t kTopicFormat[] = L"%s::/html/%s.htm";
constexpr unsigned kTopicRequestSize = 2098;
constexpr UINT kDisplayToc = 0x0001;    // HH_DISPLAY_TOC
constexpr UINT kDisplayTopic = 0x0000;  // HH_DISPLAY_TOPIC

// Kept until the process ends: the viewer may still show a window when dialogs close.
struct HelpViewer {
  ScopedModule module;
  HelpViewerEntry entry = nullptr;
  wchar_t helpFile[kPathSize] = {};
  bool retried = false;
  HelpViewerEntry override = nullptr;
  unsigned loads = 0;
};
HelpViewer helpViewer;

void HelpFileBeside(const wchar_t* program, wchar_t* out, unsigned size) {
  CopyText(out, program, size);
  SetName(out, kHelpFileName, size);
  FindLocalizedFile(out, out, size);
}

// A path the ANSI code page cannot carry may not reach the viewer intact; the short form can.
bool RetryWithShortPath() {
  if (helpViewer.retried) return false;
  helpViewer.retried = true;
  char narrow[kPathSize];
  wchar_t roundTrip[kPathSize];
  ToNarrow(helpViewer.helpFile, narrow, kPathSize);
  ToWide(narrow, roundTrip, kPathSize);
  if (wcscmp(roundTrip, helpViewer.helpFile) == 0) return false;
  wchar_t program[kPathSize];
  if (!GetProgramFile(program, kPathSize)) return false;
  wchar_t shortProgram[kPathSize];
  DWORD length = GetShortPathNameW(program, shortProgram, kPathSize);
  if (length > 0 && length < kPathSize) CopyText(program, shortProgram, kPathSize);
  HelpFileBeside(program, helpViewer.helpFile, kPathSize);
  return true;
}

}  // namespace

HWND ShowHelp(const wchar_t* topic) {
  if (!helpViewer.module) {
    helpViewer.module.reset(LoadSystemModule(kViewerModule));
    if (helpViewer.module) helpViewer.loads++;
  }
  if (!helpViewer.entry) {
    if (!helpViewer.module) return nullptr;
    HelpViewerEntry entry = ModuleFunction<HelpViewerEntry>(helpViewer.module.get(), kViewerEntry);
    helpViewer.entry = helpViewer.override ? helpViewer.override : entry;
    wchar_t program[kPathSize];
    if (GetProgramFile(program, kPathSize)) HelpFileBeside(program, helpViewer.helpFile, kPathSize);
    if (!helpViewer.entry) return nullptr;
  }

  // A help file can run script in the viewer.
  if (!ElevatedMayUse(helpViewer.helpFile)) return nullptr;
  EnsureOle();  // the viewer is made of OLE controls
  HWND window;
  if (topic) {
    wchar_t request[kTopicRequestSize];
    FormatText(request, kTopicRequestSize, kTopicFormat, helpViewer.helpFile, topic);
    window = helpViewer.entry(GetDesktopWindow(), request, kDisplayTopic, 0);
  } else {
    window = helpViewer.entry(GetDesktopWindow(), helpViewer.helpFile, kDisplayToc, 0);
  }
  if (window) return window;
  return RetryWithShortPath() ? ShowHelp(topic) : nullptr;
}

void SetHelpViewerOverride(HelpViewerEntry entry) {
  helpViewer.module.reset();
  helpViewer.entry = nullptr;
  helpViewer.helpFile[0] = 0;
  helpViewer.retried = false;
  helpViewer.override = entry;
  helpViewer.loads = 0;
}

const wchar_t* HelpFilePath() { return helpViewer.helpFile; }

unsigned HelpModuleLoads() { return helpViewer.loads; }
