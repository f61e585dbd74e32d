#include "base/outcome.h"

#include <windows.h>

#include <cstdlib>
#include <new>

namespace {

struct OutcomeFacts {
  unsigned exitCode;
  const wchar_t* reason;
};

// In the order of Outcome.
constexpr OutcomeFacts kOutcomes[] = {
    {0, L"done"},
    {1, L"setup cancelled, nothing applied"},
    {5, L"rights missing, nothing changed"},
    {1602, L"declined, nothing changed"},
    {1603, L"failed"},
    {1618, L"another setup or uninstallation runs, nothing changed"},
    {1622, L"the log could not be created, nothing done"},
    {1639, L"invalid command line, nothing done"},
    {3010, L"done; files in use go at the next restart"},
};
static_assert(sizeof kOutcomes / sizeof kOutcomes[0] ==
                  static_cast<unsigned>(Outcome::kRestartNeeded) + 1,
              "one row per outcome");

}  // namespace

unsigned ExitCodeOf(Outcome outcome) { return kOutcomes[static_cast<unsigned>(outcome)].exitCode; }

const wchar_t* ReasonOf(Outcome outcome) {
  return kOutcomes[static_cast<unsigned>(outcome)].reason;
}

void MemoryError() {
  unsigned code = ExitCodeOf(Outcome::kIncomplete);
  TerminateProcess(GetCurrentProcess(), code);
  ExitProcess(code);
}

// The allocation operators of the whole program, in place of the runtime's: theirs throw (the
// nothrow forms by catching their own throw), which would bring in the unwinder and the exception
// runtime. Here the nothrow forms answer null and the plain ones end the process.
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size ? size : 1);
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void* operator new(size_t size) {
  void* p = operator new(size, std::nothrow);
  if (!p) MemoryError();
  return p;
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
