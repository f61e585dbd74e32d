#include "base/ole.h"

#include <windows.h>
#include <ole2.h>

namespace {

struct OleState {
  bool tried = false;
  bool started = false;  // this process's call succeeded (S_FALSE too), so it must be balanced
};
OleState oleState;

}  // namespace

void EnsureOle() {
  if (oleState.tried) return;
  oleState.tried = true;
  oleState.started = SUCCEEDED(OleInitialize(nullptr));
}

void EndOle() {
  if (oleState.started) OleUninitialize();
  oleState = OleState{};
}
