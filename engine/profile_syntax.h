// How the platform reads a profile file, written as a small INI parser: the rules in one place.
//
// - A file that starts with the UTF-8 byte order mark is UTF-8 text; the mark is not part of its
//   first line. Any other file is 8-bit text. The rules below are the same for both, since every
//   byte they look at is ASCII.
// - Lines end in LF, CRLF or a lone CR; the last line may have no line break.
// - Each line is trimmed of blanks, tabs, CR, LF, VT, FF and 0x1A at both ends.
// - A line that starts with "[" and holds a "]" is a section header: the section's name is the
//   trimmed text between the "[" and the last "]"; anything after that "]" is ignored.
// - Any other non-blank line is an entry: its key is the trimmed text before its first "=", its
//   value the trimmed text after it. An entry without "=" has a key and no value. There is no
//   comment syntax.
// - A name, key or value ends at its first NUL byte, once the line has been split as above; a
//   value then loses one pair of enclosing double or single quotes.
// - The lines before the first header form a section of their own, whose name is empty.
//
// How the lines group into sections, and which section or entry a name finds (the first,
// regardless of ASCII case), is the document's business (profile_document.h).
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace engine {

inline constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

// True for text that starts with a UTF-16 byte order mark, little- or big-endian: text that is
// not 8-bit, which no 8-bit edit may touch.
constexpr bool StartsAsUtf16(std::string_view text) {
  return text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF");
}

struct Line {
  std::string_view text;       // the line as it stands in the file, without its line break
  std::string_view lineBreak;  // "\r\n", "\n", "\r", or empty for a last line without one
};

// Takes the first line off the front of `text`.
Line TakeLine(std::string_view& text);

// The text without blanks, tabs, CR, LF, VT, FF and 0x1A at either end.
std::string_view Trim(std::string_view text);

enum class LineKind { kBlank, kHeader, kEntry };

struct ParsedLine {
  LineKind kind = LineKind::kBlank;
  std::string_view name;                  // a header's section name, or an entry's key
  std::optional<std::string_view> value;  // an entry's value; nothing for a line without "="
};

// What one line of the file says.
ParsedLine ParseLine(std::string_view line);

// Where the line that holds the "[" at `at` starts, when only blanks stand before the "[";
// otherwise npos. Only such a line can be a section header.
std::size_t StartOfHeaderLine(std::string_view text, std::size_t at);

}  // namespace engine
