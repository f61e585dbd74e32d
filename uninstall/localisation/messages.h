// Message lookup by id: the language file first, then the language DLL's string table, then the
// program's own.
#pragma once

// The message ids (IDS_...), which every caller of these functions names.
#include "resources/resource.h"

constexpr unsigned kMessageSize = 1024;
// Buffer size for a full key from FindKeyName, in bytes.
constexpr unsigned kKeyNameSize = 80;

// A row of the built-in table that ties ids to language file keys: "s:" and a message name, or
// "$" dialog ":" control name with the control id (0 for "SIZE" and "CAPTION").
struct KeyTableRow {
  const char* key;
  unsigned id;
};
extern const KeyTableRow KeyTable[];
extern const unsigned KeyTableCount;

// The text in one of eight rotating buffers; valid until eight further calls. An id found nowhere
// gives the empty text.
const wchar_t* GetMsg(unsigned id);
// The same lookup into the caller's buffer of size units; returns out.
wchar_t* LoadMsg(unsigned id, wchar_t* out, unsigned size);
// The full key ("s:" and name) of message id; false while the language file has no entries.
bool FindKeyName(unsigned id, char* out, unsigned size);
// The text of the language file entry with this full key, cut to size - 1 units.
bool LookupText(const char* key, wchar_t* out, unsigned size);
