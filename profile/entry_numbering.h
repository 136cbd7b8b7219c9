// Naming and numbering the entry sections of a configuration file: [fltsim.0], [fltsim.1], ...
// Guarantees: NextFreeEntryIndex returns the first index, from `from` on, whose section is missing
// or has a missing or empty "title"; entries after such a gap are not looked at. It reads the
// titles afresh on every call, so an entry written earlier in the run is seen.
#pragma once

#include <string>

namespace profile {

// "fltsim." followed by the index in decimal.
std::string EntrySectionName(int index);

// A caller that has just titled the entry at the index this returned may go on from the next
// index: every index before it is titled, so the answer is the one a scan from 0 would give.
int NextFreeEntryIndex(const std::string& configurationPath, int from = 0);

}  // namespace profile
