// A profile file held in memory: one pass to parse, lookups through an index of section names,
// edits that touch only the lines they are about.
#include "platform/linux/profile_document.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "profile/ascii_case.h"

namespace profile_engine {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kDefaultLineBreak = "\r\n";

// True for the bytes that the platform trims from both ends of a line, a name and a value.
constexpr bool IsTrimmedByte(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == '\x1a';
}

// The text without the trimmed bytes at either end.
std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsTrimmedByte(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsTrimmedByte(text.back())) text.remove_suffix(1);
  return text;
}

// The text up to its first CR, LF or NUL: what may stand on one line of the file.
std::string_view OneLine(std::string_view text) {
  return text.substr(0, text.find_first_of(std::string_view("\r\n\0", 3)));
}

// The value without one pair of enclosing double or single quotes.
std::string_view Unquote(std::string_view value) {
  const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                      value.back() == value.front();
  return quoted ? value.substr(1, value.size() - 2) : value;
}

// The section name of a header line, or nothing when the line is no header.
std::optional<std::string_view> HeaderName(std::string_view line) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  const std::size_t close = line.rfind(']');
  if (close == std::string_view::npos) return std::nullopt;
  return Trim(line.substr(1, close - 1));
}

struct Entry {
  std::string_view key;
  std::optional<std::string_view> value;  // nothing for a line without "="
};

// The entry that a line inside a section holds, or nothing for a blank line.
std::optional<Entry> ParseEntry(std::string_view line) {
  line = Trim(line);
  if (line.empty()) return std::nullopt;
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) return Entry{line, std::nullopt};
  return Entry{Trim(line.substr(0, equals)), Unquote(Trim(line.substr(equals + 1)))};
}

// The position of the first CR or LF in `text` at or after `from`, or the text's size. Eight
// bytes are tested at a time (a byte equals c when its XOR with c is zero), which matters because
// every lookup walks the lines of its section.
std::size_t FindLineEnd(std::string_view text, std::size_t from) {
  static_assert(std::endian::native == std::endian::little);
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  constexpr std::uint64_t kHighBits = 0x8080808080808080u;
  for (; from + 8 <= text.size(); from += 8) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + from, 8);
    const std::uint64_t cr = word ^ (kOnes * '\r');
    const std::uint64_t lf = word ^ (kOnes * '\n');
    const std::uint64_t zeroes = (((cr - kOnes) & ~cr) | ((lf - kOnes) & ~lf)) & kHighBits;
    // The lowest flagged byte is always a true match; flags above it may be borrows.
    if (zeroes != 0) return from + static_cast<std::size_t>(std::countr_zero(zeroes)) / 8;
  }
  while (from < text.size() && text[from] != '\r' && text[from] != '\n') ++from;
  return from;
}

// Splits a text into lines, one at a time.
struct LineSplitter {
  std::string_view text;
  std::size_t position = 0;

  bool Done() const { return position >= text.size(); }

  ProfileLine Next() {
    const std::size_t end = FindLineEnd(text, position);
    std::size_t breakLength = 0;
    if (end < text.size()) {
      breakLength = (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1;
    }
    const ProfileLine line{text.substr(position, end - position), text.substr(end, breakLength)};
    position = end + breakLength;
    return line;
  }
};

// True for the bytes that may stand before "[" on a header line: trimmed bytes other than breaks.
constexpr bool IsIndentByte(char c) {
  return c != '\r' && c != '\n' && IsTrimmedByte(c);
}

// Where the line holding the byte at `at` starts.
std::size_t LineStartBefore(std::string_view text, std::size_t at) {
  while (at > 0 && IsIndentByte(text[at - 1])) --at;
  return at;
}

// The file's first line break, or nothing when it has none.
std::string_view FirstLineBreak(std::string_view text) {
  LineSplitter splitter{text};
  while (!splitter.Done()) {
    const ProfileLine line = splitter.Next();
    if (!line.lineBreak.empty()) return line.lineBreak;
  }
  return {};
}

// Calls `visit` with each line of a section after its header, in order, until it returns true.
template <typename Visit>
void VisitBody(const ProfileSection& section, Visit visit) {
  if (section.split) {
    for (std::size_t i = section.bodyLine; i < section.lines.size(); ++i) {
      if (visit(section.lines[i])) return;
    }
    return;
  }
  LineSplitter splitter{section.original, section.bodyOffset};
  while (!splitter.Done()) {
    if (visit(splitter.Next())) return;
  }
}

const ProfileSection* FindSection(const ProfileDocument& document, std::string_view name) {
  const std::optional<std::size_t> found = FindInIndex(document.firstSectionByName, Trim(name));
  return found ? &document.sections[*found] : nullptr;
}

// The first entry of `key` in the section, if any.
std::optional<Entry> FindEntry(const ProfileSection& section, std::string_view key) {
  key = Trim(key);
  if (section.remembered && profile::EqualIgnoringAsciiCase(section.rememberedKey, key)) {
    return Entry{section.rememberedKey, section.rememberedValue};
  }
  std::optional<Entry> result;
  VisitBody(section, [&](const ProfileLine& line) {
    const std::optional<Entry> entry = ParseEntry(line.text);
    if (entry && profile::EqualIgnoringAsciiCase(entry->key, key)) result = entry;
    return result.has_value();
  });
  if (result) {
    section.remembered = true;
    section.rememberedKey = result->key;
    section.rememberedValue = result->value;
  }
  return result;
}

// Splits the section into its lines, so that a write can change them.
ProfileSection& Split(ProfileSection& section) {
  if (!section.split) {
    LineSplitter splitter{section.original};
    while (!splitter.Done()) section.lines.push_back(splitter.Next());
    section.split = true;
  }
  return section;
}

// The three pieces joined into one line of text.
std::string JoinLine(std::string_view first, std::string_view middle, std::string_view last) {
  std::string line;
  line.reserve(first.size() + middle.size() + last.size());
  line.append(first).append(middle).append(last);
  return line;
}

// A line of the document's own, made by a write; it lives as long as the document.
std::string_view KeepLine(ProfileDocument& document, std::string text) {
  return document.writtenLines.emplace_back(std::move(text));
}

void EnsureLineBreak(const ProfileDocument& document, ProfileLine& line) {
  if (line.lineBreak.empty()) line.lineBreak = document.lineBreak;
}

// The section that holds the file's last line, split so that its lines can be changed, or null in
// a file without lines.
ProfileSection* LastSectionWithLines(ProfileDocument& document) {
  for (auto section = document.sections.rbegin(); section != document.sections.rend(); ++section) {
    if (!Split(*section).lines.empty()) return &*section;
  }
  return nullptr;
}

// Rewrites the first entry of `key` in the split section as key=text; false when there is none.
bool RewriteEntry(ProfileDocument& document, ProfileSection& section, std::string_view key,
                  std::string_view text) {
  for (std::size_t i = section.bodyLine; i < section.lines.size(); ++i) {
    const std::optional<Entry> entry = ParseEntry(section.lines[i].text);
    if (entry && profile::EqualIgnoringAsciiCase(entry->key, key)) {
      // The key keeps its spelling in the file; the line's own break stays.
      section.lines[i].text = KeepLine(document, JoinLine(entry->key, "=", text));
      return true;
    }
  }
  return false;
}

// The break for a new line of `text` between `before` and `after` (either may be missing): the
// file's own, unless it would read as one break with a neighbour's, a lone CR next to an LF,
// and so lose a line; then CRLF.
std::string_view BreakForNewLine(const ProfileDocument& document, const ProfileLine* before,
                                 std::string_view text, const ProfileLine* after) {
  const std::string_view own = document.lineBreak;
  const bool joinsBefore =
      text.empty() && before != nullptr && before->lineBreak == "\r" && own.starts_with('\n');
  const bool joinsAfter =
      own == "\r" && after != nullptr && after->text.empty() && after->lineBreak.starts_with('\n');
  return joinsBefore || joinsAfter ? kDefaultLineBreak : own;
}

void AddEntryToSection(ProfileDocument& document, ProfileSection& section, std::string text) {
  // After the last non-blank line: the header at least, or the start of the lines before any.
  std::size_t end = section.lines.size();
  while (end > 0 && Trim(section.lines[end - 1].text).empty()) --end;
  if (end > 0) EnsureLineBreak(document, section.lines[end - 1]);
  const ProfileLine* before = end > 0 ? &section.lines[end - 1] : nullptr;
  const ProfileLine* after = end < section.lines.size() ? &section.lines[end] : nullptr;
  const std::string_view lineBreak = BreakForNewLine(document, before, text, after);
  const ProfileLine line{KeepLine(document, std::move(text)), lineBreak};
  section.lines.insert(section.lines.begin() + static_cast<std::ptrdiff_t>(end), line);
}

void AddSection(ProfileDocument& document, std::string_view name, std::string entryText) {
  if (ProfileSection* last = LastSectionWithLines(document)) {
    ProfileLine& lastLine = last->lines.back();
    EnsureLineBreak(document, lastLine);
    if (!Trim(lastLine.text).empty()) {
      const ProfileLine blank{{}, BreakForNewLine(document, &lastLine, {}, nullptr)};
      last->lines.push_back(blank);  // not into a removed section that may stand after it
    }
  }
  ProfileSection& section = document.sections.emplace_back();
  section.split = true;
  const std::string_view header = KeepLine(document, JoinLine("[", name, "]"));
  section.lines.push_back({header, document.lineBreak});
  section.lines.push_back({KeepLine(document, std::move(entryText)), document.lineBreak});
  AddToIndexIfNew(document.firstSectionByName, header.substr(1, name.size()),
                  document.sections.size() - 1);
}

// The header line of a section other than the first, which has none.
std::string_view HeaderLine(const ProfileSection& section) {
  return section.split ? section.lines.front().text : LineSplitter{section.original}.Next().text;
}

// The name of a section other than the first, as spelled in its header.
std::string_view SpelledName(const ProfileSection& section) {
  return HeaderName(HeaderLine(section)).value_or(std::string_view());
}

// Files every section's name anew, after an edit in a file where some name heads several sections.
void RefileNames(ProfileDocument& document) {
  document.firstSectionByName = {};
  document.duplicateNames = false;
  AddToIndexIfNew(document.firstSectionByName, "", 0);
  for (std::size_t i = 1; i < document.sections.size(); ++i) {
    if (document.sections[i].removed) continue;
    if (!AddToIndexIfNew(document.firstSectionByName, SpelledName(document.sections[i]), i)) {
      document.duplicateNames = true;
    }
  }
}

// The section that `name` stands for, unless it is the first, which has no header to edit.
std::optional<std::size_t> FindEditableSection(const ProfileDocument& document,
                                               std::string_view name) {
  const std::optional<std::size_t> found =
      FindInIndex(document.firstSectionByName, Trim(OneLine(name)));
  return found && *found != 0 ? found : std::nullopt;
}

bool IsLastSection(const ProfileDocument& document, std::size_t index) {
  return std::all_of(document.sections.begin() + static_cast<std::ptrdiff_t>(index) + 1,
                     document.sections.end(),
                     [](const ProfileSection& section) { return section.removed; });
}

void DropBlankLinesAtEnd(ProfileDocument& document) {
  for (auto section = document.sections.rbegin(); section != document.sections.rend(); ++section) {
    if (section->removed) continue;
    std::vector<ProfileLine>& lines = Split(*section).lines;
    while (lines.size() > section->bodyLine && Trim(lines.back().text).empty()) lines.pop_back();
    return;
  }
}

}  // namespace

ProfileDocument ParseProfile(std::string_view text) {
  return ParseProfile(linux_files::ByteBuffer::CopyOf(text));
}

ProfileDocument ParseProfile(linux_files::ByteBuffer bytes) {
  ProfileDocument document;
  document.source = std::move(bytes);
  std::string_view rest = document.source.view();
  if (rest.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    document.byteOrderMark = rest.substr(0, kByteOrderMark.size());
    rest.remove_prefix(kByteOrderMark.size());
  }
  // Only the headers are found here, by looking at each "[" that starts a line; the lines of a
  // section are looked at when it is used.
  document.sections.emplace_back().bodyLine = 0;
  AddToIndexIfNew(document.firstSectionByName, "", 0);
  std::size_t sectionStart = 0;
  for (std::size_t at = rest.find('['); at != std::string_view::npos; at = rest.find('[', at)) {
    const std::size_t lineStart = LineStartBefore(rest, at);
    const bool startsLine =
        lineStart == 0 || rest[lineStart - 1] == '\r' || rest[lineStart - 1] == '\n';
    LineSplitter splitter{rest, lineStart};
    const ProfileLine line = splitter.Next();
    at = startsLine ? splitter.position : at + 1;
    const std::optional<std::string_view> name = startsLine ? HeaderName(line.text) : std::nullopt;
    if (!name) continue;
    document.sections.back().original = rest.substr(sectionStart, lineStart - sectionStart);
    sectionStart = lineStart;
    document.sections.emplace_back().bodyOffset = splitter.position - lineStart;
    if (!AddToIndexIfNew(document.firstSectionByName, *name, document.sections.size() - 1)) {
      document.duplicateNames = true;
    }
  }
  document.sections.back().original = rest.substr(sectionStart);
  document.lineBreak = FirstLineBreak(rest);
  if (document.lineBreak.empty()) document.lineBreak = kDefaultLineBreak;
  return document;
}

std::optional<std::string_view> FindProfileValue(const ProfileDocument& document,
                                                 std::string_view section, std::string_view key) {
  const ProfileSection* found = FindSection(document, section);
  if (found == nullptr) return std::nullopt;
  const std::optional<Entry> entry = FindEntry(*found, key);
  return entry ? entry->value : std::nullopt;
}

bool SectionHasEntries(const ProfileDocument& document, std::string_view section) {
  const ProfileSection* found = FindSection(document, section);
  if (found == nullptr) return false;
  bool hasEntries = false;
  VisitBody(*found, [&](const ProfileLine& line) {
    hasEntries = !Trim(line.text).empty();
    return hasEntries;
  });
  return hasEntries;
}

void SetProfileValue(ProfileDocument& document, std::string_view section, std::string_view key,
                     std::string_view text) {
  section = Trim(OneLine(section));
  key = Trim(OneLine(key));
  text = OneLine(text);
  document.changed = true;
  const std::optional<std::size_t> found = FindInIndex(document.firstSectionByName, section);
  if (!found) {
    AddSection(document, section, JoinLine(key, "=", text));
    return;
  }
  ProfileSection& target = Split(document.sections[*found]);
  target.remembered = false;
  if (!RewriteEntry(document, target, key, text)) {
    AddEntryToSection(document, target, JoinLine(key, "=", text));
  }
}

std::vector<std::string_view> ProfileSectionNames(const ProfileDocument& document) {
  std::vector<std::string_view> names;
  for (std::size_t i = 1; i < document.sections.size(); ++i) {
    if (!document.sections[i].removed) names.push_back(SpelledName(document.sections[i]));
  }
  return names;
}

bool RemoveProfileSection(ProfileDocument& document, std::string_view section) {
  const std::optional<std::size_t> found = FindEditableSection(document, section);
  if (!found) return false;
  ProfileSection& removed = document.sections[*found];
  removed.removed = true;
  removed.split = true;
  removed.lines.clear();
  document.changed = true;
  if (document.duplicateNames) {
    RefileNames(document);
  } else {
    RemoveFromIndex(document.firstSectionByName, Trim(OneLine(section)));
  }
  if (IsLastSection(document, *found)) DropBlankLinesAtEnd(document);
  return true;
}

bool RenameProfileSection(ProfileDocument& document, std::string_view section,
                          std::string_view newName) {
  const std::optional<std::size_t> found = FindEditableSection(document, section);
  if (!found) return false;
  newName = Trim(OneLine(newName));
  ProfileLine& header = Split(document.sections[*found]).lines.front();
  const std::string_view oldName = SpelledName(document.sections[*found]);
  const std::size_t nameStart = static_cast<std::size_t>(oldName.data() - header.text.data());
  header.text = KeepLine(document, JoinLine(header.text.substr(0, nameStart), newName,
                                            header.text.substr(nameStart + oldName.size())));
  document.changed = true;
  // Without duplicates, the old name stands for no section any more and the new one for this one,
  // unless another section has it already.
  const std::optional<std::size_t> holder = FindInIndex(document.firstSectionByName, newName);
  if (document.duplicateNames || (holder && *holder != *found)) {
    RefileNames(document);
  } else if (!holder) {
    RemoveFromIndex(document.firstSectionByName, oldName);
    AddToIndexIfNew(document.firstSectionByName, header.text.substr(nameStart, newName.size()),
                    *found);
  }
  return true;
}

std::vector<std::string_view> SerializedPieces(const ProfileDocument& document) {
  // Sections that no write touched still lie next to each other in the source bytes, so runs of
  // them make one piece.
  std::vector<std::string_view> pieces;
  const auto add = [&](std::string_view piece) {
    if (piece.empty()) return;
    if (!pieces.empty() && pieces.back().data() + pieces.back().size() == piece.data()) {
      pieces.back() = std::string_view(pieces.back().data(), pieces.back().size() + piece.size());
    } else {
      pieces.push_back(piece);
    }
  };
  add(document.byteOrderMark);
  for (const ProfileSection& section : document.sections) {
    if (!section.split) add(section.original);
    for (const ProfileLine& line : section.lines) {
      add(line.text);
      add(line.lineBreak);
    }
  }
  return pieces;
}

std::string SerializeProfile(const ProfileDocument& document) {
  std::string bytes;
  for (const std::string_view piece : SerializedPieces(document)) bytes.append(piece);
  return bytes;
}

}  // namespace profile_engine
