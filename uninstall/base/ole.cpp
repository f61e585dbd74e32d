#include "base/ole.h"

#include <windows.h>
#include <ole2.h>

namespace {

// What this process started (S_FALSE counts: the call must be balanced all the same).
struct OleState {
  bool comTried = false;
  bool comStarted = false;
  bool oleTried = false;
  bool oleStarted = false;
};
OleState oleState;

}  // namespace

void EnsureCom() {
  if (oleState.comTried) return;
  oleState.comTried = true;
  oleState.comStarted = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
}

void EnsureOle() {
  if (oleState.oleTried) return;
  oleState.oleTried = true;
  oleState.oleStarted = SUCCEEDED(OleInitialize(nullptr));
}

void EndOle() {
  if (oleState.oleStarted) OleUninitialize();
  if (oleState.comStarted) CoUninitialize();
  oleState = OleState{};
}
