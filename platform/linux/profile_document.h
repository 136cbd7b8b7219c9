// A profile file held in memory: parsed once, read and edited any number of times, written back
// whole. It reads the way the platform's profile functions read, and edits better than they do:
// only the lines that a write asks for change; every other byte of the file is kept as it was.
//
// Reading rules: lines end in LF, CRLF or a lone CR; each line is trimmed of blanks, tabs, CR, LF,
// VT, FF and 0x1A; a line starting with "[" and holding a "]" is a section header naming the
// trimmed text up to its last "]"; any other non-blank line is an entry whose key is the trimmed
// text before its first "=" and whose value is the trimmed text after it, less one pair of
// enclosing quotes; an entry without "=" has no value. Names match regardless of ASCII case; only
// the first section of a name and, in it, the first entry of a key count. Lines before the first
// header form the first section whose name is empty (a "[]" header after them is never found).
// A UTF-8 byte order mark is kept and is not part of the first line.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/byte_buffer.h"
#include "platform/linux/section_index.h"

namespace profile_engine {

struct ProfileLine {
  std::string_view text;       // the line as it stands in the file, without its line break
  std::string_view lineBreak;  // "\r\n", "\n", "\r", or empty for a last line without one
};

// One section: its header line and every line up to the next header. The lines before the first
// header form a section of their own, without a header, whose name is empty. A section is split
// into lines only when a write touches it; until then its bytes stand as read, and lookups walk
// them directly.
struct ProfileSection {
  std::string_view original;   // the section's bytes as read, line breaks included
  std::size_t bodyOffset = 0;  // where in `original` the lines after the header start
  std::size_t bodyLine = 1;    // once split: the index of the first line after the header
  // The entry that the last successful lookup in this section found, so that asking for the same
  // key again walks no lines. Any write to the section forgets it.
  mutable bool remembered = false;
  mutable std::string_view rememberedKey;
  mutable std::optional<std::string_view> rememberedValue;
  std::vector<ProfileLine> lines;  // once split: its lines, which then stand for it
  bool split = false;
  bool removed = false;  // taken out of the file: it has no lines and no name
};

struct ProfileDocument {
  linux_files::ByteBuffer source;        // the bytes read; lines point into them
  std::deque<std::string> writtenLines;  // lines made by writes; lines point into them too
  std::string_view byteOrderMark;
  std::vector<ProfileSection> sections;  // sections[0]: the lines before the first header
  SectionIndex firstSectionByName;       // the first section of each name
  std::string_view lineBreak;            // the file's own (its first), CRLF for a file without one
  bool changed = false;
  // Some name heads several sections. Then removing or renaming a section must search for the
  // section that its name stands for next, so every name is filed anew.
  bool duplicateNames = false;
};

ProfileDocument ParseProfile(linux_files::ByteBuffer bytes);
ProfileDocument ParseProfile(std::string_view text);

// The value of `key` in `section`, or nothing when the section, the key or its "=" is missing.
std::optional<std::string_view> FindProfileValue(const ProfileDocument& document,
                                                 std::string_view section, std::string_view key);

// True when `section` exists and holds at least one entry.
bool SectionHasEntries(const ProfileDocument& document, std::string_view section);

// Sets `key` of `section` to `text`: the first entry of the key is rewritten as key=text, or a new
// entry is added after the section's last non-blank line, or a new section is added at the end.
// The text is cut at its first line break, so a value can never split into two lines.
void SetProfileValue(ProfileDocument& document, std::string_view section, std::string_view key,
                     std::string_view text);

// The names of the sections that have a header, as spelled in the file and in its order; a name
// that heads several sections is listed for each.
std::vector<std::string_view> ProfileSectionNames(const ProfileDocument& document);

// Removes the first section named `section` with its lines up to the next header; when no section
// follows it, the blank lines then left at the end of the file go too. False when there is none.
bool RemoveProfileSection(ProfileDocument& document, std::string_view section);

// Gives the first section named `section` the name `newName`; every other byte of its header line
// and all its other lines stay. False when there is none.
bool RenameProfileSection(ProfileDocument& document, std::string_view section,
                          std::string_view newName);

// The whole file as it now stands, as pieces to be written one after another. The pieces point
// into the document and are valid while it is unchanged.
std::vector<std::string_view> SerializedPieces(const ProfileDocument& document);

// The whole file as it now stands, in one string.
std::string SerializeProfile(const ProfileDocument& document);

}  // namespace profile_engine
