// Removing one livery's entries and renumbering the later ones.
#include "installer/livery_removal.h"

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

#include "engine/profile_syntax.h"
#include "installer/livery_entries.h"
#include "platform/platform.h"
#include "profile/entry_numbering.h"
#include "profile/read_setting.h"

namespace installer {

namespace {

// The sections of each entry index, as their names are spelled, in the file's order.
using EntrySections = std::map<int, std::vector<std::string>>;

// What an entry of the livery reads as: one of the titles that the installer writes, and the
// texture that it copies, the key that ties the entry to the livery's own folder.
struct LiveryMarks {
  std::vector<std::string> titles;
  std::string texture;
};

// An entry with one of the livery's titles and another texture, or none, which stays, at the index
// where it stood before the removal.
struct KeptEntry {
  int index = 0;
  std::string title;
};

// What the platform reads back from a value written as `text`: the value of the line "k=text",
// trimmed and without one pair of enclosing quotes, through the read's buffer.
std::string AsReadBack(const std::string& text) {
  const std::string line = "k=" + text;
  const std::string_view value = engine::ParseLine(line).value.value_or("");
  return std::string(value.substr(0, profile::kSettingBufferSize - 1));
}

LiveryMarks ReadLiveryMarks(const std::string& liveryPath) {
  const std::string source = profile::EntrySectionName(0);
  const auto read = [&](const char* key) {
    return profile::ReadSetting(liveryPath.c_str(), source.c_str(), key, "");
  };
  LiveryMarks marks;
  const std::string title = read("title");
  for (const VariantSuffix& variant : VariantSuffixes) {
    marks.titles.push_back(AsReadBack(AppendSuffix(title, variant.title)));
  }
  marks.texture = AsReadBack(read("texture"));
  return marks;
}

// The entry's texture as the platform reads it, or nothing when the key is missing: the installer
// always writes it, even empty. A read gives its default only for a missing key, and no value
// reads as both of two different defaults.
std::optional<std::string> ReadTexture(const char* path, const std::string& section) {
  std::string texture = profile::ReadSetting(path, section.c_str(), "texture", "0");
  if (texture != "0") return texture;
  if (profile::ReadSetting(path, section.c_str(), "texture", "1") == "1") return std::nullopt;
  return texture;
}

bool ListEntrySections(const char* path, EntrySections& sections) {
  std::vector<std::string> names;
  if (!platform::ListProfileSections(path, names)) return false;
  sections.clear();
  for (std::string& name : names) {
    if (const std::optional<int> index = profile::EntryIndexOfName(name)) {
      sections[*index].push_back(std::move(name));
    }
  }
  return true;
}

// What the removal found and did, index by index.
struct Matches {
  std::vector<int> emptied;  // indices left without a section, in increasing order
  std::vector<KeptEntry> kept;
  bool removedAny = false;
  bool failed = false;
  // A hidden later section of a removed entry's name, without a title, would stand at its index
  // and cut the list short there: the entries after it would no longer be listed.
  bool wouldUnlist = false;
};

enum class Kinship { kOther, kLivery, kTitleOnly };

// Whether the section that the platform reads for `name` is one of the livery's entries.
Kinship KinshipOf(const char* path, const std::string& name, const LiveryMarks& marks,
                  std::string& title) {
  title = profile::ReadSetting(path, name.c_str(), "title", "");
  if (std::find(marks.titles.begin(), marks.titles.end(), title) == marks.titles.end()) {
    return Kinship::kOther;
  }
  return ReadTexture(path, name) == marks.texture ? Kinship::kLivery : Kinship::kTitleOnly;
}

// Removes, at every entry index, listed or behind a gap, the sections that the platform reads as
// the livery's: the first of the index's name and, where it had a later one that then takes its
// place, that one too while it is the livery's. An untitled section is never the livery's, so a
// gap stays a gap.
Matches RemoveMatchingSections(const char* path, const LiveryMarks& marks,
                               const EntrySections& sections) {
  Matches matches;
  const int listed = profile::NextFreeEntryIndex(path);
  for (const auto& [index, spellings] : sections) {
    const std::string name = profile::EntrySectionName(index);
    std::size_t left = spellings.size();
    bool removedHere = false;
    std::string title;
    while (left > 0) {
      const Kinship kinship = KinshipOf(path, name, marks, title);
      if (kinship == Kinship::kTitleOnly) matches.kept.push_back({index, title});
      if (kinship != Kinship::kLivery) break;
      if (!platform::RemoveProfileSection(name.c_str(), path)) {
        matches.failed = true;
        return matches;
      }
      --left;
      removedHere = true;
    }
    matches.removedAny = matches.removedAny || removedHere;
    if (removedHere && left == 0) matches.emptied.push_back(index);
    if (removedHere && left > 0 && index < listed - 1 &&
        profile::ReadSetting(path, name.c_str(), "title", "").empty()) {
      matches.wouldUnlist = true;
      return matches;
    }
  }
  return matches;
}

// The number of emptied indices below `index`: how far renumbering moves its sections down.
int Shift(const std::vector<int>& emptied, int index) {
  return static_cast<int>(std::lower_bound(emptied.begin(), emptied.end(), index) -
                          emptied.begin());
}

// Renumbers every entry section down by the number of emptied indices below it, in increasing
// order of index, so that each new name is free when it is given: emptied, missing, or already
// renamed. The order of the indices that keep sections, and of the gaps among them, is kept.
bool Renumber(const char* path, const std::vector<int>& emptied, const EntrySections& sections) {
  for (const auto& [index, spellings] : sections) {
    const int shift = Shift(emptied, index);
    if (shift == 0) continue;
    const std::string name = profile::EntrySectionName(index);
    const std::string number = std::to_string(index - shift);
    for (const std::string& spelled : spellings) {
      // Each rename reaches the first section still named `name`: the next one spelled.
      const std::string newName = spelled.substr(0, profile::kEntryNamePrefix.size()) + number;
      if (!platform::RenameProfileSection(name.c_str(), newName.c_str(), path)) return false;
    }
  }
  return true;
}

// One line naming the entries kept for their texture, by the index that each has once the
// removal is done. Only the first few are named, so that the line stays short however many there
// are; control bytes in a title are shown as "?", so that the line stays one line.
std::string KeptEntriesText(const std::vector<KeptEntry>& kept, const std::vector<int>& emptied) {
  constexpr std::size_t kNamed = 5;
  std::string text = "kept " + std::to_string(kept.size()) +
                     (kept.size() == 1 ? " entry" : " entries") +
                     " with this livery's title but another texture or none:";
  for (std::size_t i = 0; i < kept.size() && i < kNamed; ++i) {
    std::string title = kept[i].title;
    std::replace_if(
        title.begin(), title.end(),
        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == '\x7f'; }, '?');
    text += (i == 0 ? " [" : ", [") +
            profile::EntrySectionName(kept[i].index - Shift(emptied, kept[i].index)) + "] \"" +
            title + "\"";
  }
  if (kept.size() > kNamed) text += ", and " + std::to_string(kept.size() - kNamed) + " more";
  return text;
}

}  // namespace

Removal RemoveLiveryEntries(const InstallerPaths& paths) {
  const char* path = paths.configuration.c_str();
  const std::string shown = platform::ShownPath(paths.configuration);
  const LiveryMarks marks = ReadLiveryMarks(paths.livery);
  EntrySections sections;
  if (!ListEntrySections(path, sections)) {
    return {kNotUpdated, shown + ": cannot list its sections", ""};
  }
  const Matches matches = RemoveMatchingSections(path, marks, sections);
  if (matches.failed) return {kNotUpdated, shown + ": cannot remove an entry", ""};
  if (matches.wouldUnlist) {
    return {kNotUpdated,
            shown +
                ": a second section of a removed entry's name has no title and would hide the "
                "entries after it; remove it by hand first",
            ""};
  }
  std::string kept = matches.kept.empty() ? "" : KeptEntriesText(matches.kept, matches.emptied);
  if (!matches.removedAny) {
    return {
        kNothingToDo,
        shown + ": nothing to remove (no entry of this livery)" + (kept.empty() ? "" : "; " + kept),
        ""};
  }
  if (!matches.emptied.empty() &&
      (!ListEntrySections(path, sections) || !Renumber(path, matches.emptied, sections))) {
    return {kNotUpdated, shown + ": cannot renumber the later entries", ""};
  }
  return {kChanged, "", std::move(kept)};
}

}  // namespace installer
