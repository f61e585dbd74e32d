// The registry access layer through which every registry read, write and deletion goes: each
// request is first offered to the settings store, relative subkeys are placed under
// "Software\Ombrix", and writes use the process-wide registry view.
#pragma once

#include <windows.h>

// Full registry paths are built in buffers of this many characters. A path that does not fit is
// never cut and used: reads give the default, writes ERROR_FILENAME_EXCED_RANGE, deletions nothing.
constexpr unsigned kRegPathSize = 512;

// Added to the access mask of reads, writes and single-key deletions: 0 (the process's own view)
// or KEY_WOW64_64KEY. Key-existence tests, value deletions and tree deletions ignore it.
extern REGSAM RegView;
void SetRegView(REGSAM view);

// Subkeys of HKCU and HKLM are relative to "Software\Ombrix" unless they begin with a backslash;
// other roots take them unchanged. False when the path does not fit.
bool BuildRegPath(HKEY root, const wchar_t* subkey, wchar_t* out, unsigned size);

bool RegKeyExists(HKEY root, const wchar_t* subkey);
DWORD GetRegDword(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD defaultValue);
// The buffer always ends up holding the value or the default (cut to size). True when the value
// came from the registry, and always when the settings store handled the request.
bool GetRegString(HKEY root, const wchar_t* subkey, const wchar_t* name, wchar_t* buffer,
                  const wchar_t* defaultText, unsigned size);
// Win32 error codes; callers test ERROR_ACCESS_DENIED for missing rights.
DWORD SetRegString(HKEY root, const wchar_t* subkey, const wchar_t* name, const wchar_t* text);
DWORD SetRegDword(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD value);
void DeleteRegValue(HKEY root, const wchar_t* subkey, const wchar_t* name);
// One key without children; a key that still has subkeys stays.
void DeleteRegKey(HKEY root, const wchar_t* subkey);
// The key with everything beneath it, in passes until a pass deletes nothing. The root itself is
// never deleted.
void DeleteRegTree(HKEY root, const wchar_t* subkey);
// Passes made by the last DeleteRegTree that reached the registry.
unsigned LastRegTreePasses();

// The same operations on HKEY_CURRENT_USER, for the program's own settings.
DWORD GetSettingDword(const wchar_t* subkey, const wchar_t* name, DWORD defaultValue);
bool GetSettingString(const wchar_t* subkey, const wchar_t* name, wchar_t* buffer,
                      const wchar_t* defaultText, unsigned size);
DWORD SetSettingDword(const wchar_t* subkey, const wchar_t* name, DWORD value);
DWORD SetSettingString(const wchar_t* subkey, const wchar_t* name, const wchar_t* text);
void DeleteSettingValue(const wchar_t* subkey, const wchar_t* name);
