// What another program had on a file-type key before the product took it over, saved under the
// product's machine key (Software\Ombrix\Setup\<key> in HKEY_LOCAL_MACHINE, or the ini file of a
// portable installation) so that releasing gives back exactly that, whichever account uninstalls:
// the key's default value of any type (or its absence) and the key's existence, and the values of
// its ShellNew subkey. Backups that earlier versions left in the installing user's settings are
// still read, but only what could not steer every user's shell is given back from them: a default
// value that names a file type registered for that extension, and the plain New-menu values.
// Callers release only keys the product still owns; every release step can run again after an
// interruption and ends in the same state.
#pragma once

#include "base/product.h"

// The product's own file types: never handed back to anyone, removed with the uninstallation.
inline constexpr const wchar_t* kProductTypes[] = {kObxType, kZipType, kRevType};

// Counts a take-over this run left undone because what was there could not be saved completely.
void NoteUnsavedHandler();
// How many take-overs this run left undone so.
unsigned UnsavedHandlerCount();
// The count back to 0. For the test reset.
void ResetUnsavedHandlers();

// Saves the default value of HKEY_CLASSES_ROOT <key> and whether the key exists. False when the
// backup could not be written completely: the key must not be taken over then.
bool SaveKeyHandler(const wchar_t* key);
// Gives the saved default value back, or removes the product's value when there was none (a
// saved product type counts as none), and deletes the key when the product created it and
// nothing else is in it. existedIfUnsaved: what to assume for a key without any backup.
void RestoreKeyHandler(const wchar_t* key, bool existedIfUnsaved);
// For a key the product holds already: copies a backup that an earlier version left in the
// user's settings to the machine key, still marked as coming from there.
void MoveLegacyBackup(const wchar_t* key);
// Deletes the key when the backup says it did not exist before and it is empty: a run that ended
// between creating it and writing the product's value left it.
void RemoveCreatedEmptyKey(const wchar_t* key);

// Whether the product's New-menu template holds <ext>\ShellNew, with the values found there
// before saved. templatePath: the product's template file, for backups of earlier versions,
// which did not record this.
bool IsShellNewHeld(const wchar_t* ext, const wchar_t* templatePath);
// Saves every value of <ext>\ShellNew and whether the key exists, then marks the entry as held.
// False when a value is too large to save or a write fails: ShellNew must stay untouched then.
bool SaveShellNew(const wchar_t* ext);
// When held: puts every saved value back, removes the product's "FileName" unless it was one of
// them, deletes a ShellNew key that did not exist before and holds nothing else, and marks the
// entry as no longer held.
void RestoreShellNew(const wchar_t* ext, const wchar_t* templatePath);
