// What ends a Windows program when the C++ runtime must end it (an exception that nothing catches,
// which the runs never let out). The runtime's default handler prints the exception's type to the
// console, and for that it links in a symbol demangler that made up a tenth of each program; then
// it calls abort(), whose exit status 3 would tell the user that the change was made. A windowless
// program has no console, so this handler only ends the update in progress and the process, with
// the status that is true of the file: 3 only when the update's copy was already in place.
#include <windows.h>

#include "platform/config_update.h"

namespace __gnu_cxx {

void __verbose_terminate_handler() {
  ExitProcess(platform::EndUpdateForCrash() ? 3 : 2);
}

}  // namespace __gnu_cxx
