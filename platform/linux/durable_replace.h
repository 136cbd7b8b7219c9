// Replacing a file's contents all at once and durably: a complete new copy is written beside it,
// flushed, renamed over it, and the folder is flushed. A crash at any instant leaves the old file
// or the new one, never a mix; on failure the old file is untouched and the copy is removed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct Replacement {
  std::string failure;   // empty on success, otherwise the cause
  bool inPlace = false;  // the new file was renamed into place (even if the folder flush failed)
};

// Replaces the file `name` of the open folder `folder` (or creates it) with the pieces written
// one after another, keeping its permission bits, its group and, where allowed, its owner. The
// caller holds the folder's lock: the copy's name is fixed, so only one run may write it.
Replacement ReplaceFileDurably(int folder, const std::string& name,
                               const std::vector<std::string_view>& pieces);

}  // namespace platform
