// The language file "uninstall.lng": its message part parsed into keyed entries, and the
// language's writing direction.
#pragma once

#include "localisation/array.h"

struct LanguageEntry {
  char* key;      // section prefix and key name, ANSI, at most 49 bytes
  wchar_t* text;  // at most 65,536 units
};

struct LanguageFile {
  Array<LanguageEntry> entries;  // in file order
  Array<unsigned> byKey;         // indexes into entries, ordered by key
  bool rightToLeft = false;

  ~LanguageFile();
  // Frees every entry; used between test cases.
  void Clear();
};

extern LanguageFile languageFile;

void LoadLanguageFile(const wchar_t* name);
void ParseLanguageFile(const wchar_t* path);
