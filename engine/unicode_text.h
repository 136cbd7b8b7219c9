// Unicode text in the forms the engine meets: characters appended as UTF-8, and UTF-16
// little-endian text, as a profile file saved as "Unicode" holds it, converted to UTF-8, so that
// the engine can read such a file as it reads one with a UTF-8 byte order mark.
// Guarantees: every character converts; a surrogate without its pair, and a last odd byte,
// become U+FFFD, which an 8-bit read gives as "?".
#pragma once

#include <string>
#include <string_view>

namespace engine {

inline constexpr std::string_view kUtf16LeByteOrderMark = "\xFF\xFE";
inline constexpr std::string_view kUtf16BeByteOrderMark = "\xFE\xFF";

// Appends the character, a Unicode scalar value, in UTF-8.
void AppendUtf8(std::string& text, char32_t character);

// The UTF-16 LE text (without its byte order mark) in UTF-8.
std::string Utf8FromUtf16Le(std::string_view text);

}  // namespace engine
