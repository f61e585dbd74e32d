// The product's entry in the Windows list of installed programs, which the removal panel shows and
// through which it starts this program in uninstall mode.
#pragma once

// The record's key under HKEY_LOCAL_MACHINE; the leading backslash makes it absolute for the
// registry access layer.
extern const wchar_t kUninstallRecordKey[];

// Writes every value of the record for the running program; nothing when registry integration is
// switched off in the settings. A "DisplayIcon" that names an existing file in the installation
// folder is kept; a record that named another folder loses the values this one does not write.
void WriteUninstallRecord();
// The same for the program at programPath (a full path).
void WriteUninstallRecord(const wchar_t* programPath);

// Whether the record's "UninstallString" names program (quoted or not, in any case).
bool RecordNamesProgram(const wchar_t* program);

// Appends a blank (when text is not empty), the version "6.22" and " (32-bit)" in the user's
// language to text, within capacity characters.
void AppendVersionLabel(wchar_t* text, unsigned capacity);

// Bytes of the files that folder's "Uninstall.lst" names, rounded up to KiB: what the
// installation holds, not whatever else shares its folder (a drive root). Links, and entries
// reached through one, do not count; 0 without a readable list.
unsigned long long ListedSizeKiB(const wchar_t* folder);
