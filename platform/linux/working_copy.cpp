// The working copy of the configuration file on Linux: a complete new copy written beside the
// file in its locked folder, flushed, renamed over the file, and the folder flushed. A crash at
// any instant leaves the old file or the new one, never a mix. Only a run that holds the folder's
// lock writes the copy, so one name serves; a copy left by a killed run is simply rewritten.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "platform/linux/file_io.h"
#include "platform/system_files.h"

namespace platform {

namespace {

SystemResult Failed(const std::string& path, const std::string& step, int error) {
  return {SystemFault::kFailed, path, step + ": " + std::strerror(error)};
}

std::string NameIn(const std::string& path) {
  return SplitDirectoryAndName(path).name;
}

// Gives the new copy the old file's group (an ordinary member of the group may set it), its owner
// where allowed (root only), and then its permission bits, which a change of owner may clear. A
// copy that would open the file to more users than before, or close it to some, is never put in
// place: one that cannot have the old group may stand only where the group's permission bits
// are those of other users, so that being in either group makes no difference.
SystemResult CopyOwnership(const struct stat& old, int copy, const std::string& path) {
  const uid_t owner = geteuid() == 0 ? old.st_uid : static_cast<uid_t>(-1);
  struct stat made {};
  if (fchown(copy, owner, old.st_gid) != 0 && fstat(copy, &made) == 0 &&
      made.st_gid != old.st_gid && (((old.st_mode >> 3) ^ old.st_mode) & 07) != 0) {
    return {SystemFault::kFailed, path,
            "keep its group (" + std::to_string(old.st_gid) +
                "), of which this user is not a member, and the group's permissions differ from "
                "those of other users"};
  }
  if (fchmod(copy, old.st_mode & 07777) != 0) {
    return Failed(path, "give the new copy the file's permissions", errno);
  }
  return {};
}

// Whether a file is still the file read: kSame, kChanged, or the errno of a failed look.
struct Comparison {
  static constexpr int kSame = 0;
  static constexpr int kChanged = -1;
  int outcome = kSame;
};

// Whether the file `name` of `folder` is still the file read: the same file, of the same size,
// holding the same bytes. The size and the time of the last change can miss a change made within
// one tick of the clock, so the bytes are compared whenever the size agrees.
Comparison Compare(int folder, const std::string& name, const FileSnapshot& read) {
  struct stat status {};
  if (fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    return {errno == ENOENT ? Comparison::kChanged : errno};
  }
  if (!S_ISREG(status.st_mode) || IdentityOf(status) != read.identity ||
      static_cast<std::uint64_t>(status.st_size) != read.bytes.size()) {
    return {Comparison::kChanged};
  }
  const OpenedFile file = OpenRegularFile(folder, name);
  if (file.fd < 0) return {file.error != 0 ? file.error : EIO};
  bool same = false;
  const int error = HoldsExactly(file.fd, {read.bytes}, same);
  close(file.fd);
  if (error != 0) return {error};
  return {same && IdentityOf(file.status) == read.identity ? Comparison::kSame
                                                           : Comparison::kChanged};
}

// What the replacement says when a comparison found the file not to be the one read.
Replacement NotReplaced(Comparison comparison, const std::string& target) {
  if (comparison.outcome == Comparison::kChanged) return {{}, true};
  return {
      Failed(target, "read it again to see that no other program changed it", comparison.outcome),
      false};
}

// Whether the file `name` of `folder` holds exactly the pieces.
bool HoldsAt(int folder, const std::string& name, const std::vector<std::string_view>& pieces) {
  const OpenedFile file = OpenRegularFile(folder, name);
  if (file.fd < 0) return false;
  bool same = false;
  const int error = HoldsExactly(file.fd, pieces, same);
  close(file.fd);
  return error == 0 && same;
}

// Moves the file `name` of `folder` out of the way of every later run, under a name of its own
// beside it, which no other file has: the first number that no file of the folder takes. That
// name, or nothing when the file could not be moved, and then stays where it is.
std::optional<std::string> KeptBeside(int folder, const std::string& name,
                                      const std::string& target) {
  const std::string base = NameIn(target) + ".saved-meanwhile";
  for (unsigned long number = 1;; ++number) {
    const std::string kept = number == 1 ? base : base + "-" + std::to_string(number);
    if (renameat2(folder, name.c_str(), folder, kept.c_str(), RENAME_NOREPLACE) == 0) return kept;
    if (errno != EEXIST) return std::nullopt;
  }
}

// Where a save of another program that stands under the name `copyName` was kept.
std::string KeptAs(const std::optional<std::string>& kept, const std::string& copyName) {
  return kept ? "is beside it as " + *kept
              : "is left as " + copyName + ": move it away before the installer runs again";
}

// Swaps the file taken out back in place of the new copy: another program put it there. A save
// of another program is never deleted with the copy: one made into the new copy while it stood
// in place, or the file taken out when it cannot be put back, is kept beside under a name of its
// own, and the run says so.
Replacement SwappedBack(int folder, const std::string& copyName, const std::string& name,
                        Comparison comparison, const std::string& target,
                        const std::vector<std::string_view>& confirmed, bool& inPlace) {
  if (renameat2(folder, copyName.c_str(), folder, name.c_str(), RENAME_EXCHANGE) == 0) {
    inPlace = false;
    if (HoldsAt(folder, copyName, confirmed)) return NotReplaced(comparison, target);
    const std::optional<std::string> kept = KeptBeside(folder, copyName, target);
    return {{SystemFault::kFailed, target,
             "hold two saves that other programs made while the installer worked on it: the "
             "earlier is in it, the later " +
                 KeptAs(kept, copyName)},
            false,
            !kept};
  }
  if (renameat(folder, copyName.c_str(), folder, name.c_str()) == 0) {
    inPlace = false;
    return NotReplaced(comparison, target);
  }
  const int error = errno;
  const std::optional<std::string> kept = KeptBeside(folder, copyName, target);
  return {Failed(target, "put back the file it replaced, which " + KeptAs(kept, copyName), error),
          false, !kept};
}

// Removes the file, trying twice: a file left beside the configuration file would be in the way.
bool Unlinked(int folder, const std::string& name) {
  return unlinkat(folder, name.c_str(), 0) == 0 || unlinkat(folder, name.c_str(), 0) == 0;
}

Replacement Flushed(int folder, const std::string& target) {
  if (fsync(folder) != 0) {
    return {Failed(target, "flush its folder to disk, though the new file is in place", errno),
            false};
  }
  return {};
}

}  // namespace

std::string WorkingCopyPath(const std::string& target) {
  const DirectoryAndName parts = SplitDirectoryAndName(target);
  return parts.directory + "/." + parts.name + std::string(kCopySuffix);
}

SystemResult WriteWorkingCopy(SystemLock& lock, const std::string& copy, const std::string& target,
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

Replacement ReplaceIfUnchanged(SystemLock& lock, const std::string& copy, const std::string& target,
                               const FileSnapshot& read,
                               const std::vector<std::string_view>& confirmed, bool& inPlace) {
  const auto folder = static_cast<int>(lock.handle);
  const std::string copyName = NameIn(copy);
  const std::string name = NameIn(target);
  if (renameat2(folder, copyName.c_str(), folder, name.c_str(), RENAME_EXCHANGE) != 0) {
    if (errno == ENOENT) return {{}, true};  // another program took the file away
    // A file system that cannot swap two files: look, then move, which leaves a moment between.
    if (errno != EINVAL && errno != ENOSYS) {
      return {Failed(target, "put the new copy in place", errno), false};
    }
    const Comparison standing = Compare(folder, name, read);
    if (standing.outcome != Comparison::kSame) return NotReplaced(standing, target);
    if (renameat(folder, copyName.c_str(), folder, name.c_str()) != 0) {
      return {Failed(target, "put the new copy in place", errno), false};
    }
    inPlace = true;
    return Flushed(folder, target);
  }
  // The new copy is in place; the file that stood there stands under the copy's name.
  inPlace = true;
  if (const Comparison replaced = Compare(folder, copyName, read);
      replaced.outcome != Comparison::kSame) {
    return SwappedBack(folder, copyName, name, replaced, target, confirmed, inPlace);
  }
  if (!Unlinked(folder, copyName)) {
    return {Failed(target, "remove the file it replaced, which stays beside it", errno), false};
  }
  return Flushed(folder, target);
}

void DiscardWorkingCopy(SystemLock& lock, const std::string& copy) {
  unlinkat(static_cast<int>(lock.handle), NameIn(copy).c_str(), 0);
}

}  // namespace platform
