// The program's terminate handler, linked into the shipped program (and the programs measured or
// checked beside it) but not into the core library the tests use.
#include <cstdlib>
#include <exception>

// Replaces the runtime's verbose handler, which would link in the demangler and the runtime's own
// printf (about 150 KB) only to write the name of an uncaught exception to a standard error
// stream that a windowed program does not have. Ends the process the same way, with abort.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
