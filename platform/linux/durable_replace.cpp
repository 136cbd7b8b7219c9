// Replacing a file's contents all at once and durably.
#include "platform/linux/durable_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/linux/file_io.h"

namespace platform {

namespace {

std::string Cause(const char* step, int error) {
  return std::string(step) + ": " + std::strerror(error);
}

// Gives the new copy the old file's permission bits and, where allowed, its owner.
void CopyOwnership(int folder, const std::string& name, int copy) {
  struct stat old {};
  if (fstatat(folder, name.c_str(), &old, 0) != 0) return;
  fchmod(copy, old.st_mode & 07777);
  if (geteuid() == 0) (void)!fchown(copy, old.st_uid, old.st_gid);
}

// Writes, flushes and closes the copy; returns an empty string or the cause of the failure.
std::string WriteCopy(int folder, const std::string& name, const std::string& copyName,
                      const std::vector<std::string_view>& pieces) {
  unlinkat(folder, copyName.c_str(), 0);  // a copy left by a killed run
  const int copy =
      openat(folder, copyName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (copy < 0) return Cause("cannot create a new copy in its folder", errno);
  CopyOwnership(folder, name, copy);
  const int error = WritePieces(copy, pieces);
  std::string failure = error != 0 ? Cause("cannot write the new copy", error) : "";
  if (failure.empty() && fsync(copy) != 0) failure = Cause("cannot flush the new copy", errno);
  if (close(copy) != 0 && failure.empty()) failure = Cause("cannot close the new copy", errno);
  return failure;
}

// The name of the copy written beside `name` while it is being replaced. Only a run holding the
// folder's lock writes it, so one name serves; a copy left by a killed run is simply rewritten.
std::string ReplacementName(const std::string& name) {
  return "." + name + ".installing";
}

}  // namespace

std::string ReplaceFileDurably(const std::string& path,
                               const std::vector<std::string_view>& pieces) {
  const DirectoryAndName parts = SplitDirectoryAndName(path);
  const int folder = open(parts.directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return Cause("cannot open its folder", errno);
  const std::string copyName = ReplacementName(parts.name);
  std::string failure = WriteCopy(folder, parts.name, copyName, pieces);
  if (failure.empty() && renameat(folder, copyName.c_str(), folder, parts.name.c_str()) != 0) {
    failure = Cause("cannot put the new copy in place", errno);
  }
  if (!failure.empty()) {
    unlinkat(folder, copyName.c_str(), 0);
  } else if (fsync(folder) != 0) {
    failure = Cause("replaced, but its folder could not be flushed to disk", errno);
  }
  close(folder);
  return failure;
}

}  // namespace platform
