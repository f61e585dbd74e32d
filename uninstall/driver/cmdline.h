// The command line: splitting it into arguments and the switch grammar, for the program's own
// command line and for the switches the installer package leaves in the environment. Parsing
// only fills a value; the start-up carries it out.
#pragma once

#include "filesystem/path.h"

constexpr unsigned kArgumentSize = 1024;
constexpr unsigned kInitStringSize = 40;

// What the switches ask for.
struct CommandLine {
  bool silent = false;
  bool setup = false;
  bool uninstall = false;  // no switch rules it out (only from the program's own command line)
  bool msiMode = false;
  bool noExplorer = false;
  bool wait = false;
  bool warning = false;
  bool help = false;
  bool log = false;
  bool invalid = false;  // a switch the program does not know, or a log path that does not fit
  wchar_t initString[kInitStringSize] = {};
  wchar_t logPath[kPathSize] = {};
};

// Returns the position after the next argument, or null when only blanks remain.
const wchar_t* NextArgument(const wchar_t* text, wchar_t* argument, unsigned capacity);
// Adds the switches of text to line; from the installer's variable (fromEnvironment) only the
// silent switch counts.
void ParseSwitches(bool fromEnvironment, const wchar_t* text, CommandLine& line);
// The switches the installer package left in "sfxcmd" added to line.
void ParseInstallerSwitches(CommandLine& line);
