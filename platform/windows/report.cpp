// Telling the user why a run stopped, or what it left alone: the Windows programs have no console
// and show no dialog, so their exit status is the whole report. The line goes to the system's debug
// output, where only a debugger (or Wine's debug channel "debugstr") sees it.
#include <windows.h>

#include "platform/platform.h"

namespace platform {

void Report(const std::string& message) {
  OutputDebugStringA(message.c_str());
}

}  // namespace platform
