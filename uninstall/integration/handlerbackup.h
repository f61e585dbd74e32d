// What another program had on a file-type key before the product took it over, saved under the
// settings key Setup\<key> so that releasing gives back exactly that: the key's default value of
// any type (or its absence) and the key's existence, and the values of its ShellNew subkey.
// Callers release only keys the product still owns; every release step can run again after an
// interruption and ends in the same state.
#pragma once

#include "base/product.h"

// The product's own file types: never handed back to anyone, removed with the uninstallation.
inline constexpr const wchar_t* kProductTypes[] = {kObxType, kZipType, kRevType};

// Saves the default value of HKEY_CLASSES_ROOT <key> and whether the key exists. False when the
// backup could not be written completely: the key must not be taken over then.
bool SaveKeyHandler(const wchar_t* key);
// Gives the saved default value back, or removes the product's value when there was none (a
// saved product type counts as none), and deletes the key when the product created it and
// nothing else is in it. existedIfUnsaved: what to assume for a key without any backup.
void RestoreKeyHandler(const wchar_t* key, bool existedIfUnsaved);

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
