// Telling the user one line, why a run stopped or what it left alone: on standard error, prefixed
// with the program's name as it was started ("setup", "uninstall").
#include <errno.h>

#include <csignal>
#include <cstdio>

#include "platform/platform.h"

namespace platform {

void Report(const std::string& message) {
  // A reader of the error stream that has gone must not end the run before it gives its status.
  std::signal(SIGPIPE, SIG_IGN);
  std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, message.c_str());
}

}  // namespace platform
