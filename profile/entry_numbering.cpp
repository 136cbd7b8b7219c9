// Naming and numbering the entry sections of a configuration file.
#include "profile/entry_numbering.h"

#include <climits>
#include <cstdio>

#include "profile/read_setting.h"

namespace profile {

std::string EntrySectionName(int index) {
  char name[64];
  std::snprintf(name, sizeof name, "fltsim.%d", index);
  return name;
}

int NextFreeEntryIndex(const std::string& configurationPath) {
  // Stops short of INT_MAX so that the index can never overflow, however many entries stand.
  int index = 0;
  while (index < INT_MAX && !ReadSetting(configurationPath, EntrySectionName(index), "title", "").empty()) {
    ++index;
  }
  return index;
}

}  // namespace profile
