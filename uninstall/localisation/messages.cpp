#include "localisation/messages.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "localisation/langfile.h"
#include "localisation/langmodule.h"
#include "localisation/text.h"

const KeyTableRow KeyTable[] = {
    {"s:IDS_UNINSTTITLE", 5101},
    {"s:IDS_OMBRIXHELP", 5102},
    {"s:IDS_OBXHELP", 5103},
    {"s:IDS_WHATSNEW", 5104},
    {"s:IDS_WHATSNEWNAME", 5105},
    {"s:IDS_UNINSTALLOBX", 5106},
    {"s:IDS_UNINSTALLCOMPLETED", 5107},
    {"s:IDS_UNINSTALLSHOULDDELETE", 5108},
    {"s:IDS_CONTINUEUNINSTALL", 5109},
    {"s:IDS_CANNOTOPENLIST", 5110},
    {"s:IDS_OMBRIXARC", 5111},
    {"s:IDS_OMBRIXZIPARC", 5112},
    {"s:IDS_OBXRECVOL", 5113},
    {"s:IDS_HOMEURL", 5114},
    {"s:IDS_OMBRIXDESC", 5115},
    {"s:IDS_REBOOTREQUIRED", 5116},
    {"s:IDS_INSTHELP1", 5120},
    {"s:IDS_INSTHELP2", 5121},
    {"s:IDS_INSTHELP3", 5122},
    {"s:IDS_INSTHELP4", 5123},
    {"s:IDS_INSTHELP5", 5124},
    {"s:IDS_INSTHELP6", 5125},
    {"s:IDS_WARN32BIT", 5130},
    {"s:IDS_INSTREBOOTREQUIRED", 5135},
    {"s:IDS_BETA", 5140},
    {"s:IDS_32BIT", 5141},
    {"s:IDS_64BIT", 5142},
    {"s:IDS_SINGLETOPITEM", 5150},
    {"s:IDS_SETUPNORIGHTS", 5151},
    {"s:IDS_UNINSTALLNORIGHTS", 5152},

    {"$SETUPDLG:SIZE", 0},
    {"$SETUPDLG:CAPTION", 0},
    {"$SETUPDLG:IDC_ASSOCWITH", 5129},
    {"$SETUPDLG:IDC_ASSOCOBX", 5101},
    {"$SETUPDLG:IDC_ASSOCZIP", 5102},
    {"$SETUPDLG:IDC_ASSOC7Z", 5106},
    {"$SETUPDLG:IDC_ASSOCARJ", 5104},
    {"$SETUPDLG:IDC_ASSOCBZ2", 5110},
    {"$SETUPDLG:IDC_ASSOCCAB", 5103},
    {"$SETUPDLG:IDC_ASSOCGZ", 5108},
    {"$SETUPDLG:IDC_ASSOCISO", 5112},
    {"$SETUPDLG:IDC_ASSOCJAR", 5111},
    {"$SETUPDLG:IDC_ASSOCLZ", 5115},
    {"$SETUPDLG:IDC_ASSOCLZH", 5105},
    {"$SETUPDLG:IDC_ASSOCTAR", 5107},
    {"$SETUPDLG:IDC_ASSOCUUE", 5109},
    {"$SETUPDLG:IDC_ASSOCXZ", 5113},
    {"$SETUPDLG:IDC_ASSOCZ", 5114},
    {"$SETUPDLG:IDC_ASSOCZIPX", 5116},
    {"$SETUPDLG:IDC_ASSOCZST", 5117},
    {"$SETUPDLG:IDC_ASSOC001", 5118},
    {"$SETUPDLG:IDC_ASSOCALL", 5126},
    {"$SETUPDLG:IDC_INTEGRATIONINTERFACE", 5130},
    {"$SETUPDLG:IDC_LINKDESKTOP", 5119},
    {"$SETUPDLG:IDC_LINKSTARTMENU", 5120},
    {"$SETUPDLG:IDC_LINKPROGRAMS", 5121},
    {"$SETUPDLG:IDC_SHELLINTEGRATION", 5131},
    {"$SETUPDLG:IDC_SHELLEXT", 5122},
    {"$SETUPDLG:IDC_SHELLCASCADED", 5123},
    {"$SETUPDLG:IDC_SHELLICONS", 5124},
    {"$SETUPDLG:IDC_SHELLLEGACYMENU", 5125},
    {"$SETUPDLG:IDC_SETCONTEXTMENU", 5128},
    {"$SETUPDLG:IDOK", 1},
    {"$SETUPDLG:IDCANCEL", 2},
    {"$SETUPDLG:IDHELP", 9},

    {"$DONEDLG:SIZE", 0},
    {"$DONEDLG:CAPTION", 0},
    {"$DONEDLG:IDOK", 1},
    {"$DONEDLG:IDC_INSTINFOFOLDER", 5101},
    {"$DONEDLG:IDC_INSTINFOOPTIONS", 5103},
    {"$DONEDLG:IDC_INSTINFOHELP", 5104},
    {"$DONEDLG:IDC_VIEWHELP", 5105},
    {"$DONEDLG:IDC_VIEWLICENSE", 5106},
    {"$DONEDLG:IDC_HOMEPAGE", 5108},
    {"$DONEDLG:IDC_THANKS", 5109},

    {"$SETUPCONTEXTITEMS:SIZE", 0},
    {"$SETUPCONTEXTITEMS:CAPTION", 0},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTMENUITEMS", 128},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTEXTRACTTO", 101},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTEXTRACTHERE", 102},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTEXTRACT", 103},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTEXTRACTSEPARATE", 104},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTOPENSFX", 105},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTOPENARC", 106},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTADD", 107},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTADDARC", 108},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTEMAILARC", 109},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTEMAILARCOPT", 110},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTTEST", 111},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTCONVERT", 112},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTTOPEXTRACT", 113},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTTOPEXTRACTTO", 114},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTTOPEXTRACTHERE", 115},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTTOPEXTRACTSEPARATE", 116},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTTOPADDARC", 117},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTTOPADD", 118},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTNEWMENU", 119},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTNEWOBX", 120},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTNEWZIP", 121},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTDROPMENU", 129},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTDRAGADD", 122},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTDRAGEXTRACT", 123},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTSFXARCHIVES", 130},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTSFXLOCAL", 124},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTSFXNETWORK", 125},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTSFXOTHER", 126},
    {"$SETUPCONTEXTITEMS:IDC_CONTEXTALWAYSARCTITLE", 131},
    {"$SETUPCONTEXTITEMS:IDOK", 1},
    {"$SETUPCONTEXTITEMS:IDCANCEL", 2},
    {"$SETUPCONTEXTITEMS:IDHELP", 9},
};
const unsigned KeyTableCount = sizeof KeyTable / sizeof KeyTable[0];

namespace {

wchar_t messageBuffers[8][kMessageSize];
unsigned bufferCounter = 0;

// A row's section is its key up to the first ":"; compared byte-wise like the keys themselves.
int CompareSection(const char* a, const char* b) {
  for (;; a++, b++) {
    unsigned char ca = *a == ':' ? 0 : static_cast<unsigned char>(*a);
    unsigned char cb = *b == ':' ? 0 : static_cast<unsigned char>(*b);
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
}

int CompareRow(const char* sectionA, unsigned idA, const char* sectionB, unsigned idB) {
  int bySection = CompareSection(sectionA, sectionB);
  if (bySection != 0) return bySection;
  return idA < idB ? -1 : idA > idB ? 1 : 0;
}

// Row indexes ordered by section, then id; made on first use, which only comes once the
// language file gave entries.
const unsigned* RowsBySection() {
  static unsigned order[sizeof KeyTable / sizeof KeyTable[0]];
  static bool ready = false;
  if (!ready) {
    for (unsigned i = 0; i < KeyTableCount; i++) order[i] = i;
    std::sort(order, order + KeyTableCount, [](unsigned a, unsigned b) {
      return CompareRow(KeyTable[a].key, KeyTable[a].id, KeyTable[b].key, KeyTable[b].id) < 0;
    });
    ready = true;
  }
  return order;
}

}  // namespace

const wchar_t* GetMsg(unsigned id) {
  bufferCounter = (bufferCounter + 1) % 8;
  return LoadMsg(id, messageBuffers[bufferCounter], kMessageSize);
}

wchar_t* LoadMsg(unsigned id, wchar_t* out, unsigned size) {
  if (size == 0) return out;
  out[0] = 0;
  char key[kKeyNameSize];
  if (FindKeyName(id, key, kKeyNameSize) && LookupText(key, out, size)) return out;
  int length = static_cast<int>(std::min(size, 0x7fffffffu));
  if (LoadStringW(languageModule.resourceModule, id, out, length) > 0) return out;
  if (LoadStringW(languageModule.ownModule, id, out, length) <= 0) out[0] = 0;
  return out;
}

bool FindKeyName(unsigned id, char* out, unsigned size) {
  if (languageFile.entries.count == 0) return false;
  const unsigned* order = RowsBySection();
  unsigned low = 0, high = KeyTableCount;
  while (low < high) {
    unsigned mid = low + (high - low) / 2;
    const KeyTableRow& row = KeyTable[order[mid]];
    int c = CompareRow(row.key, row.id, "s", id);
    if (c == 0) {
      CopyText(out, row.key, size);
      return true;
    }
    if (c < 0)
      low = mid + 1;
    else
      high = mid;
  }
  return false;
}

bool LookupText(const char* key, wchar_t* out, unsigned size) {
  const LanguageFile& file = languageFile;
  if (file.entries.count == 0) return false;
  unsigned low = 0, high = file.byKey.count;
  while (low < high) {
    unsigned mid = low + (high - low) / 2;
    const LanguageEntry& entry = file.entries[file.byKey[mid]];
    int c = std::strcmp(entry.key, key);
    if (c == 0) {
      CopyText(out, entry.text, size);
      return true;
    }
    if (c < 0)
      low = mid + 1;
    else
      high = mid;
  }
  return false;
}
