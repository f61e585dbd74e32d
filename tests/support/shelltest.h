// Shell fixtures for tests: shell folders redirected into a temp folder, shortcuts read back
// through the shell link object, directory links, and waiting for the sample main program to
// record a start.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "testenv.h"

// Points the user's and all users' Desktop, Start Menu and Programs folders at fresh folders
// inside a temp folder, through "User Shell Folders" under the redirected HKCU and HKLM. Needs a
// live ScratchRegistry; SHGetFolderPathW under Wine follows it within the process.
class ScratchShellFolders {
 public:
  ScratchShellFolders();
  std::wstring userDesktop() const { return root_ / L"Desktop"; }
  std::wstring userStartMenu() const { return root_ / L"StartMenu"; }
  std::wstring userPrograms() const { return root_ / L"Programs"; }
  std::wstring commonDesktop() const { return root_ / L"CommonDesktop"; }
  std::wstring commonStartMenu() const { return root_ / L"CommonStartMenu"; }
  std::wstring commonPrograms() const { return root_ / L"CommonPrograms"; }

 private:
  TempFolder root_;
};

struct ShortcutInfo {
  bool loaded = false;
  std::wstring target, arguments, description, workingFolder, iconPath;
  int iconIndex = -1;
};
// Loads a shortcut file through IShellLinkW and IPersistFile (COM must be initialised).
ShortcutInfo ReadShortcut(const std::wstring& path);
// Names of the files (not folders) directly in a folder, sorted.
std::vector<std::wstring> ListFiles(const std::wstring& folder);
bool PathExists(const std::wstring& path);

// Makes link a directory link to target. Tries CreateSymbolicLinkW first; Wine 8 reports success
// for it but creates nothing, so the host's "ln -s" is used then, which Wine shows as a
// directory reparse point. False when neither gives a reparse point.
bool MakeDirectoryLink(const std::wstring& link, const std::wstring& target);
// The same for a link to a file, which must exist (delete it afterwards for a dangling link).
// Wine 8 shows such a link as a plain file, and deleting or opening it reaches the target.
bool MakeFileLink(const std::wstring& link, const std::wstring& target);

// The host's name of a Windows path under Wine; empty elsewhere.
std::string HostPath(const std::wstring& path);
// Starts the host's bash on the script file (a host path) without waiting for it; under Wine
// only, so false elsewhere. An attacker outside Windows' rules (sharing, reparse points).
bool StartHostScript(const std::string& scriptFile);

// The lines "Ombrix.exe" (the sample stub) recorded in Ombrix.started.txt in folder.
std::vector<std::wstring> StartedLines(const std::wstring& folder);
// Waits until a line recorded by the stub in folder contains text; false on timeout.
bool WaitForStart(const std::wstring& folder, const std::wstring& text, DWORD timeoutMs);
