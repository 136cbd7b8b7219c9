// The file that a configuration update replaces, and its lock, on Linux.
//
// The lock belongs to the file, not to the spelling of its path: a link is resolved to the file it
// names first, and the lock is taken on the folder that holds that file, where the new copy is
// written and renamed. A kernel lock (flock) is held by the folder itself, however the folder was
// reached, so every run that would replace the same file waits for the same lock. The lock is
// taken on the folder rather than the file because the commit replaces the file: a lock on the old
// file would not stop a run that opens the new one. A flock dies with its process, so a killed run
// never blocks the next, and it leaves no file behind.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/linux/file_io.h"
#include "platform/system_files.h"

namespace platform {

namespace {

// The file that the commit replaces: the named file, or the file that a symbolic link names, so
// that the link stays a link. Empty for a link to nothing.
std::string ReplacementTarget(const std::string& path) {
  struct stat link {};
  if (lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return path;
  char* const target = realpath(path.c_str(), nullptr);  // any length, unlike a PATH_MAX buffer
  if (target == nullptr) return {};
  std::string resolved(target);
  std::free(target);
  return resolved;
}

}  // namespace

SystemResult ResolveTarget(const std::string& path, std::string& target) {
  const FoundName found = FindFileIgnoringCase(path);
  if (found.match == NameMatch::kAmbiguous) return {SystemFault::kAmbiguousName, path, ""};
  target = ReplacementTarget(found.path);
  if (target.empty()) return {SystemFault::kDanglingLink, found.path, ""};
  return {};
}

SystemResult LockTarget(const std::string& target, SystemLock& lock) {
  const std::string directory = SplitDirectoryAndName(target).directory;
  const int folder = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  int result = folder < 0 ? -1 : 0;
  while (result == 0 && flock(folder, LOCK_EX) != 0) {
    if (errno != EINTR) result = -1;
  }
  if (result != 0) {
    const int error = errno;
    if (folder >= 0) close(folder);
    return {SystemFault::kFailed, directory,
            std::string("lock this folder: ") + std::strerror(error)};
  }
  lock.handle = folder;
  return {};
}

bool LockHolds(const SystemLock& lock, const std::string& target) {
  // The folder may have been moved away while the run waited, and another put in its place.
  struct stat locked {};
  struct stat named {};
  return fstat(static_cast<int>(lock.handle), &locked) == 0 &&
         stat(SplitDirectoryAndName(target).directory.c_str(), &named) == 0 &&
         locked.st_dev == named.st_dev && locked.st_ino == named.st_ino;
}

void ReleaseLock(SystemLock& lock) {
  if (lock.handle >= 0) close(static_cast<int>(lock.handle));  // closing releases the flock
  lock.handle = -1;
}

}  // namespace platform
