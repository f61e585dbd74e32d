// The registry access layer through which every registry read, write and deletion goes: each
// request is first offered to the settings store, relative subkeys are placed under
// "Software\Ombrix", writes use the process-wide registry view, and an elevated process's
// requests for HKEY_CLASSES_ROOT go to the machine's classes (HKLM\Software\Classes), never to a
// user's key of the same name.
#pragma once

#include <windows.h>

// Full registry paths are built in buffers of this many characters. A path that does not fit is
// never cut and used: reads give the default, writes ERROR_FILENAME_EXCED_RANGE, deletions nothing.
constexpr unsigned kRegPathSize = 512;

// Added to the access mask of reads, writes and single-key deletions: 0 (the process's own view)
// or KEY_WOW64_64KEY. Key-existence tests, value deletions and tree deletions ignore it.
extern REGSAM RegView;
void SetRegView(REGSAM view);

// Sets RegView for its lifetime and gives back the earlier view, also when an exception leaves
// the scope.
class ScopedRegView {
 public:
  explicit ScopedRegView(REGSAM view) : previous_(RegView) { SetRegView(view); }
  ~ScopedRegView() { SetRegView(previous_); }
  ScopedRegView(const ScopedRegView&) = delete;
  ScopedRegView& operator=(const ScopedRegView&) = delete;

 private:
  REGSAM previous_;
};

// Subkeys of HKCU and HKLM are relative to "Software\Ombrix" unless they begin with a backslash;
// other roots take them unchanged. False when the path does not fit.
bool BuildRegPath(HKEY root, const wchar_t* subkey, wchar_t* out, unsigned size);

bool RegKeyExists(HKEY root, const wchar_t* subkey);
DWORD GetRegDword(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD defaultValue);
// The buffer always ends up holding the value or the default (cut to size). True when the value
// came from the registry, and always when the settings store handled the request.
bool GetRegString(HKEY root, const wchar_t* subkey, const wchar_t* name, wchar_t* buffer,
                  const wchar_t* defaultText, unsigned size);
// A string value (REG_SZ or REG_EXPAND_SZ) read straight from the registry at root's full path,
// past the settings store and the chosen view, for the few values read before the store may be
// asked. False when the key or value is missing, of another type, or does not fit with its
// terminator (never cut).
bool GetRawRegString(HKEY root, const wchar_t* path, const wchar_t* name, wchar_t* buffer,
                     unsigned size);
// Win32 error codes; callers test ERROR_ACCESS_DENIED for missing rights. Below HKEY_CURRENT_USER
// and HKEY_CLASSES_ROOT no key is created and no value written through a registry link: a link on
// the way gives ERROR_CANT_RESOLVE_FILENAME and is counted (RegKeyCounts).
DWORD SetRegString(HKEY root, const wchar_t* subkey, const wchar_t* name, const wchar_t* text);
DWORD SetRegDword(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD value);
// The deletions return the Win32 error of the registry call (ERROR_SUCCESS when the settings
// store handled the request); a missing key or value gives ERROR_FILE_NOT_FOUND.
DWORD DeleteRegValue(HKEY root, const wchar_t* subkey, const wchar_t* name);
// Deletions never act through a registry link: a link key is deleted itself (or, for a value,
// searched itself), and the key it points at stays.
// One key without children; a key that still has subkeys stays.
DWORD DeleteRegKey(HKEY root, const wchar_t* subkey);
// The key with everything beneath it, in passes until a pass deletes nothing. The root itself is
// never deleted. The result is that of deleting the key itself.
DWORD DeleteRegTree(HKEY root, const wchar_t* subkey);
// Passes made by the last DeleteRegTree that reached the registry.
unsigned LastRegTreePasses();

// Whether this process may change the key: opens it (registry only, never the settings store)
// for writing values, creating subkeys and deletion, in the chosen view. ERROR_SUCCESS,
// ERROR_ACCESS_DENIED without the rights, ERROR_FILE_NOT_FOUND when the key is missing.
DWORD CheckRegWriteAccess(HKEY root, const wchar_t* subkey);

// Writes refused for lack of rights: a platform fact the tests cannot produce otherwise (Wine
// enforces no registry security). From this call on, every key creation, value write, value or
// key deletion and open for writing at root's full path `path` or below it (whole components,
// case ignored; paths as BuildRegPath makes them, so relative program keys are
// "Software\Ombrix\..."; an empty path stands for the whole root) fails with
// ERROR_ACCESS_DENIED without reaching the registry. Roots compare as passed: HKEY_CLASSES_ROOT
// is a root of its own. Denials add up (a few at most; more are ignored). Never called by the
// program; tests and test builds of it call it.
void DenyRegistryWrites(HKEY root, const wchar_t* path);
// Takes every denial back.
void AllowRegistryWrites();

// While an object of this class lives (nested objects share one batch), the keys that requests
// open stay open, so that a run of reads and writes opens or creates each key once. A key deleted
// through the layer is forgotten with everything below it. Nothing outside the layer may create
// or delete a key meanwhile, and a key is always reached through the same root (HKCR, not the
// "Software\Classes" keys behind it). A key below one the batch created new is known to be
// missing without asking the registry. Value deletions open their keys alone (unless the batch
// created the key new, and so knows it is no link), and so do the raw reads.
class RegBatch {
 public:
  RegBatch();
  ~RegBatch();
  RegBatch(const RegBatch&) = delete;
  RegBatch& operator=(const RegBatch&) = delete;
};

// Key creations and opens this layer made since the counts were last reset (every registry key
// the program opens goes through this layer).
struct RegKeyCounts {
  unsigned creations;
  unsigned opens;
  // Changes Windows refused or failed (a deletion of what is not there is none).
  unsigned failedChanges;
  // Writes refused because a key on the way was a registry link.
  unsigned linksRefused;
};
RegKeyCounts GetRegKeyCounts();
void ResetRegKeyCounts();

// Values of any type, for keys outside the program's own (the settings store never holds them):
// what another program left is read and given back byte for byte. A request the settings store
// drops (integration switched off) reads as missing and writes nothing.
// ERROR_FILE_NOT_FOUND for a missing key or value, ERROR_MORE_DATA when the data does not fit.
DWORD GetRegData(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD* type, void* data,
                 DWORD* bytes);
DWORD SetRegData(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD type,
                 const void* data, DWORD bytes);
// The value at index (in the registry's order): its name, cut and terminated, its type and data.
// ERROR_NO_MORE_ITEMS past the last one.
DWORD EnumRegValue(HKEY root, const wchar_t* subkey, DWORD index, wchar_t* name,
                   unsigned nameSize, DWORD* type, void* data, DWORD* bytes);
// How many subkeys and values the key has; false when it cannot be opened.
bool CountRegKeyContents(HKEY root, const wchar_t* subkey, DWORD* subkeys, DWORD* values);

// For tests of interrupted runs: after this many further changes (value writes, value and key
// deletions, a tree deletion counting as one) every change is refused with ERROR_CANCELLED, as
// if the process had ended there. kUnlimitedRegChanges (the start state) lifts the limit. Never
// called by the program.
constexpr unsigned kUnlimitedRegChanges = 0xFFFFFFFF;
void SetRegChangeLimit(unsigned changes);
// Every process-wide object of the registry layer back in its start state: the view, the
// denials, the change limit and counts, the key batch (its open keys closed) and the tree
// deletion's figures. For the test reset.
void ResetRegistryState();

// The same operations on HKEY_CURRENT_USER, for the program's own settings.
DWORD GetSettingDword(const wchar_t* subkey, const wchar_t* name, DWORD defaultValue);
bool GetSettingString(const wchar_t* subkey, const wchar_t* name, wchar_t* buffer,
                      const wchar_t* defaultText, unsigned size);
DWORD SetSettingDword(const wchar_t* subkey, const wchar_t* name, DWORD value);
DWORD SetSettingString(const wchar_t* subkey, const wchar_t* name, const wchar_t* text);
void DeleteSettingValue(const wchar_t* subkey, const wchar_t* name);
