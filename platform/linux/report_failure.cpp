// Telling the user why a run stopped: one line on standard error, prefixed with the program's name
// as it was started ("setup", "uninstall").
#include <errno.h>

#include <cstdio>

#include "platform/platform.h"

namespace platform {

void ReportFailure(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, message.c_str());
}

}  // namespace platform
