#include "localisation/messages.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "base/text.h"
#include "localisation/langfile.h"
#include "localisation/langmodule.h"

// Each row's key and id come from one name, so that they cannot disagree: the language file's
// key text is the id's name as written in resources/resource.h.
#define MESSAGE_ROW(name) \
  { "s:" #name, name }
#define CONTROL_ROW(dialog, name) \
  { "$" #dialog ":" #name, name }
// A dialog's size and caption, which have no control id.
#define LAYOUT_ROWS(dialog) \
  {"$" #dialog ":SIZE", 0}, { "$" #dialog ":CAPTION", 0 }

const KeyTableRow KeyTable[] = {
    MESSAGE_ROW(IDS_UNINSTTITLE),
    MESSAGE_ROW(IDS_OMBRIXHELP),
    MESSAGE_ROW(IDS_OBXHELP),
    MESSAGE_ROW(IDS_WHATSNEW),
    MESSAGE_ROW(IDS_WHATSNEWNAME),
    MESSAGE_ROW(IDS_UNINSTALLOBX),
    MESSAGE_ROW(IDS_UNINSTALLCOMPLETED),
    MESSAGE_ROW(IDS_UNINSTALLSHOULDDELETE),
    MESSAGE_ROW(IDS_CONTINUEUNINSTALL),
    MESSAGE_ROW(IDS_CANNOTOPENLIST),
    MESSAGE_ROW(IDS_OMBRIXARC),
    MESSAGE_ROW(IDS_OMBRIXZIPARC),
    MESSAGE_ROW(IDS_OBXRECVOL),
    MESSAGE_ROW(IDS_HOMEURL),
    MESSAGE_ROW(IDS_OMBRIXDESC),
    MESSAGE_ROW(IDS_REBOOTREQUIRED),
    MESSAGE_ROW(IDS_INSTHELP1),
    MESSAGE_ROW(IDS_INSTHELP2),
    MESSAGE_ROW(IDS_INSTHELP3),
    MESSAGE_ROW(IDS_INSTHELP4),
    MESSAGE_ROW(IDS_INSTHELP5),
    MESSAGE_ROW(IDS_INSTHELP6),
    MESSAGE_ROW(IDS_WARN32BIT),
    MESSAGE_ROW(IDS_INSTREBOOTREQUIRED),
    MESSAGE_ROW(IDS_BETA),
    MESSAGE_ROW(IDS_32BIT),
    MESSAGE_ROW(IDS_64BIT),
    MESSAGE_ROW(IDS_SINGLETOPITEM),
    MESSAGE_ROW(IDS_SETUPNORIGHTS),
    MESSAGE_ROW(IDS_UNINSTALLNORIGHTS),
    MESSAGE_ROW(IDS_ANOTHERRUNNING),
    MESSAGE_ROW(IDS_PARTLYDONE),
    MESSAGE_ROW(IDS_USAGE),

    LAYOUT_ROWS(SETUPDLG),
    CONTROL_ROW(SETUPDLG, IDC_ASSOCWITH),
    CONTROL_ROW(SETUPDLG, IDC_ASSOCOBX),
    CONTROL_ROW(SETUPDLG, IDC_ASSOCZIP),
    CONTROL_ROW(SETUPDLG, IDC_ASSOC7Z),
    CONTROL_ROW(SETUPDLG, IDC_ASSOCARJ),
    CONTROL_ROW(SETUPDLG, IDC_ASSOCBZ2),
    CONTROL_ROW(SETUPDLG, IDC_ASSOCCAB),
    CONTROL_ROW(SETUPDLG, IDC_ASSOCGZ),
    CONTROL_ROW(SETUPDLG, IDC_ASSOCISO),
    CONTROL_ROW(SETUPDLG, IDC_ASSOCJAR),
    CONTROL_ROW(SETUPDLG, IDC_ASSOCLZ),
    CONTROL_ROW(SETUPDLG, IDC_ASSOCLZH),
    CONTROL_ROW(SETUPDLG, IDC_ASSOCTAR),
    CONTROL_ROW(SETUPDLG, IDC_ASSOCUUE),
    CONTROL_ROW(SETUPDLG, IDC_ASSOCXZ),
    CONTROL_ROW(SETUPDLG, IDC_ASSOCZ),
    CONTROL_ROW(SETUPDLG, IDC_ASSOCZIPX),
    CONTROL_ROW(SETUPDLG, IDC_ASSOCZST),
    CONTROL_ROW(SETUPDLG, IDC_ASSOC001),
    CONTROL_ROW(SETUPDLG, IDC_ASSOCALL),
    CONTROL_ROW(SETUPDLG, IDC_INTEGRATIONINTERFACE),
    CONTROL_ROW(SETUPDLG, IDC_LINKDESKTOP),
    CONTROL_ROW(SETUPDLG, IDC_LINKSTARTMENU),
    CONTROL_ROW(SETUPDLG, IDC_LINKPROGRAMS),
    CONTROL_ROW(SETUPDLG, IDC_SHELLINTEGRATION),
    CONTROL_ROW(SETUPDLG, IDC_SHELLEXT),
    CONTROL_ROW(SETUPDLG, IDC_SHELLCASCADED),
    CONTROL_ROW(SETUPDLG, IDC_SHELLICONS),
    CONTROL_ROW(SETUPDLG, IDC_SHELLLEGACYMENU),
    CONTROL_ROW(SETUPDLG, IDC_SETCONTEXTMENU),
    CONTROL_ROW(SETUPDLG, IDOK),
    CONTROL_ROW(SETUPDLG, IDCANCEL),
    CONTROL_ROW(SETUPDLG, IDHELP),

    LAYOUT_ROWS(DONEDLG),
    CONTROL_ROW(DONEDLG, IDOK),
    CONTROL_ROW(DONEDLG, IDC_INSTINFOFOLDER),
    CONTROL_ROW(DONEDLG, IDC_INSTINFOOPTIONS),
    CONTROL_ROW(DONEDLG, IDC_INSTINFOHELP),
    CONTROL_ROW(DONEDLG, IDC_VIEWHELP),
    CONTROL_ROW(DONEDLG, IDC_VIEWLICENSE),
    CONTROL_ROW(DONEDLG, IDC_HOMEPAGE),
    CONTROL_ROW(DONEDLG, IDC_THANKS),

    LAYOUT_ROWS(SETUPCONTEXTITEMS),
    CONTROL_ROW(SETUPCONTEXTITEMS, IDC_CONTEXTMENUITEMS),
    CONTROL_ROW(SETUPCONTEXTITEMS, IDC_CONTEXTEXTRACTTO),
    CONTROL_ROW(SETUPCONTEXTITEMS, IDC_CONTEXTEXTRACTHERE),
    CONTROL_ROW(SETUPCONTEXTITEMS, IDC_CONTEXTEXTRACT),
    CONTROL_ROW(SETUPCONTEXTITEMS, IDC_CONTEXTEXTRACTSEPARATE),
    CONTROL_ROW(SETUPCONTEXTITEMS, IDC_CONTEXTOPENSFX),
    CONTROL_ROW(SETUPCONTEXTITEMS, IDC_CONTEXTOPENARC),
    CONTROL_ROW(SETUPCONTEXTITEMS, IDC_CONTEXTADD),
    CONTROL_ROW(SETUPCONTEXTITEMS, IDC_CONTEXTADDARC),
    CONTROL_ROW(SETUPCONTEXTITEMS, IDC_CONTEXTEMAILARC),
    CONTROL_ROW(SETUPCONTEXTITEMS, IDC_CONTEXTEMAILARCOPT),
    CONTROL_ROW(SETUPCONTEXTITEMS, IDC_CONTEXTTEST),
    CONTROL_ROW(SETUPCONTEXTITEMS, IDC_CONTEXTCONVERT),
    CONTROL_ROW(SETUPCONTEXTITEMS, IDC_CONTEXTTOPEXTRACT),
    CONTROL_ROW(SETUPCONTEXTITEMS, IDC_CONTEXTTOPEXTRACTTO),
    CONTROL_ROW(SETUPCONTEXTITEMS, IDC_CONTEXTTOPEXTRACTHERE),
    CONTROL_ROW(SETUPCONTEXTITEMS, IDC_CONTEXTTOPEXTRACTSEPARATE),
    CONTROL_ROW(SETUPCONTEXTITEMS, IDC_CONTEXTTOPADDARC),
    CONTROL_ROW(SETUPCONTEXTITEMS, IDC_CONTEXTTOPADD),
    CONTROL_ROW(SETUPCONTEXTITEMS, IDC_CONTEXTNEWMENU),
    CONTROL_ROW(SETUPCONTEXTITEMS, IDC_CONTEXTNEWOBX),
    CONTROL_ROW(SETUPCONTEXTITEMS, IDC_CONTEXTNEWZIP),
    CONTROL_ROW(SETUPCONTEXTITEMS, IDC_CONTEXTDROPMENU),
    CONTROL_ROW(SETUPCONTEXTITEMS, IDC_CONTEXTDRAGADD),
    CONTROL_ROW(SETUPCONTEXTITEMS, IDC_CONTEXTDRAGEXTRACT),
    CONTROL_ROW(SETUPCONTEXTITEMS, IDC_CONTEXTSFXARCHIVES),
    CONTROL_ROW(SETUPCONTEXTITEMS, IDC_CONTEXTSFXLOCAL),
    CONTROL_ROW(SETUPCONTEXTITEMS, IDC_CONTEXTSFXNETWORK),
    CONTROL_ROW(SETUPCONTEXTITEMS, IDC_CONTEXTSFXOTHER),
    CONTROL_ROW(SETUPCONTEXTITEMS, IDC_CONTEXTALWAYSARCTITLE),
    CONTROL_ROW(SETUPCONTEXTITEMS, IDOK),
    CONTROL_ROW(SETUPCONTEXTITEMS, IDCANCEL),
    CONTROL_ROW(SETUPCONTEXTITEMS, IDHELP),
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
