// Naming and numbering the entry sections of a configuration file: [fltsim.0], [fltsim.1], ...
// Guarantees: NextFreeEntryIndex returns the first index whose section is missing or has a missing
// or empty "title"; entries after such a gap are not looked at. It scans the file afresh on every
// call, so an entry written earlier in the run is seen. EntryIndexOfName accepts exactly the names
// that the platform takes for EntrySectionName(index), case aside.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace profile {

inline constexpr std::string_view kEntryNamePrefix = "fltsim.";

// kEntryNamePrefix followed by the index in decimal.
std::string EntrySectionName(int index);

int NextFreeEntryIndex(const std::string& configurationPath);

// The index of an entry section's name, or nothing for any other name ("fltsim.07", "fltsim.-1").
std::optional<int> EntryIndexOfName(std::string_view name);

}  // namespace profile
