#include "driver/cmdline.h"

#include <memory>

#include "base/convert.h"
#include "base/text.h"
#include "driver/startup.h"

namespace {

constexpr wchar_t kInstallerSwitchesVariable[] = L"sfxcmd";
// "/wait": a pause for a script that starts the program before its next step.
constexpr DWORD kWaitMs = 2000;

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

}  // namespace

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
