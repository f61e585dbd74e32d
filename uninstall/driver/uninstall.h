// The uninstall procedure: takes the product's integration, settings and files off the computer
// and leaves the program file and its folder to a hidden self-removal batch file.
#pragma once

#include <windows.h>

#include "base/owners.h"
#include "filesystem/path.h"

#include "driver/filelist.h"

// Ends with runState.exitCode kExitNoRights, having changed nothing, when the run lacks the
// rights to delete the installed-programs record, the product's class key or the installation
// folder.
void RunUninstall();

// Whether this run may take away what it removes: the product's class key and the
// installed-programs record (each when it exists) and the installation folder, each opened with
// delete access and closed again, so asking changes nothing. Under msiMode the record and the
// files stay the package's and are not asked about. Only a denial (ERROR_ACCESS_DENIED) counts;
// other failures are met later as before.
bool HasUninstallRights(const wchar_t* installFolder);

// Every piece of shell integration, the product's file types and settings and, unless msiMode,
// the installed-programs record and App Paths entry of the process's registry view.
void RemoveIntegration();

// The "Paths" "TempFolder" setting when it names something that exists, else the system's temp
// folder; always ends in a backslash. The folder is neither created nor checked further.
void GetTempFolder(wchar_t* out, unsigned size);

// Removes the main program's "Ombrix.exe.WebView2" data folder from tempFolder (as given by
// GetTempFolder) without following a link: one at that name, or inside it, is removed itself.
void RemoveWebViewData(const wchar_t* tempFolder);

// The folder of program: without its last backslash, kept only at a drive root ("C:\"). False
// when the path holds no backslash.
bool GetProgramFolder(const wchar_t* program, wchar_t* out, unsigned size);

// Room for the names of files that must be deleted by hand, one per line.
constexpr unsigned kLeftFilesSize = 1024;

struct DeletionResult {
  unsigned removed = 0;      // files deleted, folders and links removed
  bool scheduled = false;    // some file goes at the next restart
  unsigned unscheduled = 0;  // files that could be neither deleted nor scheduled
  wchar_t left[kLeftFilesSize] = {};  // where those stay, as many whole names as fit
};

// Deletes what the list names under folder (which ends in a backslash): first every listed file
// in the list's order, then every listed folder that is empty by then, deeper ones first, so the
// order of the list does not matter and each entry is looked at once or twice. A file that cannot
// be deleted is renamed to a free "<name>.<n>.tmp" and scheduled for deletion at restart, except
// for entries named like programName or "Uninstall.lst", which are left for later. No link is
// followed: a listed link, or one on the way to an entry, is removed itself and what lies behind
// it is not touched.
DeletionResult DeleteListedFiles(const FileList& list, const wchar_t* folder,
                                 const wchar_t* programName);

// The form of path that reaches the command interpreter unchanged through a batch file: the path
// itself or, when that does not survive the interpreter's code page, its short form; every "%"
// doubled. False when no form survives or the result does not fit.
bool MakeBatchPath(const wchar_t* path, wchar_t* out, unsigned size);

// Writes text in the code page the command interpreter reads batch files in, without terminator.
// False, with nothing written, when a character has no exact form there or the write fails.
bool WriteBatchLine(HANDLE file, const wchar_t* text);

// The self-removal batch file, held open from its creation until this process ends.
struct RemovalBatch {
  wchar_t path[kPathSize] = {};
  // Open for writing, shared for reading only: nobody else can rewrite, replace or delete the
  // file while this process holds it, and the interpreter, which shares writing, can read it.
  ScopedHandle file;
  // The writing end of the started batch's input, which nothing else holds: its first line
  // returns when this handle closes, that is when this process ends.
  ScopedHandle endSignal;
};

// Creates the batch file under a name nobody can guess ("Uninstall_Obx_" + random digits +
// ".Bat"), never through a link, with its first line: wait for this process to end. Elevated, in the system's temp folder, where others may create
// files but not delete or rename them, with security that lets only administrators and SYSTEM
// change it; no unelevated process can then replace or rewrite it before or while it runs. Not
// elevated, in the user's temp folder.
bool CreateRemovalBatch(RemovalBatch& batch);

// Appends the self-removal lines to the created batch, started or not, for program and, unless
// null, folder (without a trailing backslash unless it is a drive root): up to five tries, a
// second apart, to delete the program and remove the folder (only when empty), then, with
// warning, the program started with "/warning" if it is still there; the last line deletes the
// batch. False, with the batch gone, when any line could not be written so that it names exactly
// the file meant.
bool WriteRemovalBatch(RemovalBatch& batch, const wchar_t* program, const wchar_t* folder,
                       bool warning);

// Starts the batch hidden through cmd.exe of the system folder (not the one the environment
// names), with AutoRun commands (/d) and "!" expansion (/v:off) off, in the batch's folder and by
// its bare name: no path reaches the interpreter's command line to be parsed. Its input is a pipe
// whose writing end stays in batch.endSignal.
bool StartRemovalBatch(RemovalBatch& batch);

// Renames the running program to "Uninstall_Obx_" + random digits + ".exe" in the folder of the
// file beside (the batch's, else its own): its own name is free at once for a setup that copies a
// new program in, and the batch deletes only the new name, which no setup uses. False, with the
// program where it was, when that fails (another drive, or the file held without sharing).
bool MoveProgramAside(const wchar_t* program, const wchar_t* beside, wchar_t* aside);
