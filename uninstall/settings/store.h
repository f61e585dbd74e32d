// The settings store: decides once per run whether the registry or "Ombrix.ini" holds the
// settings, answers the registry layer's requests for the program's own keys from the ini file in
// memory, can veto every other registry change, and writes the file back at process end.
#pragma once

#include <windows.h>

#include <cstdint>

#include "filesystem/path.h"

// Ini keys are built in buffers of this many characters; longer keys are cut.
constexpr unsigned kIniKeySize = 1024;

enum IniKind : uint32_t { kIniPlain = 0, kIniQuoted = 1, kIniBinary = 2 };

struct IniEntry {
  wchar_t* key;
  wchar_t* value;
  uint32_t kind;  // IniKind
  IniEntry* next;
  // The key index: the key's hash and the next indexed entry in the same bucket.
  uint32_t hash;
  IniEntry* sameBucket;
};

struct SettingsStore {
  wchar_t iniPath[kPathSize] = {};
  bool active = false;     // the ini file is in force
  bool attempted = false;  // the search has run in this run
  IniEntry* first = nullptr;
  IniEntry* last = nullptr;
  unsigned entryCount = 0;
  // Index over the keys, so that an update does not walk the list: a power-of-two number of
  // buckets, each chaining the first entry of every key that hashes there (the one that answers).
  IniEntry** buckets = nullptr;
  unsigned bucketCount = 0;
  // The "Global" switches read from the file; 1 until the file says otherwise, set by the
  // constructor: a non-zero initialiser here would put the whole object, path buffer and all,
  // into the program file instead of zeroed memory (4 KiB of the program's size).
  uint32_t appData;
  uint32_t integration;
  uint32_t saveSettings;
  // The entries in memory do not stand for the whole file (a read failed part-way, some bytes
  // could not be decoded, or memory ran out while loading): saving would lose the rest, so the
  // file is never written back in this run.
  bool loadIncomplete = false;
  // A save was refused because the file's name leads elsewhere (SaveIni): the settings on disk
  // are not the run's, which the run must tell.
  bool saveRefused = false;
  // Entries a load may create before it counts as out of memory; 0 for no limit. For tests.
  unsigned entryLimit = 0;

  SettingsStore() { appData = integration = saveSettings = 1; }
  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;
  // Frees the entries; the program saves them (SaveIni) at the end of its run.
  ~SettingsStore();
};

extern SettingsStore settingsStore;

// Runs the search (once per run) and tells whether the ini file answers this request: it is
// active, the root is HKCU, HKLM or null, and the subkey is relative.
bool UsesIni(HKEY root, const wchar_t* subkey);
void LoadIni();

// Each returns the handled flag: true when the registry must not be touched, either because the
// ini file served the request or because integration is switched off and the request is dropped.
bool IniGetNumber(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD defaultValue,
                  DWORD& value);
// value: the first entry's text, or null when there is none (or the request was dropped).
bool IniFind(HKEY root, const wchar_t* subkey, const wchar_t* name, const wchar_t** value);
// A value is stored up to its first line break, which would otherwise end its line in the file
// and start an entry of its own; a key holding a line break or "=" cannot be written as a line
// of its own and is not stored at all (the request still counts as handled).
bool IniSet(HKEY root, const wchar_t* subkey, const wchar_t* name, const wchar_t* text,
            IniKind kind = kIniQuoted);
bool IniSetNumber(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD value);
// With a value name (an empty one is the key's default value) removes that entry; with a null
// name every entry under the key.
bool IniDelete(HKEY root, const wchar_t* subkey, const wchar_t* name);
bool IniKeyExists(HKEY root, const wchar_t* subkey, bool& exists);

// Writes the ini file back (UTF-16 LE with its mark, sorted by key) when it is active, was read
// completely and "SaveSettings" is on. The file holds either the complete old or the complete new
// text: the new one is written to a new file beside it (a name nobody can predict, never created
// through a link) that then replaces it, keeping its attributes. Where that is refused (the
// folder takes no new files, or another program holds the file open without delete sharing) the
// new text is written over the old one in the file itself, after growing the file to its length.
// True when the file holds the new text. An elevated run never writes through a name that leads to
// another file (a standard user may have made the link) and sets saveRefused instead.
bool SaveIni();
// SaveIni, and no save after it in this run: the uninstallation saves before the folder goes,
// and a later save would bring the file back.
bool SaveIniLast();
// Frees every entry and forgets the search, so the next request searches again.
void FreeIni();
// FreeIni, the search places and the entry limit back as at the start. For the test reset.
void ResetSettingsStore();
// The "Integration" switch: false when the ini file switches every shell integration off.
bool IntegrationAllowed();

// The ini key of a request: root prefix ("HKCU\", "HKLM\" or none), subkey, a backslash unless
// the text is empty or ends in one, and the value name. Cut to size; false when it was cut.
bool MakeIniKey(HKEY root, const wchar_t* subkey, const wchar_t* name, wchar_t* out,
                unsigned size);

// Records in the value "SettingsFile" of key (an absolute key of root, such as the
// installed-programs record, which only an administrator can change for a machine-wide
// installation) which store this run uses: the ini file's full path, or empty for the registry.
// Dropped like any registry change when the ini file switches integration off.
void RecordSettingsStore(HKEY root, const wchar_t* key);
// From now on the store that setup recorded there is used, whatever ini file a search would find:
// an ini file that appeared since (beside the program, or in the per-user data folder) neither
// turns a registry installation into a portable one nor moves a portable one to another file.
// With no record the search decides as before. Takes effect at once (the entries are reloaded).
void FollowRecordedSettingsStore(HKEY root, const wchar_t* key);

// Where the search looks: the file of the module holding this code and the per-user data folder.
// Tests point them elsewhere; null restores the real places. Takes effect at the next search.
void SetIniSearchPlaces(const wchar_t* programFile, const wchar_t* userFolder);
