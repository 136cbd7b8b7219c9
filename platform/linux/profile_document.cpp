// A profile file held in memory: one pass to parse, lookups through an index of section names,
// edits that touch only the lines they are about.
#include "platform/linux/profile_document.h"

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

// The length of the line break at the start of `rest`, which begins with CR or LF.
std::size_t LineBreakLength(std::string_view rest) {
  return (rest[0] == '\r' && rest.size() > 1 && rest[1] == '\n') ? 2 : 1;
}

// The next line of `rest`, which is advanced past it and its line break.
ProfileLine TakeLine(std::string_view& rest) {
  std::size_t end = 0;
  while (end < rest.size() && rest[end] != '\r' && rest[end] != '\n') ++end;
  const std::size_t breakLength = end < rest.size() ? LineBreakLength(rest.substr(end)) : 0;
  ProfileLine line{rest.substr(0, end), rest.substr(end, breakLength)};
  rest.remove_prefix(end + breakLength);
  return line;
}

const ProfileSection* FindSection(const ProfileDocument& document, std::string_view name) {
  const auto found = document.firstSectionByName.find(profile::FoldedName(Trim(name)));
  return found == document.firstSectionByName.end() ? nullptr : &document.sections[found->second];
}

// The index of the first line of the section holding `key`, or 0 (the header) when none does.
std::size_t FindEntryLine(const ProfileSection& section, std::string_view key) {
  key = Trim(key);
  for (std::size_t i = 1; i < section.lines.size(); ++i) {
    const std::optional<Entry> entry = ParseEntry(section.lines[i].text);
    if (entry && profile::EqualIgnoringAsciiCase(entry->key, key)) return i;
  }
  return 0;
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

// The file's last line, or nothing in a file without lines.
ProfileLine* LastLine(ProfileDocument& document) {
  for (auto section = document.sections.rbegin(); section != document.sections.rend(); ++section) {
    if (!section->lines.empty()) return &section->lines.back();
  }
  return nullptr;
}

void AddEntryToSection(ProfileDocument& document, ProfileSection& section, std::string text) {
  std::size_t last = section.lines.size() - 1;
  while (last > 0 && Trim(section.lines[last].text).empty()) --last;
  EnsureLineBreak(document, section.lines[last]);
  const ProfileLine line{KeepLine(document, std::move(text)), document.lineBreak};
  section.lines.insert(section.lines.begin() + static_cast<std::ptrdiff_t>(last + 1), line);
}

void AddSection(ProfileDocument& document, std::string_view name, std::string entryText) {
  if (ProfileLine* last = LastLine(document)) {
    EnsureLineBreak(document, *last);
    if (!Trim(last->text).empty()) {
      document.sections.back().lines.push_back(ProfileLine{{}, document.lineBreak});
    }
  }
  ProfileSection& section = document.sections.emplace_back();
  section.lines.push_back({KeepLine(document, JoinLine("[", name, "]")), document.lineBreak});
  section.lines.push_back({KeepLine(document, std::move(entryText)), document.lineBreak});
  document.firstSectionByName.try_emplace(profile::FoldedName(name), document.sections.size() - 1);
}

}  // namespace

ProfileDocument ParseProfile(std::string bytes) {
  ProfileDocument document;
  document.source = std::make_unique<const std::string>(std::move(bytes));
  std::string_view rest = *document.source;
  if (rest.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    document.byteOrderMark = rest.substr(0, kByteOrderMark.size());
    rest.remove_prefix(kByteOrderMark.size());
  }
  document.sections.emplace_back();
  while (!rest.empty()) {
    const ProfileLine line = TakeLine(rest);
    if (document.lineBreak.empty()) document.lineBreak = line.lineBreak;
    if (const std::optional<std::string_view> name = HeaderName(line.text)) {
      document.sections.emplace_back();
      document.firstSectionByName.try_emplace(profile::FoldedName(*name),
                                              document.sections.size() - 1);
    }
    document.sections.back().lines.push_back(line);
  }
  if (document.lineBreak.empty()) document.lineBreak = kDefaultLineBreak;
  return document;
}

std::optional<std::string_view> FindProfileValue(const ProfileDocument& document,
                                                 std::string_view section, std::string_view key) {
  const ProfileSection* found = FindSection(document, section);
  if (found == nullptr) return std::nullopt;
  const std::size_t line = FindEntryLine(*found, key);
  if (line == 0) return std::nullopt;
  return ParseEntry(found->lines[line].text)->value;
}

bool SectionHasEntries(const ProfileDocument& document, std::string_view section) {
  const ProfileSection* found = FindSection(document, section);
  if (found == nullptr) return false;
  for (std::size_t i = 1; i < found->lines.size(); ++i) {
    if (!Trim(found->lines[i].text).empty()) return true;
  }
  return false;
}

void SetProfileValue(ProfileDocument& document, std::string_view section, std::string_view key,
                     std::string_view text) {
  section = Trim(OneLine(section));
  key = Trim(OneLine(key));
  text = OneLine(text);
  document.changed = true;
  const auto found = document.firstSectionByName.find(profile::FoldedName(section));
  if (found == document.firstSectionByName.end()) {
    AddSection(document, section, JoinLine(key, "=", text));
    return;
  }
  ProfileSection& target = document.sections[found->second];
  const std::size_t line = FindEntryLine(target, key);
  if (line == 0) {
    AddEntryToSection(document, target, JoinLine(key, "=", text));
    return;
  }
  // The key keeps its spelling in the file; the line's own break stays.
  const std::string_view spelled = ParseEntry(target.lines[line].text)->key;
  target.lines[line].text = KeepLine(document, JoinLine(spelled, "=", text));
}

std::string SerializeProfile(const ProfileDocument& document) {
  std::size_t size = document.byteOrderMark.size();
  for (const ProfileSection& section : document.sections) {
    for (const ProfileLine& line : section.lines) size += line.text.size() + line.lineBreak.size();
  }
  std::string bytes;
  bytes.reserve(size);
  bytes.append(document.byteOrderMark);
  for (const ProfileSection& section : document.sections) {
    for (const ProfileLine& line : section.lines) {
      bytes.append(line.text);
      bytes.append(line.lineBreak);
    }
  }
  return bytes;
}

}  // namespace profile_engine
