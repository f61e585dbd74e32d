// The hidden batch file that removes the program file and its folder once this process has ended.
#pragma once

#include <windows.h>

#include "base/owners.h"
#include "filesystem/path.h"

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

// Closes and deletes the batch, started or not. Once closed, only an administrator can have replaced the batch of an elevated run; in the
// user's temp folder only the user, who gains nothing by it.
void DiscardRemovalBatch(RemovalBatch& batch);
