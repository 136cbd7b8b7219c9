// A profile file held in memory: parsed once by the platform's rules (profile_syntax.h), read and
// edited any number of times, written back whole. Reads give what the platform's profile read
// gives; edits change only the lines that a write is about, and every other byte stays as read.
//
// - Names match regardless of ASCII case; only the first section of a name and, in it, the first
//   entry of a key count. The nameless section of the lines before the first header comes first,
//   so a "[]" header is never found.
// - In a UTF-8 file (one that starts with the byte order mark) names and text are 8-bit text of the
//   build's code page on the outside (code_page.h): names asked for are compared after conversion
//   to UTF-8, values are handed out converted from UTF-8, and written names and text are stored as
//   UTF-8.
// - A write rewrites the first entry of its key as key=text, the key spelled as in the file, or
//   adds the entry after its section's last line that is neither blank nor a comment (comment
//   lines that end a section are about what follows it), or adds the section at the end after
//   one blank line. New lines take the file's first line break (CRLF for a file without one).
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/name_hash.h"
#include "engine/profile_syntax.h"

namespace engine {

// One section: its header line and the lines after it up to the next header. Its lines stay
// bytes as read (`body`) until a write touches the section and splits them out (`lines`).
struct Section {
  std::string_view name;    // as the file spells it; empty for the lines before the first header
  Line header;              // empty for the lines before the first header
  std::string_view body;    // the lines after the header as read; empty once split
  std::vector<Line> lines;  // the lines after the header once split, with the lines written since
  bool removed = false;     // taken out of the file: no header, no name, only kept comment lines
};

// The bytes of a file, and the string that keeps them where they are.
struct FileBytes {
  std::string_view text;
  std::shared_ptr<const void> owner;
};

struct Document {
  FileBytes source;                      // the bytes read; the views point into them
  std::deque<std::string> writtenLines;  // lines made by writes; views point into them too
  std::string_view byteOrderMark;        // the UTF-8 mark, in a UTF-8 file
  std::vector<Section> sections;         // sections[0]: the lines before the first header
  // The first section of each name, under the name with A-Z folded to a-z. The hash is keyed at
  // random (name_hash.h), so no file can make its names share a bucket. The numbering looks up one
  // name per existing entry for each variant, where a hash beats an ordered map
  // (docs/benchmark.md).
  std::unordered_map<std::string, std::size_t, NameHash> firstSectionByName;
  std::string_view lineBreak;  // the file's first, or CRLF for a file without one
  bool changed = false;
  // The folded names that head several sections: an edit that takes one of them off a section
  // must look for the section that the name stands for next. Other names are simply unfiled, so
  // that renumbering a large file stays linear when some unrelated name is duplicated.
  std::set<std::string> duplicatedNames;
};

Document ParseDocument(FileBytes bytes);

// The bytes of `text`, which they keep.
FileBytes OwnedBytes(std::string text);

// A document of text made in memory.
Document ParseDocument(std::string text);

// The document of a profile file's bytes as the platform's profile functions take them: UTF-16
// LE text with its byte order mark (what an editor saves as "Unicode") as UTF-8 text, UTF-16 BE
// text (which is not read) as no text, any other as it stands.
Document ParseProfileFile(FileBytes bytes);

// The value of `key` in `section` as the platform hands it out, whole; nothing when the section,
// the key or its "=" is missing.
std::optional<std::string> FindValue(const Document& document, std::string_view section,
                                     std::string_view key);

// The platform's profile read: the value, or the default text when it is missing, cut to fit the
// buffer and zero-terminated.
void ReadValue(const Document& document, std::string_view section, std::string_view key,
               std::string_view defaultText, char* buffer, std::size_t size);

// True when `section` exists and holds at least one entry with a key or an "=" that is no comment
// (a key that starts with ";"), as the platform lists a section.
bool SectionHasEntries(const Document& document, std::string_view section);

// Sets `key` of `section` to `text`. Each is cut at its first line break or NUL, so that a value
// can never split into two lines; the names are trimmed.
void WriteValue(Document& document, std::string_view section, std::string_view key,
                std::string_view text);

// True when the two documents read alike: both UTF-8 or both 8-bit, the same sections in the
// same order, each named alike, holding the same entries (key and value, as lines parse) and
// giving the same value for each key. Layout may differ: the order of a section's entries where
// that changes no read, blank lines, blanks around names and "=", line breaks, and what follows a
// header's "]".
bool ReadAlike(const Document& a, const Document& b);

// The names of the sections that have a header, as the platform lists them: spelled as in the
// file, in its order, a name that heads several sections once for each.
std::vector<std::string> SectionNames(const Document& document);

// Removes the first section named `section` with its lines up to the next header, except the
// comment lines (first non-blank byte ";", "#" or "/") after its last other non-blank line: they
// are about what follows, and stay there with the blank lines among and after them. When no
// section follows it, the blank lines then left at the end of the file go too. False when there
// is none.
bool RemoveSection(Document& document, std::string_view section);

// Gives the first section named `section` the name `newName`; every other byte of its header line
// and all its other lines stay. False when there is none.
bool RenameSection(Document& document, std::string_view section, std::string_view newName);

// The whole file as it now stands, as pieces to be written one after another. The pieces point
// into the document and are valid while it is unchanged.
std::vector<std::string_view> SerializedPieces(const Document& document);

// The whole file as it now stands, in one string.
std::string Serialize(const Document& document);

}  // namespace engine
