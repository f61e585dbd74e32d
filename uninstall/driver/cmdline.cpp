#include "driver/cmdline.h"

#include <memory>

#include "base/convert.h"
#include "base/text.h"

namespace {

constexpr wchar_t kInstallerSwitchesVariable[] = L"sfxcmd";

enum class SwitchAction {
  kSetup, kMsi, kInit, kWait, kNoExplorer, kWarning, kLog, kNoRestart, kHelp
};

struct SwitchEntry {
  const wchar_t* keyword;
  unsigned compared;
  SwitchAction action;
};

// Searched in order, first match wins; text after the compared characters is ignored. The
// switches deployment systems pass by habit are compared whole (their terminator counted).
constexpr SwitchEntry kSwitches[] = {
    {L"setup", 5, SwitchAction::kSetup}, {L"msi", 3, SwitchAction::kMsi},
    {L"init", 4, SwitchAction::kInit},   {L"wait", 4, SwitchAction::kWait},
    {L"noexplorer", 4, SwitchAction::kNoExplorer}, {L"warning", 7, SwitchAction::kWarning},
    {L"log", 3, SwitchAction::kLog},     {L"norestart", 10, SwitchAction::kNoRestart},
    {L"?", 2, SwitchAction::kHelp},      {L"help", 5, SwitchAction::kHelp},
};

// Other installers' silent switches mean what "/S" means here.
constexpr const wchar_t* kSilentAliases[] = {L"quiet", L"silent", L"verysilent", L"qn"};

bool IsSilentSwitch(const wchar_t* argument) {
  if (ToUpperChar(argument[1]) == L'S' && !IsAsciiLetter(argument[2])) return true;
  for (const wchar_t* alias : kSilentAliases)
    if (CompareNoCase(argument + 1, alias) == 0) return true;
  return false;
}

// "/msi", "/log" and "/norestart" leave the uninstallation as it is: an MSI package takes back
// the integration with "/msi", while the record and the files stay the package's; the program
// never restarts Windows itself. Any other switch rules it out, an unknown one makes the whole
// command line invalid. True when the switch rules the uninstallation out.
bool ApplySwitch(const wchar_t* argument, CommandLine& line) {
  const wchar_t* name = argument + 1;
  for (const SwitchEntry& entry : kSwitches) {
    if (CompareNoCaseN(name, entry.keyword, entry.compared) != 0) continue;
    switch (entry.action) {
      case SwitchAction::kSetup:
        line.setup = true;
        break;
      case SwitchAction::kMsi:
        line.msiMode = true;
        return false;
      case SwitchAction::kInit:
        CopyText(line.initString, name + 4, kInitStringSize);
        break;
      case SwitchAction::kWait:
        line.wait = true;
        break;
      case SwitchAction::kNoExplorer:
        line.noExplorer = true;
        break;
      case SwitchAction::kWarning:
        line.warning = true;
        break;
      case SwitchAction::kLog:
        // "/log" or "/log=<file>"; a log path that does not fit is no path.
        if (name[3] == 0 || (name[3] == L'=' && TextLength(name + 4) < kPathSize)) {
          line.log = true;
          CopyText(line.logPath, name[3] ? name + 4 : L"", kPathSize);
          return false;
        }
        line.invalid = true;
        break;
      case SwitchAction::kNoRestart:
        return false;
      case SwitchAction::kHelp:
        line.help = true;
        break;
    }
    return true;
  }
  line.invalid = true;
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

void ParseSwitches(bool fromEnvironment, const wchar_t* text, CommandLine& line) {
  wchar_t argument[kArgumentSize];
  bool uninstallRuledOut = false;
  while ((text = NextArgument(text, argument, kArgumentSize)) != nullptr) {
    if (argument[0] != L'/' && argument[0] != L'-') continue;
    if (IsSilentSwitch(argument))
      line.silent = true;
    else if (!fromEnvironment && ApplySwitch(argument, line))
      uninstallRuledOut = true;
  }
  if (!fromEnvironment) line.uninstall = !uninstallRuledOut;
}

void ParseInstallerSwitches(CommandLine& line) {
  wchar_t value[kArgumentSize];
  ReadVariableCut(kInstallerSwitchesVariable, value, kArgumentSize);
  ParseSwitches(true, value, line);
}
