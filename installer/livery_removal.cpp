// Removing one livery's entries and renumbering the later ones.
#include "installer/livery_removal.h"

#include <algorithm>
#include <map>
#include <vector>

#include "installer/livery_entries.h"
#include "platform/platform.h"
#include "profile/entry_numbering.h"
#include "profile/read_setting.h"

namespace installer {

namespace {

// The sections of each entry index, as their names are spelled, in the file's order.
using EntrySections = std::map<int, std::vector<std::string>>;

// What the platform reads back from a title written as `text`: a read trims the value's ends (the
// text ends in a suffix's last letter, so only its start can change) and holds 1023 characters.
std::string TitleAsRead(const std::string& text) {
  const std::size_t start = std::min(text.find_first_not_of(" \t\r\n\v\f\x1a"), text.size());
  return text.substr(start, profile::kSettingBufferSize - 1);
}

// The titles that the installer writes for the livery, as the platform reads them back.
std::vector<std::string> LiveryTitles(const std::string& liveryPath) {
  const std::string title =
      profile::ReadSetting(liveryPath.c_str(), profile::EntrySectionName(0).c_str(), "title", "");
  std::vector<std::string> titles;
  for (const VariantSuffix& variant : VariantSuffixes) {
    titles.push_back(TitleAsRead(AppendSuffix(title, variant.title)));
  }
  return titles;
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

struct Removal {
  std::vector<int> emptied;  // indices left without a section, in increasing order
  bool removedAny = false;
  bool failed = false;
  // A hidden later section of a removed entry's name, without a title, would stand at its index
  // and cut the list short there: the entries after it would no longer be listed.
  bool wouldUnlist = false;
};

// Removes, at every entry index, listed or behind a gap, the sections that the platform reads as
// one of `titles`: the first of the index's name and, where it had a later one that then takes
// its place, that one too while it matches. An untitled section never matches, so a gap stays a
// gap.
Removal RemoveMatchingSections(const char* path, const std::vector<std::string>& titles,
                               const EntrySections& sections) {
  Removal removal;
  const int listed = profile::NextFreeEntryIndex(path);
  for (const auto& [index, spellings] : sections) {
    const std::string name = profile::EntrySectionName(index);
    std::size_t left = spellings.size();
    bool removedHere = false;
    const auto matches = [&] {
      const std::string title = profile::ReadSetting(path, name.c_str(), "title", "");
      return std::find(titles.begin(), titles.end(), title) != titles.end();
    };
    while (left > 0 && matches()) {
      if (!platform::RemoveProfileSection(name.c_str(), path)) {
        removal.failed = true;
        return removal;
      }
      --left;
      removedHere = true;
    }
    removal.removedAny = removal.removedAny || removedHere;
    if (removedHere && left == 0) removal.emptied.push_back(index);
    if (removedHere && left > 0 && index < listed - 1 &&
        profile::ReadSetting(path, name.c_str(), "title", "").empty()) {
      removal.wouldUnlist = true;
      return removal;
    }
  }
  return removal;
}

// Renumbers every entry section down by the number of emptied indices below it, in increasing
// order of index, so that each new name is free when it is given: emptied, missing, or already
// renamed. The order of the indices that keep sections, and of the gaps among them, is kept.
bool Renumber(const char* path, const std::vector<int>& emptied, const EntrySections& sections) {
  for (const auto& [index, spellings] : sections) {
    const auto shift = std::lower_bound(emptied.begin(), emptied.end(), index) - emptied.begin();
    if (shift == 0) continue;
    const std::string name = profile::EntrySectionName(index);
    const std::string number = std::to_string(index - static_cast<int>(shift));
    for (const std::string& spelled : spellings) {
      // Each rename reaches the first section still named `name`: the next one spelled.
      const std::string newName = spelled.substr(0, profile::kEntryNamePrefix.size()) + number;
      if (!platform::RenameProfileSection(name.c_str(), newName.c_str(), path)) return false;
    }
  }
  return true;
}

}  // namespace

RunStatus RemoveLiveryEntries(const InstallerPaths& paths) {
  const char* path = paths.configuration.c_str();
  const std::vector<std::string> titles = LiveryTitles(paths.livery);
  EntrySections sections;
  if (!ListEntrySections(path, sections)) {
    return Fail(kNotUpdated, paths.configuration + ": cannot list its sections");
  }
  const Removal removal = RemoveMatchingSections(path, titles, sections);
  if (removal.failed) return Fail(kNotUpdated, paths.configuration + ": cannot remove an entry");
  if (removal.wouldUnlist) {
    return Fail(kNotUpdated, paths.configuration +
                                 ": a second section of a removed entry's name has no title and "
                                 "would hide the entries after it; remove it by hand first");
  }
  if (!removal.removedAny) {
    return Fail(kNothingToDo,
                paths.configuration + ": nothing to remove (no entry of this livery)");
  }
  if (removal.emptied.empty()) return kChanged;
  if (!ListEntrySections(path, sections) || !Renumber(path, removal.emptied, sections)) {
    return Fail(kNotUpdated, paths.configuration + ": cannot renumber the later entries");
  }
  return kChanged;
}

}  // namespace installer
