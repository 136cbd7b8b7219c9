// What ends a Windows program on an exception that nothing catches. The C++ runtime's default
// handler prints the exception's type to the console, and for that it links in a symbol
// demangler that made up a tenth of each program. A windowless program has no console to print
// to, so this handler only ends the process, as the default one does after printing.
#include <cstdlib>

namespace __gnu_cxx {

[[noreturn]] void __verbose_terminate_handler() {
  std::abort();
}

}  // namespace __gnu_cxx
