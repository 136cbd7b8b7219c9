// The working copy of the configuration file on Linux: a complete new copy written beside the
// file in its locked folder, flushed, renamed over the file, and the folder flushed. A crash at
// any instant leaves the old file or the new one, never a mix. Only a run that holds the folder's
// lock writes the copy, so one name serves; a copy left by a killed run is simply rewritten.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/linux/file_io.h"
#include "platform/system_files.h"

namespace platform {

namespace {

SystemResult Failed(const std::string& path, const char* step, int error) {
  return {SystemFault::kFailed, path, std::string(step) + ": " + std::strerror(error)};
}

std::string NameIn(const std::string& path) {
  return SplitDirectoryAndName(path).name;
}

// Gives the new copy the old file's group (an ordinary member of the group may set it), its owner
// where allowed (root only), and then its permission bits, which a change of owner may clear. A
// copy that would open the file to more users than before is never put in place.
SystemResult CopyOwnership(const struct stat& old, int copy, const std::string& path) {
  const uid_t owner = geteuid() == 0 ? old.st_uid : static_cast<uid_t>(-1);
  (void)!fchown(copy, owner, old.st_gid);  // a refusal leaves the creator's group, as before
  if (fchmod(copy, old.st_mode & 07777) != 0) {
    return Failed(path, "give the new copy the file's permissions", errno);
  }
  return {};
}

}  // namespace

std::string WorkingCopyPath(const std::string& target) {
  const DirectoryAndName parts = SplitDirectoryAndName(target);
  return parts.directory + "/." + parts.name + ".installing";
}

SystemResult WriteWorkingCopy(const SystemLock& lock, const std::string& copy,
                              const std::string& target,
                              const std::vector<std::string_view>& pieces) {
  const auto folder = static_cast<int>(lock.handle);
  const std::string copyName = NameIn(copy);
  struct stat old {};
  const bool replacing = fstatat(folder, NameIn(target).c_str(), &old, 0) == 0;
  if (!replacing && errno != ENOENT) return Failed(target, "examine it", errno);
  unlinkat(folder, copyName.c_str(), 0);  // a copy left by a killed run
  // A copy of an existing file starts private to its owner until it has the old file's
  // permissions; a new file gets the usual ones.
  const int fd =
      openat(folder, copyName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
             replacing ? 0600 : 0666);
  if (fd < 0) return Failed(target, "create a new copy in its folder", errno);
  SystemResult result = replacing ? CopyOwnership(old, fd, target) : SystemResult{};
  if (const int error = result.ok() ? WritePieces(fd, pieces) : 0; error != 0) {
    result = Failed(target, "write the new copy", error);
  }
  if (result.ok() && fsync(fd) != 0) result = Failed(target, "flush the new copy", errno);
  if (close(fd) != 0 && result.ok()) result = Failed(target, "close the new copy", errno);
  return result;
}

SystemResult ReadBackWorkingCopy(const std::string& copy, std::string& bytes) {
  const OpenedFile file = OpenRegularFile(AT_FDCWD, copy);
  if (file.fd < 0)
    return Failed(copy, "read back the new copy", file.notRegular ? EINVAL : file.error);
  engine::FileBytes read;
  int error = ReadWholeFile(file.fd, read);
  if (error == 0 && fsync(file.fd) != 0) error = errno;
  close(file.fd);
  if (error != 0) return Failed(copy, "read back the new copy", error);
  bytes.assign(read.text);
  return {};
}

Replacement ReplaceWithWorkingCopy(const SystemLock& lock, const std::string& copy,
                                   const std::string& target,
                                   const std::vector<std::string_view>&) {
  const auto folder = static_cast<int>(lock.handle);
  if (renameat(folder, NameIn(copy).c_str(), folder, NameIn(target).c_str()) != 0) {
    return {Failed(target, "put the new copy in place", errno), false};
  }
  if (fsync(folder) != 0) {
    return {Failed(target, "flush its folder to disk, though the new file is in place", errno),
            true};
  }
  return {{}, true};
}

void DiscardWorkingCopy(const SystemLock& lock, const std::string& copy) {
  unlinkat(static_cast<int>(lock.handle), NameIn(copy).c_str(), 0);
}

}  // namespace platform
