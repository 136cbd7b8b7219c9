// How the platform reads a profile file: lines, trimming, headers, entries, NUL bytes, quotes.
#include "engine/profile_syntax.h"

#include <algorithm>

namespace engine {

namespace {

// The bytes that are trimmed from both ends of a line, a name and a value.
constexpr bool IsTrimmed(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == '\x1a';
}

// The text up to its first NUL byte.
std::string_view CutAtNul(std::string_view text) {
  return text.substr(0, text.find('\0'));
}

// The value without one pair of enclosing double or single quotes.
std::string_view Unquote(std::string_view value) {
  const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                      value.back() == value.front();
  return quoted ? value.substr(1, value.size() - 2) : value;
}

// Where the first line of the text ends: at its first CR or LF, or at the text's end. Each is
// looked for with memchr (string_view::find) in windows that double in size, so that a long line
// is crossed fast and a text without LF (or CR) is never searched to its end for each line. A
// lookup walks its section's lines, so this decides how fast a section with long lines reads
// (docs/benchmark.md: a 10 MB line).
std::size_t LineEnd(std::string_view text) {
  for (std::size_t at = 0, size = 64; at < text.size(); at += size, size *= 2) {
    const std::string_view window = text.substr(at, size);
    const std::size_t end = std::min(window.find('\r'), window.find('\n'));
    if (end != std::string_view::npos) return at + end;
  }
  return text.size();
}

}  // namespace

Line TakeLine(std::string_view& text) {
  const std::size_t end = LineEnd(text);
  std::size_t breakLength = 0;
  if (end < text.size()) {
    breakLength = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1;
  }
  const Line line{text.substr(0, end), text.substr(end, breakLength)};
  text.remove_prefix(end + breakLength);
  return line;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsTrimmed(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsTrimmed(text.back())) text.remove_suffix(1);
  return text;
}

ParsedLine ParseLine(std::string_view line) {
  line = Trim(line);
  if (line.empty()) return {};
  if (line.front() == '[') {
    const std::size_t close = line.rfind(']');
    if (close != std::string_view::npos) {
      return {LineKind::kHeader, CutAtNul(Trim(line.substr(1, close - 1))), std::nullopt};
    }
  }
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) return {LineKind::kEntry, CutAtNul(line), std::nullopt};
  return {LineKind::kEntry, CutAtNul(Trim(line.substr(0, equals))),
          Unquote(CutAtNul(Trim(line.substr(equals + 1))))};
}

std::size_t StartOfHeaderLine(std::string_view text, std::size_t at) {
  while (at > 0 && IsTrimmed(text[at - 1]) && text[at - 1] != '\r' && text[at - 1] != '\n') --at;
  const bool startsLine = at == 0 || text[at - 1] == '\r' || text[at - 1] == '\n';
  return startsLine ? at : std::string_view::npos;
}

}  // namespace engine
