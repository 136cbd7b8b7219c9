// Telling the user why a run stopped: one line on standard error, prefixed with the program's name.
#include <cstdio>

#include "platform/platform.h"

namespace platform {

void ReportFailure(const std::string& message) {
  std::fprintf(stderr, "setup: %s\n", message.c_str());
}

}  // namespace platform
