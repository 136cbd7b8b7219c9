// The checks of the platform's profile functions against the engine, and what a failed one says.
#include "platform/profile_checks.h"

#include <cstring>

namespace platform {

bool ValueReadAgrees(const engine::Document& expected, const char* section, const char* key,
                     const char* defaultText, const char* answer, std::size_t size) {
  std::string wanted(size, '\0');
  engine::ReadValue(expected, section, key, defaultText, wanted.data(), size);
  return std::strncmp(wanted.c_str(), answer, size) == 0;
}

bool SectionProbeAgrees(const engine::Document& expected, const char* section, bool hasEntries) {
  return engine::SectionHasEntries(expected, section) == hasEntries;
}

std::string MisreadCause(const engine::Document& document) {
  if (document.byteOrderMark.empty()) {
    return "the platform's profile functions did not do what was asked";
  }
  return "it starts with a UTF-8 byte order mark, which Windows' profile functions do not read: "
         "save it without the mark, as ANSI text, and run again";
}

}  // namespace platform
