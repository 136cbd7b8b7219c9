// Replacing a file's contents all at once and durably: a complete new copy is written beside it,
// flushed, renamed over it, and the folder is flushed. A crash at any instant leaves the old file
// or the new one, never a mix; on failure the old file is untouched and the copy is removed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Replaces the file at `path` (or creates it) with the pieces written one after another, keeping
// its permission bits and owner. Returns an empty string, or the cause of the failure.
std::string ReplaceFileDurably(const std::string& path,
                               const std::vector<std::string_view>& pieces);

}  // namespace platform
