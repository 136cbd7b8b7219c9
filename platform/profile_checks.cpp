// The checks of the platform's profile functions against the engine, and what a failed one says.
#include "platform/profile_checks.h"

#include <cstring>

#include "platform/platform.h"

namespace platform {

namespace {

// The file as a reader that does not know the UTF-8 byte order mark takes it: its bytes as 8-bit
// text, the mark part of the first line. A blank line before them keeps the engine from taking the
// mark for one, and changes no read.
engine::Document WithoutMark(const engine::Document& document) {
  std::string text;
  text.reserve(document.source.text.size() + 1);
  text.append(1, '\n').append(document.source.text);
  return engine::ParseDocument(text);
}

}  // namespace

bool ValueReadAgrees(const engine::Document& expected, const char* section, const char* key,
                     const char* defaultText, const char* answer, std::size_t size,
                     bool withoutMark) {
  if (withoutMark && expected.byteOrderMark.empty()) return false;
  std::string wanted(size, '\0');
  engine::ReadValue(withoutMark ? WithoutMark(expected) : expected, section, key, defaultText,
                    wanted.data(), size);
  return std::strncmp(wanted.c_str(), answer, size) == 0;
}

Misread SectionProbeMisread(const engine::Document& expected, const char* section,
                            bool hasEntries) {
  if (hasEntries || !engine::SectionHasEntries(expected, section)) return Misread::kNone;
  return !expected.byteOrderMark.empty() &&
                 !engine::SectionHasEntries(WithoutMark(expected), section)
             ? Misread::kByteOrderMark
             : Misread::kOther;
}

std::string MisreadCause(Misread misread) {
  switch (misread) {
    case Misread::kHeld:
      return HeldCause();
    case Misread::kByteOrderMark:
      return "it starts with a UTF-8 byte order mark, which Windows' profile functions do not "
             "read: save it without the mark, as ANSI text, and run again";
    case Misread::kNone:
    case Misread::kOther:
      break;
  }
  return "the platform's profile functions did not read or write it as the installer does";
}

}  // namespace platform
