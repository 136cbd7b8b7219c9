// A profile file held in memory: sections found in one pass, a hash map from folded section
// names, edits that split only the sections they touch.
#include "engine/profile_document.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "engine/ascii_case.h"
#include "engine/code_page.h"
#include "engine/unicode_text.h"

namespace engine {

namespace {

constexpr std::string_view kDefaultLineBreak = "\r\n";

bool IsUtf8(const Document& document) {
  return !document.byteOrderMark.empty();
}

// Names and text given in 8-bit text, as the file spells them.
std::string InFileText(const Document& document, std::string_view text) {
  return IsUtf8(document) ? Utf8FromAnsi(text) : std::string(text);
}

// The same without a copy in an 8-bit file; `converted` holds the text of a UTF-8 file.
std::string_view InFileText(const Document& document, std::string_view text,
                            std::string& converted) {
  if (!IsUtf8(document)) return text;
  converted = Utf8FromAnsi(text);
  return converted;
}

// The text up to its first CR, LF or NUL: what may stand on one line of the file.
std::string_view OneLine(std::string_view text) {
  return text.substr(0, text.find_first_of(std::string_view("\r\n\0", 3)));
}

// The name with A-Z folded to a-z: the index's key for every spelling of the name.
std::string Folded(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) c = FoldAsciiCase(c);
  return folded;
}

// Files every section under its folded name, the first section of a name winning, and notes the
// names that head several sections.
void IndexSections(Document& document) {
  document.firstSectionByName.clear();
  document.firstSectionByName.reserve(document.sections.size());
  for (std::size_t i = 0; i < document.sections.size(); ++i) {
    std::string folded = Folded(document.sections[i].name);
    if (!document.firstSectionByName.try_emplace(folded, i).second) {
      document.duplicatedNames.insert(std::move(folded));
    }
  }
}

// Files under `folded` the first section of that name from `from` on, if any: the one that a
// name taken off an earlier section stands for now.
void FileNextOfName(Document& document, const std::string& folded, std::size_t from) {
  for (std::size_t i = from; i < document.sections.size(); ++i) {
    if (!document.sections[i].removed && Folded(document.sections[i].name) == folded) {
      document.firstSectionByName.try_emplace(folded, i);
      return;
    }
  }
}

// The first section of the name, which is spelled as in the file.
const Section* FindSection(const Document& document, std::string_view name) {
  const auto found = document.firstSectionByName.find(Folded(name));
  return found == document.firstSectionByName.end() ? nullptr : &document.sections[found->second];
}

// Calls `visit` with each line of a section after its header, in order, until it returns true.
template <typename Visit>
void VisitLines(const Section& section, Visit visit) {
  for (std::string_view rest = section.body; !rest.empty();) {
    if (visit(TakeLine(rest))) return;
  }
  for (const Line& line : section.lines) {
    if (visit(line)) return;
  }
}

// The first entry of the key, spelled as in the file, in the section.
std::optional<ParsedLine> FindEntry(const Section& section, std::string_view key) {
  std::optional<ParsedLine> result;
  VisitLines(section, [&](const Line& line) {
    const ParsedLine parsed = ParseLine(line.text);
    if (parsed.kind == LineKind::kEntry && EqualIgnoringAsciiCase(parsed.name, key)) {
      result = parsed;
    }
    return result.has_value();
  });
  return result;
}

// The value's bytes as they stand in the file.
std::optional<std::string_view> FindValueBytes(const Document& document, std::string_view section,
                                               std::string_view key) {
  std::string converted;
  const Section* found = FindSection(document, InFileText(document, Trim(section), converted));
  if (found == nullptr) return std::nullopt;
  const std::optional<ParsedLine> entry =
      FindEntry(*found, InFileText(document, Trim(key), converted));
  return entry ? entry->value : std::nullopt;
}

// Splits the section's lines out of its body, so that a write can change them.
Section& Split(Section& section) {
  for (std::string_view rest = section.body; !rest.empty();)
    section.lines.push_back(TakeLine(rest));
  section.body = {};
  return section;
}

bool HasHeader(const Section& section) {
  return !section.header.text.empty();
}

// The three pieces joined into one line of text.
std::string JoinLine(std::string_view first, std::string_view middle, std::string_view last) {
  std::string line;
  line.reserve(first.size() + middle.size() + last.size());
  line.append(first).append(middle).append(last);
  return line;
}

// A line of the document's own, made by a write; it lives as long as the document.
std::string_view KeepLine(Document& document, std::string text) {
  return document.writtenLines.emplace_back(std::move(text));
}

void EnsureLineBreak(const Document& document, Line& line) {
  if (line.lineBreak.empty()) line.lineBreak = document.lineBreak;
}

// The section that holds the file's last line, split so that its lines can be changed, or null
// in a file without lines.
Section* LastSectionWithLines(Document& document) {
  for (auto section = document.sections.rbegin(); section != document.sections.rend(); ++section) {
    if (!Split(*section).lines.empty() || HasHeader(*section)) return &*section;
  }
  return nullptr;
}

Line& LastLineOf(Section& section) {
  return section.lines.empty() ? section.header : section.lines.back();
}

// Rewrites the first entry of `key` in the split section as key=text; false when there is none.
bool RewriteEntry(Document& document, Section& section, std::string_view key,
                  std::string_view text) {
  for (Line& line : section.lines) {
    const ParsedLine parsed = ParseLine(line.text);
    if (parsed.kind == LineKind::kEntry && EqualIgnoringAsciiCase(parsed.name, key)) {
      // The key keeps its spelling in the file; the line's own break stays.
      line.text = KeepLine(document, JoinLine(parsed.name, "=", text));
      return true;
    }
  }
  return false;
}

// The break for a new line of `text` between `before` and `after` (either may be missing): the
// file's own, unless it would read as one break with a neighbour's, a lone CR next to an LF,
// and so lose a line; then CRLF.
std::string_view BreakForNewLine(const Document& document, const Line* before,
                                 std::string_view text, const Line* after) {
  const std::string_view own = document.lineBreak;
  const bool joinsBefore =
      text.empty() && before != nullptr && before->lineBreak == "\r" && own.starts_with('\n');
  const bool joinsAfter =
      own == "\r" && after != nullptr && after->text.empty() && after->lineBreak.starts_with('\n');
  return joinsBefore || joinsAfter ? kDefaultLineBreak : own;
}

// A line whose first non-blank byte is ";", "#" or "/": a note for whoever reads the file. The
// platform has no comment syntax and reads it as an entry, but no key the installer reads starts
// so, and people write such lines about what follows them.
bool IsCommentLine(std::string_view text) {
  const std::string_view trimmed = Trim(text);
  return !trimmed.empty() &&
         (trimmed.front() == ';' || trimmed.front() == '#' || trimmed.front() == '/');
}

// Adds an entry to the split section after its last line that is neither blank nor a comment:
// after the header at least, or at the start of the lines before any header. Comment lines that
// end a section are about what follows it, and stay next to that.
void AddEntry(Document& document, Section& section, std::string text) {
  std::size_t end = section.lines.size();
  while (end > 0 && (Trim(section.lines[end - 1].text).empty() ||
                     IsCommentLine(section.lines[end - 1].text))) {
    --end;
  }
  Line* before = end > 0 ? &section.lines[end - 1] : HasHeader(section) ? &section.header : nullptr;
  if (before != nullptr) EnsureLineBreak(document, *before);
  const Line* after = end < section.lines.size() ? &section.lines[end] : nullptr;
  const std::string_view lineBreak = BreakForNewLine(document, before, text, after);
  const Line line{KeepLine(document, std::move(text)), lineBreak};
  section.lines.insert(section.lines.begin() + static_cast<std::ptrdiff_t>(end), line);
}

void AddSection(Document& document, std::string_view name, std::string entryText) {
  if (Section* holder = LastSectionWithLines(document)) {
    Line& last = LastLineOf(*holder);
    EnsureLineBreak(document, last);
    if (!Trim(last.text).empty()) {
      // Into the section that holds the last line, not into a removed one after it.
      const Line blank{{}, BreakForNewLine(document, &last, {}, nullptr)};
      holder->lines.push_back(blank);
    }
  }
  Section& section = document.sections.emplace_back();
  section.header = {KeepLine(document, JoinLine("[", name, "]")), document.lineBreak};
  section.name = section.header.text.substr(1, name.size());
  section.lines.push_back({KeepLine(document, std::move(entryText)), document.lineBreak});
  document.firstSectionByName.try_emplace(Folded(section.name), document.sections.size() - 1);
}

// The section that `name` stands for, unless it is the nameless first one, which has no header.
std::optional<std::size_t> FindEditableSection(const Document& document, std::string_view name) {
  std::string converted;
  const auto found = document.firstSectionByName.find(
      Folded(InFileText(document, Trim(OneLine(name)), converted)));
  if (found == document.firstSectionByName.end() || found->second == 0) return std::nullopt;
  return found->second;
}

// Takes the name off the section it stands for, so that it stands for its next section, if any.
void UnfileName(Document& document, const std::string& folded, std::size_t section) {
  document.firstSectionByName.erase(folded);
  if (document.duplicatedNames.contains(folded)) FileNextOfName(document, folded, section + 1);
}

bool IsLastSection(const Document& document, std::size_t index) {
  return std::all_of(document.sections.begin() + static_cast<std::ptrdiff_t>(index) + 1,
                     document.sections.end(),
                     [](const Section& section) { return section.removed; });
}

// The lines of a section that outlive its removal: from the first comment line after its last
// other non-blank line to its end (those comments, and the blank lines among and after them).
std::vector<Line> TrailingComments(Section& section) {
  const std::vector<Line>& lines = Split(section).lines;
  const auto isOther = [](const Line& line) {
    return !Trim(line.text).empty() && !IsCommentLine(line.text);
  };
  const auto afterLastOther = std::find_if(lines.rbegin(), lines.rend(), isOther).base();
  const auto firstComment = std::find_if(afterLastOther, lines.end(),
                                         [](const Line& line) { return IsCommentLine(line.text); });
  return {firstComment, lines.end()};
}

// Drops the blank lines at the end of the file, which removing its last sections left dangling.
void DropBlankLinesAtEnd(Document& document) {
  if (Section* last = LastSectionWithLines(document)) {
    while (!last->lines.empty() && Trim(last->lines.back().text).empty()) last->lines.pop_back();
  }
}

// A section as the platform reads it: one that stands in the file, with the lines kept from the
// sections removed after it, which have no header of their own to stand under.
using FileSection = std::vector<const Section*>;

std::vector<FileSection> SectionsInFile(const Document& document) {
  std::vector<FileSection> sections;
  for (const Section& section : document.sections) {
    if (section.removed && !sections.empty()) {
      sections.back().push_back(&section);
    } else {
      sections.push_back({&section});
    }
  }
  return sections;
}

// What a section holds, whatever the order of its lines: every entry, sorted, and what each key
// reads as (its first entry, the key's case folded).
struct SectionContent {
  std::vector<std::pair<std::string_view, std::optional<std::string_view>>> entries;
  std::map<std::string, std::optional<std::string_view>> reads;
  bool operator==(const SectionContent&) const = default;
};

SectionContent ContentOf(const FileSection& parts) {
  SectionContent content;
  for (const Section* part : parts) {
    VisitLines(*part, [&](const Line& line) {
      const ParsedLine entry = ParseLine(line.text);
      if (entry.kind != LineKind::kEntry) return false;
      content.entries.emplace_back(entry.name, entry.value);
      content.reads.try_emplace(Folded(entry.name), entry.value);
      return false;
    });
  }
  std::sort(content.entries.begin(), content.entries.end());
  return content;
}

}  // namespace

FileBytes OwnedBytes(std::string text) {
  auto owned = std::make_shared<const std::string>(std::move(text));
  return FileBytes{*owned, owned};
}

Document ParseDocument(std::string text) {
  return ParseDocument(OwnedBytes(std::move(text)));
}

Document ParseProfileFile(FileBytes bytes) {
  const std::string_view text = bytes.text;
  if (text.starts_with(kUtf16LeByteOrderMark)) {
    return ParseDocument(std::string(kUtf8ByteOrderMark) +
                         Utf8FromUtf16Le(text.substr(kUtf16LeByteOrderMark.size())));
  }
  return ParseDocument(text.starts_with(kUtf16BeByteOrderMark) ? FileBytes{} : std::move(bytes));
}

Document ParseDocument(FileBytes bytes) {
  Document document;
  document.source = std::move(bytes);
  std::string_view text = document.source.text;
  if (text.starts_with(kUtf8ByteOrderMark)) {
    document.byteOrderMark = text.substr(0, kUtf8ByteOrderMark.size());
    text.remove_prefix(kUtf8ByteOrderMark.size());
  }
  // One pass over the headers. A header's first non-blank byte is "[", so only the lines where a
  // "[" follows nothing but blanks need parsing: finding each "[" is much faster than taking
  // every line.
  document.sections.emplace_back();  // the lines before the first header
  std::size_t bodyStart = 0;
  for (std::size_t at = text.find('['); at != std::string_view::npos; at = text.find('[', at)) {
    const std::size_t lineStart = StartOfHeaderLine(text, at);
    if (lineStart == std::string_view::npos) {
      ++at;
      continue;
    }
    std::string_view rest = text.substr(lineStart);
    const Line line = TakeLine(rest);
    at = text.size() - rest.size();
    const ParsedLine parsed = ParseLine(line.text);
    if (parsed.kind != LineKind::kHeader) continue;
    document.sections.back().body = text.substr(bodyStart, lineStart - bodyStart);
    document.sections.push_back({parsed.name, line, {}, {}});
    bodyStart = at;
  }
  document.sections.back().body = text.substr(bodyStart);
  IndexSections(document);
  for (std::string_view rest = text; !rest.empty() && document.lineBreak.empty();) {
    document.lineBreak = TakeLine(rest).lineBreak;
  }
  if (document.lineBreak.empty()) document.lineBreak = kDefaultLineBreak;
  return document;
}

std::optional<std::string> FindValue(const Document& document, std::string_view section,
                                     std::string_view key) {
  const std::optional<std::string_view> value = FindValueBytes(document, section, key);
  if (!value) return std::nullopt;
  return IsUtf8(document) ? AnsiFromUtf8(*value) : std::string(*value);
}

void ReadValue(const Document& document, std::string_view section, std::string_view key,
               std::string_view defaultText, char* buffer, std::size_t size) {
  if (size == 0) return;
  const std::optional<std::string_view> value = FindValueBytes(document, section, key);
  std::string converted;
  if (value && IsUtf8(document)) converted = AnsiFromUtf8(*value);
  const std::string_view text = !value ? defaultText : IsUtf8(document) ? converted : *value;
  const std::size_t length = std::min(text.size(), size - 1);
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
}

bool SectionHasEntries(const Document& document, std::string_view section) {
  std::string converted;
  const Section* found = FindSection(document, InFileText(document, Trim(section), converted));
  if (found == nullptr) return false;
  bool hasEntries = false;
  VisitLines(*found, [&](const Line& line) {
    const ParsedLine parsed = ParseLine(line.text);
    // A line whose key a NUL byte cut to nothing, without "=", is no entry to the platform, nor is
    // a comment, which the platform's listing of a section leaves out.
    hasEntries = parsed.kind == LineKind::kEntry && (!parsed.name.empty() || parsed.value) &&
                 !parsed.name.starts_with(';');
    return hasEntries;
  });
  return hasEntries;
}

void WriteValue(Document& document, std::string_view section, std::string_view key,
                std::string_view text) {
  const std::string sectionName = InFileText(document, Trim(OneLine(section)));
  const std::string keyName = InFileText(document, Trim(OneLine(key)));
  const std::string value = InFileText(document, OneLine(text));
  document.changed = true;
  const auto found = document.firstSectionByName.find(Folded(sectionName));
  if (found == document.firstSectionByName.end()) {
    AddSection(document, sectionName, JoinLine(keyName, "=", value));
    return;
  }
  Section& target = Split(document.sections[found->second]);
  if (!RewriteEntry(document, target, keyName, value)) {
    AddEntry(document, target, JoinLine(keyName, "=", value));
  }
}

bool ReadAlike(const Document& a, const Document& b) {
  const std::vector<FileSection> left = SectionsInFile(a);
  const std::vector<FileSection> right = SectionsInFile(b);
  return IsUtf8(a) == IsUtf8(b) && std::equal(left.begin(), left.end(), right.begin(), right.end(),
                                              [](const FileSection& x, const FileSection& y) {
                                                return x.front()->name == y.front()->name &&
                                                       ContentOf(x) == ContentOf(y);
                                              });
}

std::vector<std::string> SectionNames(const Document& document) {
  std::vector<std::string> names;
  for (const Section& section : document.sections) {
    if (!HasHeader(section)) continue;  // the lines before the first header, or a removed section
    names.push_back(IsUtf8(document) ? AnsiFromUtf8(section.name) : std::string(section.name));
  }
  return names;
}

bool RemoveSection(Document& document, std::string_view section) {
  const std::optional<std::size_t> found = FindEditableSection(document, section);
  if (!found) return false;
  const std::string folded = Folded(document.sections[*found].name);
  // The kept lines stand where the section stood, so they come before the next header in order.
  std::vector<Line> kept = TrailingComments(document.sections[*found]);
  document.sections[*found] = Section{};
  document.sections[*found].removed = true;
  document.sections[*found].lines = std::move(kept);
  document.changed = true;
  UnfileName(document, folded, *found);
  if (IsLastSection(document, *found)) DropBlankLinesAtEnd(document);
  return true;
}

bool RenameSection(Document& document, std::string_view section, std::string_view newName) {
  const std::optional<std::size_t> found = FindEditableSection(document, section);
  if (!found) return false;
  Section& renamed = document.sections[*found];
  const std::string spelled = InFileText(document, Trim(OneLine(newName)));
  const std::string oldFolded = Folded(renamed.name);
  // The name is a view into its header line: the bytes around it stay as they are.
  const std::string_view header = renamed.header.text;
  const auto nameStart = static_cast<std::size_t>(renamed.name.data() - header.data());
  renamed.header.text =
      KeepLine(document, JoinLine(header.substr(0, nameStart), spelled,
                                  header.substr(nameStart + renamed.name.size())));
  renamed.name = renamed.header.text.substr(nameStart, spelled.size());
  document.changed = true;
  UnfileName(document, oldFolded, *found);
  std::string newFolded = Folded(spelled);
  const auto [holder, filed] = document.firstSectionByName.try_emplace(newFolded, *found);
  if (!filed) {
    holder->second = std::min(holder->second, *found);
    document.duplicatedNames.insert(std::move(newFolded));
  }
  return true;
}

std::vector<std::string_view> SerializedPieces(const Document& document) {
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
  for (const Section& section : document.sections) {
    add(section.header.text);
    add(section.header.lineBreak);
    add(section.body);
    for (const Line& line : section.lines) {
      add(line.text);
      add(line.lineBreak);
    }
  }
  return pieces;
}

std::string Serialize(const Document& document) {
  std::string bytes;
  for (const std::string_view piece : SerializedPieces(document)) bytes.append(piece);
  return bytes;
}

}  // namespace engine
