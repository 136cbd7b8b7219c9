// A fuzz target for the profile engine, with a property rather than "does not crash": for an
// arbitrary file and an arbitrary sequence of writes,
//  - every written key reads back as the platform's rules give the written text (cut at the
//    first line break or NUL, trimmed, one pair of quotes removed, cut at 1023), before and after
//    the file is written out and read in again, in 8-bit files and UTF-8 files alike;
//  - every line of the file that no write was about stands in the output byte for byte, in order;
//  - the document reads alike its own output, read in again;
//  - removing any one section leaves every other line as it stood, in order, but for the comment
//    lines that end it, which stay, and blank lines then left at the end of the file; renaming
//    one changes only the name between its header's brackets.
// Which lines a write is about is worked out here by a plain line-by-line reading of the rules,
// independent of the engine's sections and index.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/ascii_case.h"
#include "engine/code_page.h"
#include "engine/profile_document.h"

namespace {

constexpr std::size_t kReadLimit = 1023;

// Stops the run, naming the property that does not hold, so that a saved input explains itself.
#define REQUIRE(condition)                                                            \
  do {                                                                                \
    if (!(condition)) {                                                               \
      std::fprintf(stderr, "property failed at line %d: %s\n", __LINE__, #condition); \
      std::abort();                                                                   \
    }                                                                                 \
  } while (false)

bool IsTrimmed(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == '\x1a';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsTrimmed(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsTrimmed(text.back())) text.remove_suffix(1);
  return text;
}

struct Line {
  std::string_view text;
  std::string_view lineBreak;
};

std::vector<Line> SplitLines(std::string_view bytes) {
  std::vector<Line> lines;
  std::size_t at = 0;
  while (at < bytes.size()) {
    std::size_t end = at;
    while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n') ++end;
    std::size_t length = 0;
    if (end < bytes.size())
      length = (bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n') ? 2 : 1;
    lines.push_back({bytes.substr(at, end - at), bytes.substr(end, length)});
    at = end + length;
  }
  return lines;
}

std::string_view CutAtNul(std::string_view text) {
  return text.substr(0, text.find('\0'));
}

// The section name of a header line, or nothing.
bool HeaderName(std::string_view line, std::string_view& name) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return false;
  const std::size_t close = line.rfind(']');
  if (close == std::string_view::npos) return false;
  name = CutAtNul(Trim(line.substr(1, close - 1)));
  return true;
}

// The index of the line that a write of `key` in `section` (both as the file spells them)
// rewrites, or -1 when it adds one.
long TouchedLine(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
  // The lines before the first header are the first section named "".
  bool inFirstOfName = section.empty();
  bool seenName = section.empty();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string_view name;
    if (HeaderName(lines[i].text, name)) {
      if (inFirstOfName) return -1;
      inFirstOfName = !seenName && engine::EqualIgnoringAsciiCase(name, section);
      seenName = seenName || inFirstOfName;
      continue;
    }
    const std::string_view entry = Trim(lines[i].text);
    if (!inFirstOfName || entry.empty()) continue;
    if (engine::EqualIgnoringAsciiCase(CutAtNul(Trim(entry.substr(0, entry.find('=')))), key)) {
      return static_cast<long>(i);
    }
  }
  return -1;
}

// What the platform's read gives for a value written as `text`.
std::string ExpectedRead(std::string_view text) {
  text = Trim(text.substr(0, text.find_first_of(std::string_view("\r\n\0", 3))));
  if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') &&
      text.back() == text.front()) {
    text = text.substr(1, text.size() - 2);
  }
  return std::string(text.substr(0, kReadLimit));
}

// A section or key name that reads back as itself: no brackets, "=" or line breaks, trimmed, and
// not starting with the UTF-8 byte order mark (written first in a file, it would be read as one).
std::string Name(FuzzedDataProvider& input, bool mayBeEmpty) {
  std::string name;
  for (const char c : input.ConsumeRandomLengthString(12)) {
    if (c != '[' && c != ']' && c != '=' && c != '\r' && c != '\n' && c != '\0') name += c;
  }
  name = std::string(Trim(name));
  while (name.rfind("\xEF\xBB\xBF", 0) == 0) name = std::string(Trim(name.substr(3)));
  return name.empty() && !mayBeEmpty ? "k" : name;
}

// The bytes with every one outside printable ASCII spelled as \xHH, for the trace.
std::string Escaped(std::string_view bytes) {
  std::string text;
  for (const char c : bytes) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
    text += (c >= 0x20 && c < 0x7F) ? std::string(1, c) : std::string(hex);
  }
  return text;
}

std::string Folded(std::string name) {
  for (char& c : name) c = engine::FoldAsciiCase(c);
  return name;
}

// Where the first section named `name` (as the file spells it) stands: its header's line and the
// line after its last. Nothing for the lines before the first header, whose name is empty.
std::optional<std::pair<std::size_t, std::size_t>> SectionLines(const std::vector<Line>& lines,
                                                                std::string_view name) {
  std::optional<std::pair<std::size_t, std::size_t>> found;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string_view header;
    if (!HeaderName(lines[i].text, header)) continue;
    if (found) return std::pair{found->first, i};
    if (!name.empty() && engine::EqualIgnoringAsciiCase(header, name)) found = {i, lines.size()};
  }
  return found;
}

bool IsBlank(const Line& line) {
  return Trim(line.text).empty();
}

bool IsComment(const Line& line) {
  const std::string_view text = Trim(line.text);
  return !text.empty() && (text.front() == ';' || text.front() == '#' || text.front() == '/');
}

// The lines of the file once the section at [header, end) is removed.
std::vector<Line> WithoutSection(const std::vector<Line>& lines, std::size_t header,
                                 std::size_t end) {
  std::size_t kept = end;  // the comments after the section's last other line, and what follows
  while (kept > header + 1 && (IsBlank(lines[kept - 1]) || IsComment(lines[kept - 1]))) --kept;
  while (kept < end && !IsComment(lines[kept])) ++kept;
  std::vector<Line> result(lines.begin(), lines.begin() + static_cast<long>(header));
  result.insert(result.end(), lines.begin() + static_cast<long>(kept), lines.end());
  if (end == lines.size()) {
    while (!result.empty() && IsBlank(result.back())) result.pop_back();
  }
  return result;
}

bool SameLines(const std::vector<Line>& a, const std::vector<Line>& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](auto x, auto y) {
           return x.text == y.text && x.lineBreak == y.lineBreak;
         });
}

// Removes, then renames, each section of the file in turn, on a fresh document each time.
void CheckSectionEdits(const std::string& original, std::size_t markSize,
                       const std::vector<Line>& lines, const std::string& newName) {
  const auto inFile = [&](const std::string& name) {
    return markSize > 0 ? engine::Utf8FromAnsi(name) : name;
  };
  const auto linesOf = [&](const engine::Document& document, std::string& output) {
    output = engine::Serialize(document);
    REQUIRE(output.substr(0, markSize) == original.substr(0, markSize));
    REQUIRE(engine::ReadAlike(engine::ParseDocument(output), document));
    return SplitLines(std::string_view(output).substr(markSize));
  };
  std::string output;
  for (const std::string& name : engine::SectionNames(engine::ParseDocument(original))) {
    // The name asked for is trimmed; one that a NUL byte cut to end in a blank is never found.
    const auto section = SectionLines(lines, Trim(inFile(name)));
    engine::Document removed = engine::ParseDocument(original);
    REQUIRE(engine::RemoveSection(removed, name) == section.has_value());
    engine::Document renamed = engine::ParseDocument(original);
    REQUIRE(engine::RenameSection(renamed, name, newName) == section.has_value());
    if (!section) continue;
    REQUIRE(SameLines(linesOf(removed, output),
                      WithoutSection(lines, section->first, section->second)));
    std::vector<Line> expected = lines;
    std::string_view header;
    HeaderName(lines[section->first].text, header);
    const std::string_view line = lines[section->first].text;
    const auto at = static_cast<std::size_t>(header.data() - line.data());
    const std::string newHeader = std::string(line.substr(0, at)) + inFile(newName) +
                                  std::string(line.substr(at + header.size()));
    expected[section->first].text = newHeader;
    REQUIRE(SameLines(linesOf(renamed, output), expected));
  }
}

std::string Read(const engine::Document& document, std::string_view section, std::string_view key) {
  const std::optional<std::string> value = engine::FindValue(document, section, key);
  REQUIRE(value.has_value());
  return value->substr(0, kReadLimit);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  struct Write {
    std::string section, key, text;
  };
  std::vector<Write> writes(input.ConsumeIntegralInRange<std::size_t>(0, 6));
  for (Write& write : writes) {
    write.section = Name(input, true);
    write.key = Name(input, false);
    write.text = input.ConsumeRandomLengthString(1100);
  }
  const std::string original = input.ConsumeRemainingBytesAsString();

  const std::string_view bom = "\xEF\xBB\xBF";
  const bool utf8 = original.rfind(bom, 0) == 0;
  const std::string_view body = std::string_view(original).substr(utf8 ? bom.size() : 0);
  const std::vector<Line> lines = SplitLines(body);
  const auto inFile = [&](const std::string& name) {
    return utf8 ? engine::Utf8FromAnsi(name) : name;
  };
  std::set<long> touched;
  for (const Write& write : writes) {
    touched.insert(TouchedLine(lines, inFile(write.section), inFile(write.key)));
  }

  engine::Document document = engine::ParseDocument(original);
  std::map<std::pair<std::string, std::string>, std::string> expected;  // folded names -> read
  for (const Write& write : writes) {
    engine::WriteValue(document, write.section, write.key, write.text);
    expected[{Folded(write.section), Folded(write.key)}] = ExpectedRead(write.text);
  }
  const std::string output = engine::Serialize(document);
  if (std::getenv("PROFILE_FUZZ_TRACE") != nullptr) {
    for (const Write& write : writes) {
      std::fprintf(stderr, "write [%s] %s = %s\n", Escaped(write.section).c_str(),
                   Escaped(write.key).c_str(), Escaped(write.text).c_str());
    }
    std::fprintf(stderr, "before: %s\nafter:  %s\n", Escaped(original).c_str(),
                 Escaped(output).c_str());
  }
  const engine::Document reread = engine::ParseDocument(output);
  REQUIRE(engine::ReadAlike(reread, document));
  for (const Write& write : writes) {
    const std::string& want = expected[{Folded(write.section), Folded(write.key)}];
    REQUIRE(Read(document, write.section, write.key) == want);
    REQUIRE(Read(reread, write.section, write.key) == want);
  }

  // Every untouched line stands in the output, in order; only the file's last line may have
  // gained the line break that it lacked.
  REQUIRE(output.rfind(original.substr(0, original.size() - body.size()), 0) == 0);
  const std::vector<Line> out =
      SplitLines(std::string_view(output).substr(original.size() - body.size()));
  std::size_t at = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (touched.count(static_cast<long>(i)) != 0) continue;
    const bool last = i + 1 == lines.size();
    while (at < out.size() &&
           !(out[at].text == lines[i].text &&
             (out[at].lineBreak == lines[i].lineBreak || (last && lines[i].lineBreak.empty())))) {
      ++at;
    }
    REQUIRE(at < out.size());
    ++at;
  }
  CheckSectionEdits(original, original.size() - body.size(), lines,
                    writes.empty() ? "renamed" : writes.front().key);
  return 0;
}
