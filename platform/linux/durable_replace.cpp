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

// Gives the new copy the old file's group (an ordinary member of the group may set it), its owner
// where allowed (root only), and then its permission bits, which a change of owner may clear.
// Returns an empty string or the cause of the failure: a copy that would open the file to more
// users than before is never put in place.
std::string CopyOwnership(const struct stat& old, int copy) {
  const uid_t owner = geteuid() == 0 ? old.st_uid : static_cast<uid_t>(-1);
  (void)!fchown(copy, owner, old.st_gid);  // a refusal leaves the creator's group, as before
  if (fchmod(copy, old.st_mode & 07777) != 0) {
    return Cause("cannot give the new copy the file's permissions", errno);
  }
  return {};
}

// Writes, flushes and closes the copy; returns an empty string or the cause of the failure.
std::string WriteCopy(int folder, const std::string& name, const std::string& copyName,
                      const std::vector<std::string_view>& pieces) {
  struct stat old {};
  const bool replacing = fstatat(folder, name.c_str(), &old, 0) == 0;
  if (!replacing && errno != ENOENT) return Cause("cannot examine it", errno);
  unlinkat(folder, copyName.c_str(), 0);  // a copy left by a killed run
  // A new file gets the usual permissions; a copy of an existing one starts private to its owner
  // until it has the old file's permissions.
  const int copy =
      openat(folder, copyName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
             replacing ? 0600 : 0666);
  if (copy < 0) return Cause("cannot create a new copy in its folder", errno);
  std::string failure = replacing ? CopyOwnership(old, copy) : "";
  const int error = failure.empty() ? WritePieces(copy, pieces) : 0;
  if (error != 0) failure = Cause("cannot write the new copy", error);
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

Replacement ReplaceFileDurably(int folder, const std::string& name,
                               const std::vector<std::string_view>& pieces) {
  const std::string copyName = ReplacementName(name);
  Replacement result{WriteCopy(folder, name, copyName, pieces), false};
  if (result.failure.empty() && renameat(folder, copyName.c_str(), folder, name.c_str()) != 0) {
    result.failure = Cause("cannot put the new copy in place", errno);
  }
  if (!result.failure.empty()) {
    unlinkat(folder, copyName.c_str(), 0);
    return result;
  }
  result.inPlace = true;
  if (fsync(folder) != 0) {
    result.failure = Cause("the new file is in place but could not be flushed to disk", errno);
  }
  return result;
}

}  // namespace platform
