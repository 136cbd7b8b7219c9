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

// True when `answer`, what the platform's read of `key` in `section` left in a buffer of `size`
// bytes (at least one), is what the engine reads from `expected`.
bool ValueReadAgrees(const engine::Document& expected, const char* section, const char* key,
                     const char* defaultText, const char* answer, std::size_t size);

// True when the platform's answer on whether `section` holds entries is the engine's.
bool SectionProbeAgrees(const engine::Document& expected, const char* section, bool hasEntries);

// Why the platform's profile functions did otherwise than the engine on `document`: where it
// starts with the UTF-8 byte order mark, the mark and the remedy (save it without the mark).
std::string MisreadCause(const engine::Document& document);

}  // namespace platform
