// Isolation for tests: a temp folder that is removed with everything in it, and scratch registry
// keys that stand in for the predefined roots within this process.
#pragma once

#include <windows.h>

#include <string>

// A fresh folder under the temp folder, removed recursively on destruction.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::wstring& path() const { return path_; }
  // The folder joined with a relative name.
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

// Removes a folder tree (files, read-only files and subfolders) without following links.
void RemoveTree(const std::wstring& path);
// Writes bytes to a file, replacing it; fails the current test on error.
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::string ReadFileBytes(const std::wstring& path);
// A text known to be plain ASCII as bytes, to compare with what a file holds.
inline std::string Ascii(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// Points HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE of this process at fresh subkeys of
// HKCU\Software\ObxTest, and HKEY_CLASSES_ROOT at the machine's classes (Software\Classes of that
// HKEY_LOCAL_MACHINE), and removes them and the redirection on destruction.
class ScratchRegistry {
 public:
  ScratchRegistry();
  ~ScratchRegistry();
  ScratchRegistry(const ScratchRegistry&) = delete;
  ScratchRegistry& operator=(const ScratchRegistry&) = delete;
  // The real key behind a redirected root, for checking from outside the redirection.
  HKEY Real(HKEY root) const;

 private:
  std::wstring base_;
  HKEY hkcu_ = nullptr, hklm_ = nullptr, hkcr_ = nullptr;
};

// Whether a file or folder exists, or with "*" in its name whether anything matches; whether a
// registry key can be opened for reading.
bool Exists(const std::wstring& path);
bool KeyExists(HKEY root, const std::wstring& subkey);
// Polls until path no longer exists; false when it is still there after timeoutMs.
bool WaitUntilGone(const std::wstring& path, DWORD timeoutMs);
// What matches the self-removal batch of an uninstallation: under Wine every process is elevated,
// so the batch lies in the system's temp folder.
std::wstring RemovalBatchFile();
// The user's temp folder, without its last backslash.
std::wstring UserTempFolder();
// Deletes the batch files RemovalBatchFile matches: those a run killed before it could start its
// batch leaves behind, never run, which would stand for every later run's.
void DeleteLeftRemovalBatches();

// A unique name for this process and call, for scratch keys and files.
std::wstring UniqueName(const wchar_t* prefix);
