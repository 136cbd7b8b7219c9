// Naming and numbering the entry sections of a configuration file.
#include "profile/entry_numbering.h"

#include <charconv>
#include <climits>

#include "engine/ascii_case.h"
#include "profile/read_setting.h"

namespace profile {

std::string EntrySectionName(int index) {
  // The text of "fltsim.%d" in a 64-byte buffer; to_chars does it without parsing a format, as
  // the numbering forms one name per existing entry on every call.
  char name[64] = "fltsim.";
  constexpr std::size_t kPrefixLength = 7;
  const std::to_chars_result end = std::to_chars(name + kPrefixLength, name + sizeof name, index);
  return std::string(name, end.ptr);
}

int NextFreeEntryIndex(const std::string& configurationPath) {
  // Stops short of INT_MAX so that the index can never overflow, however many entries stand.
  // The titles are only looked at, so they stay in the read's buffer rather than being copied out,
  // one per existing entry (docs/benchmark.md).
  SettingBuffer title;
  int index = 0;
  while (index < INT_MAX && !ReadSettingInto(title, configurationPath.c_str(),
                                             EntrySectionName(index).c_str(), "title", "")
                                 .empty()) {
    ++index;
  }
  return index;
}

std::optional<int> EntryIndexOfName(std::string_view name) {
  if (name.size() <= kEntryNamePrefix.size() ||
      !engine::EqualIgnoringAsciiCase(name.substr(0, kEntryNamePrefix.size()), kEntryNamePrefix)) {
    return std::nullopt;
  }
  int index = 0;
  const char* const end = name.data() + name.size();
  const std::from_chars_result parsed =
      std::from_chars(name.data() + kEntryNamePrefix.size(), end, index);
  // A sign or a leading zero makes a name that EntrySectionName never spells, hence another one.
  if (parsed.ec != std::errc() || parsed.ptr != end || index < 0 ||
      EntrySectionName(index).size() != name.size()) {
    return std::nullopt;
  }
  return index;
}

}  // namespace profile
