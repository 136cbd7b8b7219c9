// Naming and numbering the entry sections of a configuration file: [fltsim.0], [fltsim.1], ...
// Guarantees: NextFreeEntryIndex returns the first index whose section is missing or has a missing
// or empty "title"; entries after such a gap are not looked at. It scans the file afresh on every
// call, so an entry written earlier in the run is seen.
#pragma once

#include <string>

namespace profile {

// "fltsim." followed by the index in decimal.
std::string EntrySectionName(int index);

int NextFreeEntryIndex(const std::string& configurationPath);

}  // namespace profile
