// Small functions on UTF-16 paths in fixed-size caller buffers: separators, the name part,
// joining, the "\\?\" form that every file operation falls back to, the product's per-user data
// folder and modules of the system folder. Sizes count characters including the terminator;
// results that do not fit are cut.
#pragma once

#include <windows.h>

constexpr unsigned kPathSize = 2048;

bool IsPathSeparator(wchar_t ch);
bool IsDriveLetter(const wchar_t* path);
bool IsFullPath(const wchar_t* path);
// A leading "\\?\" is skipped, so its "?" is not a wildcard.
bool HasWildcards(const wchar_t* path);
const wchar_t* PointToName(const wchar_t* path);
wchar_t* PointToName(wchar_t* path);
const wchar_t* PointToLastChar(const wchar_t* path);
wchar_t* PointToLastChar(wchar_t* path);
void AddEndSlash(wchar_t* path, unsigned size);
void RemoveNameFromPath(wchar_t* path);
void SetName(wchar_t* path, const wchar_t* name, unsigned size);
void GetFilePath(const wchar_t* path, wchar_t* out, unsigned size);
void MakeName(const wchar_t* folder, const wchar_t* name, wchar_t* out, unsigned size);
// The name after a leading "\\?\"; path itself when it has none.
const wchar_t* SkipLongPrefix(const wchar_t* path);
// False when the form cannot be built or does not fit.
bool MakeLongPath(const wchar_t* path, wchar_t* out, unsigned size);
// prefix, then kRandomDigits hexadecimal digits from the system's cryptographic generator (a name
// part nobody can guess beforehand), then suffix, into out (not prefix's buffer). False when the
// digits cannot be had or the whole does not fit.
constexpr unsigned kRandomDigits = 16;
bool MakeRandomName(const wchar_t* prefix, const wchar_t* suffix, wchar_t* out, unsigned size);
// The program's own file. False, with out empty, when its name does not fit: a cut name would
// name another file.
bool GetProgramFile(wchar_t* out, unsigned size);
// The file name beside the program; false, with out empty, when the result does not fit.
bool GetProgramFolderFile(const wchar_t* name, wchar_t* out, unsigned size);
// The full name of name in the system folder (kPathSize characters); false when the folder's name
// cannot be had.
bool GetSystemFile(const wchar_t* name, wchar_t* out);
// Loads a DLL from the system folder by its full path, never from a folder an attacker may fill.
HMODULE LoadSystemModule(const wchar_t* name);
// The user's temp folder, ending in a backslash (kPathSize characters); false when its name cannot
// be had or does not fit.
bool GetUserTempFolder(wchar_t* out);
// The shell folder csidl stands for. The buffer must hold more than 259 characters; on failure it
// receives "unknown_folder".
bool GetSpecialFolder(wchar_t* out, unsigned size, int csidl);
// The per-user application data folder with "Ombrix" appended; true when that folder exists.
bool GetAppDataFolder(wchar_t* out, unsigned size);
