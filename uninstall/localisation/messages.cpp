// Stand-in until the language file lookup lands: the string tables only.
#include "localisation/messages.h"

#include <windows.h>

#include "localisation/langmodule.h"

namespace {
wchar_t messageBuffers[8][kMessageSize];
unsigned bufferCounter = 0;
}  // namespace

const wchar_t* GetMsg(unsigned id) {
  bufferCounter = (bufferCounter + 1) % 8;
  return LoadMsg(id, messageBuffers[bufferCounter], kMessageSize);
}

bool FindKeyName(unsigned, char*, unsigned) { return false; }
bool LookupText(const char*, wchar_t*, unsigned) { return false; }

wchar_t* LoadMsg(unsigned id, wchar_t* out, unsigned size) {
  if (size == 0) return out;
  out[0] = 0;
  if (LoadStringW(languageModule.resourceModule, id, out, static_cast<int>(size)) > 0) return out;
  if (LoadStringW(languageModule.ownModule, id, out, static_cast<int>(size)) <= 0) out[0] = 0;
  return out;
}
