// The language file "uninstall.lng": its message part parsed into keyed entries, and the
// language's writing direction.
#pragma once

#include <cstddef>

#include "base/array.h"

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

// Reads the file found by FindLocalizedFile, then lets an "RTL" dialog resource of the resource
// module make the language right to left, and mirrors the process's windows when it is.
void LoadLanguageFile(const wchar_t* name);
// A name without a backslash is taken from the program's folder. A missing or unreadable file,
// or one without the message marker, adds nothing.
void ParseLanguageFile(const wchar_t* path);

// The parser behind ParseLanguageFile, for a file's bytes already in memory: finds the marker in
// either encoding and parses the message part. Reads nothing beyond data + size.
void ParseLanguageData(const void* data, size_t size);
// Parses a message part given as length UTF-16 units, starting at the marker; a zero unit ends
// it early. Reads nothing beyond text + length.
void ParseMessageText(const wchar_t* text, size_t length);

// Limits of the format; longer parts are cut.
constexpr size_t kMarkerScanLimit = 256 * 8176;     // last byte offset at which a marker counts
constexpr size_t kMessagePartBytes = 2097152;       // read from the marker on
constexpr size_t kMessagePartUnits = 1048576;       // parsed at most
constexpr unsigned kLanguageKeySize = 50;           // full key with terminator
constexpr unsigned kLanguageValueUnits = 65536;     // value without terminator
