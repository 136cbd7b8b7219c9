// The file that a configuration update replaces, and its lock, on Linux.
//
// Two locks, taken in this order. The first serializes the native runs: a kernel lock (flock) on
// the folder that holds the file the path finally names, where the new copy is written and
// renamed. It belongs to the folder however the folder was reached, so every native run that
// would replace the same file waits for it; it is taken on the folder rather than the file because
// the commit replaces the file, and a lock on the old file would not stop a run that opens the new
// one. The second lets the two builds wait for each other: a lock of one byte of the file itself
// (kSharedLockOffset), which the Windows build takes through Wine too. A run that waited for it
// may find the file replaced meanwhile, and then starts over (LockHolds). Both locks die with their
// process, so a killed run never blocks the next, and they leave no file behind.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
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

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Waits for the lock of the shared byte of the file `name` of `folder`; returns the descriptor that
// holds it, or -1 when there is no such lock to take: the file cannot be opened for writing (it is
// missing, read-only or not a regular file, which the run then refuses) or its file system keeps
// no such locks. The lock is taken for writing, so that it waits for every other run's, of either
// build, however the file was reached: through another view of the folder (a FUSE mount that
// forwards locks), the folder's lock may not be the same lock. The begin then holds it for reading
// (HoldForReading), which still excludes every other run's lock, all of them taken for writing.
int HoldFile(int folder, const std::string& name) {
  // A lock for writing needs a descriptor open for writing. It is opened through one that only
  // reads, once that is found to be a regular file with write permission, so that the open
  // neither waits on a FIFO nor touches a file that the run will refuse; the second open then
  // waits, as it must, while a program that holds a lease on the file lets it go.
  const OpenedFile reader = OpenRegularFile(folder, name);
  if (reader.fd < 0) return -1;
  int file = -1;
  if ((reader.status.st_mode & 0222) != 0) {
    file = open(("/proc/self/fd/" + std::to_string(reader.fd)).c_str(), O_RDWR | O_CLOEXEC);
    if (file < 0 && errno == ENOENT) {  // no /proc: the name, without waiting
      file = openat(folder, name.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW);
    }
  }
  close(reader.fd);
  if (file < 0) return -1;
  struct flock range = SharedByte(F_WRLCK);
  while (fcntl(file, F_OFD_SETLKW, &range) != 0) {
    if (errno != EINTR) {
      close(file);
      return -1;
    }
  }
  return file;
}

// Removes what a killed run may have left beside the file `name` of `folder` that would stand in
// the way: a second name of the file itself, under the copy's name or under AsideName, would make
// the file look shared by two names. A file of its own under AsideName is the file a run took out
// of place, and may hold another program's save: it is kept beside, never deleted.
void ClearLeftovers(int folder, const std::string& name) {
  struct stat file {};
  if (fstatat(folder, name.c_str(), &file, AT_SYMLINK_NOFOLLOW) != 0) return;
  const std::string copy = SplitDirectoryAndName(WorkingCopyPath(name)).name;
  for (const std::string& left : {copy, AsideName(name)}) {
    struct stat status {};
    if (fstatat(folder, left.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (SameFile(status, file)) {
      unlinkat(folder, left.c_str(), 0);
    } else if (left != copy && S_ISREG(status.st_mode)) {
      KeptBeside(folder, left, name);
    }
  }
}

// A Windows run's move takes milliseconds; a lock of the copy's byte held for longer is not one.
constexpr int kLongestMoveMilliseconds = 10000;

enum class CopyMove { kNone, kEnded, kNotEnding };

// Whether a run of the Windows build is moving its working copy over the file `name` of `folder`.
// The platform moves a file only over one that no program holds, so that run lets go of the
// file's shared byte for the move, and it holds the copy's own shared byte from before it lets go
// until the move is done. Then `held`, this run's lock of the file's shared byte, is let go, so
// that the move never waits for this run, and the run waits for the move to end. A copy that a
// killed run left holds no lock, and is not waited for; nor is a link of the copy's name, or
// another name of the file itself, whose lock is this run's own.
CopyMove WaitForMoveOfWindowsCopy(int folder, const std::string& name, std::intptr_t& held) {
  const std::string copyName = name + std::string(kCopySuffix);
  struct stat status {};
  struct stat file {};
  if (fstatat(folder, copyName.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(status.st_mode) || fstat(static_cast<int>(held), &file) != 0 ||
      SameFile(status, file)) {
    return CopyMove::kNone;
  }
  const OpenedFile copy = OpenRegularFile(folder, copyName);
  if (copy.fd < 0 || !SameFile(copy.status, status)) {
    if (copy.fd >= 0) close(copy.fd);
    return CopyMove::kNone;
  }
  struct flock range = SharedByte(F_RDLCK);
  struct flock probe = range;
  CopyMove move = CopyMove::kNone;
  if (fcntl(copy.fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK) {
    close(static_cast<int>(held));
    held = -1;
    move = CopyMove::kNotEnding;
    for (int waited = 0, pause = 5; waited < kLongestMoveMilliseconds;
         waited += pause, pause = std::min(2 * pause, 200)) {
      if (fcntl(copy.fd, F_OFD_SETLK, &range) == 0) {
        move = CopyMove::kEnded;
        break;
      }
      usleep(static_cast<useconds_t>(pause) * 1000);
    }
  }
  close(copy.fd);
  return move;
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
    return Failed(directory, "lock this folder", error);
  }
  lock.handle = folder;
  const std::string name = SplitDirectoryAndName(target).name;
  lock.file = HoldFile(folder, name);
  for (CopyMove move = CopyMove::kNone;
       lock.file >= 0 &&
       (move = WaitForMoveOfWindowsCopy(folder, name, lock.file)) != CopyMove::kNone;) {
    if (move == CopyMove::kNotEnding) {
      ReleaseLock(lock);
      return {SystemFault::kFailed, target,
              "lock it: a program holds its copy beside it, " + name + std::string(kCopySuffix) +
                  ", locked for longer than the Windows build moves one (a copy that no run is "
                  "moving may be deleted)"};
    }
    lock.file = HoldFile(folder, name);
  }
  // With the file's byte held, no run through any view of the folder is in the middle of
  // replacing the file: what stands beside it was left by a killed run.
  ClearLeftovers(folder, name);
  return {};
}

bool HoldForReading(SystemLock& lock) {
  if (lock.file < 0) return false;
  const int held = static_cast<int>(lock.file);
  const int reader = open(("/proc/self/fd/" + std::to_string(held)).c_str(), O_RDONLY | O_CLOEXEC);
  if (reader < 0) return false;
  // The lock becomes one for reading in one step, and the new descriptor's joins it before the
  // old goes: the byte is never unlocked, and no lock for writing can be had meanwhile.
  struct flock range = SharedByte(F_RDLCK);
  if (fcntl(held, F_OFD_SETLK, &range) != 0 || fcntl(reader, F_OFD_SETLK, &range) != 0) {
    close(reader);
    return false;
  }
  // A close that failed may have left the descriptor that writes open, which would keep the lease
  // from being granted, make the run take itself for another program, and hold the byte against
  // its own next lock: while it is open, it stays the lock's, to be closed again.
  const bool leftOpen = close(held) != 0 && fcntl(held, F_GETFD) != -1;
  if (leftOpen) close(reader);
  lock.file = leftOpen ? held : reader;
  return !leftOpen;
}

bool LockHolds(const SystemLock& lock, const std::string& target) {
  // The folder may have been moved away while the run waited, and another put in its place; the
  // file may have been replaced.
  struct stat locked {};
  struct stat named {};
  if (fstat(static_cast<int>(lock.handle), &locked) != 0 ||
      stat(SplitDirectoryAndName(target).directory.c_str(), &named) != 0 ||
      !SameFile(locked, named)) {
    return false;
  }
  return lock.file < 0 || (fstat(static_cast<int>(lock.file), &locked) == 0 &&
                           stat(target.c_str(), &named) == 0 && SameFile(locked, named));
}

FileIdentity HeldFileIdentity(const SystemLock& lock) {
  // The file last told of stays open, to read only, until another is: a file system may give a
  // freed identity to the next new file, which would then pass for the one told of before.
  static int told = -1;
  struct stat status {};
  struct stat before {};
  if (lock.file < 0 || fstat(static_cast<int>(lock.file), &status) != 0) return {};
  if (told < 0 || fstat(told, &before) != 0 || !SameFile(before, status)) {
    if (told >= 0) close(told);
    told = open(("/proc/self/fd/" + std::to_string(lock.file)).c_str(),
                O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  }
  return IdentityIn(status);
}

void ReleaseLock(SystemLock& lock) {
  // Closing releases the locks.
  if (lock.file >= 0) close(static_cast<int>(lock.file));
  if (lock.copy >= 0) close(static_cast<int>(lock.copy));
  if (lock.handle >= 0) close(static_cast<int>(lock.handle));
  lock.file = -1;
  lock.copy = -1;
  lock.handle = -1;
}

}  // namespace platform
