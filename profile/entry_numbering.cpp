// Naming and numbering the entry sections of a configuration file.
#include "profile/entry_numbering.h"

#include <charconv>
#include <climits>

#include "profile/read_setting.h"

namespace profile {

std::string EntrySectionName(int index) {
  // The text of "fltsim.%d" in a 64-byte buffer; to_chars does it without parsing a format, which
  // matters because the numbering forms one name per existing entry on every call.
  char name[64] = "fltsim.";
  constexpr std::size_t kPrefixLength = 7;
  const std::to_chars_result end = std::to_chars(name + kPrefixLength, name + sizeof name, index);
  return std::string(name, end.ptr);
}

int NextFreeEntryIndex(const std::string& configurationPath, int from) {
  // Stops short of INT_MAX so that the index can never overflow, however many entries stand.
  // The titles are only looked at, so they stay in the read's buffer: copying each out cost a
  // sixth of the numbering's time on large files.
  SettingBuffer title;
  int index = from;
  while (index < INT_MAX && !ReadSettingInto(title, configurationPath.c_str(),
                                             EntrySectionName(index).c_str(), "title", "")
                                 .empty()) {
    ++index;
  }
  return index;
}

}  // namespace profile
