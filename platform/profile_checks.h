// Whether the platform's own profile functions read a file as the engine does, and what the user is
// told where they do not. Written once for every system, so that a test can hand the checks the
// answers that Windows itself gives, which Wine cannot show: Windows' profile functions do not
// read a UTF-8 byte order mark (it stays part of the first line, which then is no section header,
// and the rest reads as 8-bit text), where the engine, like Wine, reads the file as UTF-8.
#pragma once

#include <cstddef>
#include <string>

#include "engine/profile_document.h"

namespace platform {

// Why the platform's profile functions did otherwise than the engine on a file.
enum class Misread {
  kNone,
  kHeld,           // another program held the file for longer than the run may wait
  kByteOrderMark,  // they read the file as one that does not know its UTF-8 byte order mark
  kOther,          // anything else: a read or a write that failed, or answered otherwise
};

// True when `answer`, what the platform's read of `key` in `section` left in a buffer of `size`
// bytes (at least one), is what the engine reads from `expected`, or, with `withoutMark`, what a
// reader that does not know the file's UTF-8 byte order mark reads (never, for a file without).
bool ValueReadAgrees(const engine::Document& expected, const char* section, const char* key,
                     const char* defaultText, const char* answer, std::size_t size,
                     bool withoutMark = false);

// Whether the platform's answer on whether `section` holds entries misreads `expected`: only a
// section in which the engine finds entries and the platform none is misread (a section of
// comment lines alone, which Wine hands out, has no entries either way); kByteOrderMark where a
// reader that does not know the file's byte order mark finds none either.
Misread SectionProbeMisread(const engine::Document& expected, const char* section, bool hasEntries);

// What the user is told of a file that the platform's profile functions misread as `misread` says.
std::string MisreadCause(Misread misread);

}  // namespace platform
