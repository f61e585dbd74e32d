// Message lookup by id: the language file first, then the language DLL's string table, then the
// program's own.
#pragma once

// Message ids; the language file names them by their "IDS_" names.
enum MessageId : unsigned {
  IDS_UNINSTTITLE = 5101,
  IDS_OMBRIXHELP = 5102,
  IDS_OBXHELP = 5103,
  IDS_WHATSNEW = 5104,
  IDS_WHATSNEWNAME = 5105,
  IDS_UNINSTALLOBX = 5106,
  IDS_UNINSTALLCOMPLETED = 5107,
  IDS_UNINSTALLSHOULDDELETE = 5108,
  IDS_CONTINUEUNINSTALL = 5109,
  IDS_CANNOTOPENLIST = 5110,
  IDS_OMBRIXARC = 5111,
  IDS_OMBRIXZIPARC = 5112,
  IDS_OBXRECVOL = 5113,
  IDS_HOMEURL = 5114,
  IDS_OMBRIXDESC = 5115,
  IDS_REBOOTREQUIRED = 5116,
  IDS_INSTHELP1 = 5120,
  IDS_INSTHELP2 = 5121,
  IDS_INSTHELP3 = 5122,
  IDS_INSTHELP4 = 5123,
  IDS_INSTHELP5 = 5124,
  IDS_INSTHELP6 = 5125,
  IDS_WARN32BIT = 5130,
  IDS_INSTREBOOTREQUIRED = 5135,
  IDS_BETA = 5140,
  IDS_32BIT = 5141,
  IDS_64BIT = 5142,
  IDS_SINGLETOPITEM = 5150,
  IDS_SETUPNORIGHTS = 5151,
  IDS_UNINSTALLNORIGHTS = 5152,
};

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
