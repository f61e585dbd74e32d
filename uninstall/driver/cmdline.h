// The command line: splitting it into arguments and the switch grammar, for the program's own
// command line and for the switches the installer package leaves in the environment.
#pragma once

constexpr unsigned kArgumentSize = 1024;

// Returns the position after the next argument, or null when only blanks remain.
const wchar_t* NextArgument(const wchar_t* text, wchar_t* argument, unsigned capacity);
void ParseSwitches(bool fromEnvironment, const wchar_t* text, bool& setupRequested,
                   bool& uninstallRequested);
// Applies the switches the installer package left in "sfxcmd"; only the silent one counts there.
void ParseInstallerSwitches();
