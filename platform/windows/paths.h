// The paths that the platform hands back. Where a name has a character that the active code page
// cannot represent, the platform's 8-bit path functions give a look-alike instead ("best fit": Ł
// as L) or "?", and that spelling may name another file. So an 8-bit path that the platform hands
// back is used only when it converts back to exactly the wide path.
#pragma once

#include <windows.h>

#include <string>

#include "platform/system_files.h"

namespace platform {

// True when the 8-bit `path`, read in the active code page, is exactly `wide`.
bool SpellsExactly(const std::string& path, const std::wstring& wide);

// The wide path of the 8-bit `path`, read in the active code page; empty when it cannot be read.
std::wstring WidePath(const std::string& path);

// The full path of `path`, only when its 8-bit spelling is exact.
SystemResult FullPath(const std::string& path, std::string& fullPath);

// The path of the file that `fullPath` finally names, through links and junctions, without the
// "\\?\" prefix: `fullPath` itself for a file that does not exist yet, and for a file that is no
// link where the platform cannot name files by their handles on its drive. A link to nothing is a
// failure, and so is a final path that does not fit the platform's buffers or whose 8-bit spelling
// is not exact.
SystemResult FinalPath(const std::string& fullPath, std::string& finalPath);

// The folder of the file at `path`, spelled through the file's own path, which the system folds
// lexically: a file at the root of a drive has the root for its folder, not the drive's current
// folder.
std::string FolderOf(const std::string& path);

}  // namespace platform
