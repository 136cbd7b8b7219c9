// Telling the user why a run stopped: the Windows installer has no console and shows no dialog,
// so its exit status is the whole report.
#include "platform/platform.h"

namespace platform {

void ReportFailure(const std::string&) {}

}  // namespace platform
