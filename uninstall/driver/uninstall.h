// The uninstall procedure: takes the product's integration, settings and files off the computer
// and leaves the program file and its folder to a hidden self-removal batch file.
#pragma once

#include <windows.h>

void RunUninstall();

// Every piece of shell integration, the product's file types and settings and, unless msiMode,
// the installed-programs record and App Paths entry of the process's registry view.
void RemoveIntegration();

// The "Paths" "TempFolder" setting when it names something that exists, else the system's temp
// folder; always ends in a backslash. The folder is neither created nor checked further.
void GetTempFolder(wchar_t* out, unsigned size);

// The folder of program: without its last backslash, kept only at a drive root ("C:\"). False
// when the path holds no backslash.
bool GetProgramFolder(const wchar_t* program, wchar_t* out, unsigned size);

// An entry of "Uninstall.lst" that names something inside the installation folder: not absolute,
// no drive, no "\\?\" or network prefix, no "." or ".." component, no ":" stream name.
bool IsSafeListEntry(const wchar_t* entry);

struct DeletionPasses {
  unsigned passes = 0;   // including the last one, which removed nothing
  unsigned removed = 0;  // files deleted and folders removed over all passes
  bool rebootNeeded = false;
};

// Deletes what the open list names under folder (which ends in a backslash), reading the list
// from its start in every pass until a pass removes nothing. A file that cannot be deleted is
// renamed to a free "<name>.<n>.tmp" and scheduled for deletion at restart, except for entries
// named like programName or "Uninstall.lst", which are left for later. Unsafe entries and lines
// too long for their buffer are skipped.
DeletionPasses DeleteListedFiles(HANDLE list, const wchar_t* folder, const wchar_t* programName);

// The form of path that reaches the command interpreter unchanged through a batch file: the path
// itself or, when that does not survive the interpreter's code page, its short form; every "%"
// doubled. False when no form survives or the result does not fit.
bool MakeBatchPath(const wchar_t* path, wchar_t* out, unsigned size);

// Writes text in the code page the command interpreter reads batch files in, without terminator.
// False, with nothing written, when a character has no exact form there or the write fails.
bool WriteBatchLine(HANDLE file, const wchar_t* text);

// Writes the self-removal batch file at batchPath for program and folder (the folder without a
// trailing backslash unless it is a drive root). False, and no file left, when any line could not
// be written so that it names exactly the file meant.
bool WriteRemovalBatch(const wchar_t* batchPath, const wchar_t* program, const wchar_t* folder,
                       bool silent);
