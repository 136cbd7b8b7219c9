// Small POSIX file helpers shared by the Linux platform layer: whole-file reads and writes that
// retry interrupted and short transfers, path splitting, and names found regardless of case.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "profile/profile_document.h"

namespace platform {

struct DirectoryAndName {
  std::string directory;  // "." when the path names no directory
  std::string name;
};

DirectoryAndName SplitDirectoryAndName(const std::string& path);

// Reads the open file to its end into `bytes`; returns 0 or the errno of the failure. A regular
// file is mapped rather than copied. Installers wait for each other's lock, but another program
// that shortened a mapped file during a run would kill that run (SIGBUS) when it next looked at
// the lost bytes: always before the run has written anything, so its files stay as they were.
int ReadWholeFile(int fd, profile::FileBytes& bytes);

// Writes all of the pieces, one after another; returns 0 or the errno of the failure.
int WritePieces(int fd, const std::vector<std::string_view>& pieces);

enum class NameMatch { kFound, kNone, kAmbiguous };

struct FoundName {
  NameMatch match = NameMatch::kNone;
  std::string path;  // the file to use: the one match, the exact name among several, or `path`
};

// Finds the file at `path` the way a case-insensitive file system would: the one entry of its
// folder whose name matches regardless of ASCII case; among several, the exact name, else
// kAmbiguous. A folder that cannot be listed is taken to hold the exact name only.
FoundName FindFileIgnoringCase(const std::string& path);

}  // namespace platform
