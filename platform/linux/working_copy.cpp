// The working copy of the configuration file on Linux: a complete new copy written beside the
// file in its locked folder, read back, flushed, swapped with the file, and the folder flushed. A
// crash at any instant leaves the old file or the new one, never a mix. Only a run that holds the
// folder's lock writes the copy, so one name serves; a copy left by a killed run is simply
// rewritten.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "platform/linux/file_io.h"
#include "platform/system_files.h"

namespace platform {

namespace {

std::string NameIn(const std::string& path) {
  return SplitDirectoryAndName(path).name;
}

// Whether a file is still the file read: kSame, kChanged, or the errno of a failed look. With
// kSame, `status` is what the look saw of the file.
struct Comparison {
  static constexpr int kSame = 0;
  static constexpr int kChanged = -1;
  int outcome = kSame;
  struct stat status {};
};

// Whether the file `name` of `folder` is still the file read: the same file, of the same size,
// holding the same bytes. The size and the time of the last change can miss a change made within
// one tick of the clock, so the bytes are compared whenever the size agrees. `held`, when not -1,
// is this run's own descriptor of the file read, read through instead of a new one, as a new open
// would break the run's own lease on it.
Comparison Compare(int folder, const std::string& name, const FileSnapshot& read, int held) {
  struct stat status {};
  if (fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    return {errno == ENOENT ? Comparison::kChanged : errno};
  }
  // A change of mode, owner or attributes meanwhile shows only in the change time.
  if (!S_ISREG(status.st_mode) || IdentityIn(status) != read.identity ||
      static_cast<std::uint64_t>(status.st_size) != read.bytes.size() ||
      (read.changed != 0 && ChangeTimeOf(status) != read.changed)) {
    return {Comparison::kChanged};
  }
  OpenedFile file;
  if (held >= 0 && fstat(held, &file.status) == 0 && lseek(held, 0, SEEK_SET) == 0) {
    file.fd = held;
  } else {
    file = OpenRegularFile(folder, name);
  }
  if (file.fd < 0) return {file.error != 0 ? file.error : EIO};
  bool same = false;
  const int error = HoldsExactly(file.fd, {read.bytes}, same);
  if (file.fd != held) close(file.fd);
  if (error != 0) return {error};
  if (!same || IdentityIn(file.status) != read.identity) return {Comparison::kChanged};
  return {Comparison::kSame, status};
}

// Whether the file `name` of `folder` is the file that `compared` saw, untouched since: the same
// file, size and time of last modification. Only this much stands between the swap and the look;
// the change time cannot serve, as the swap itself sets it.
Comparison Untouched(int folder, const std::string& name, const struct stat& compared) {
  struct stat status {};
  if (fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return {errno};
  const bool same = S_ISREG(status.st_mode) && IdentityIn(status) == IdentityIn(compared) &&
                    status.st_size == compared.st_size &&
                    status.st_mtim.tv_sec == compared.st_mtim.tv_sec &&
                    status.st_mtim.tv_nsec == compared.st_mtim.tv_nsec;
  return {same ? Comparison::kSame : Comparison::kChanged};
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

// Where a save of another program that stood under the name `taken` was kept.
std::string KeptAs(const std::optional<std::string>& kept, const std::string& taken) {
  return kept ? "is beside it as " + *kept
              : "is left as " + taken + ": move it away before the installer runs again";
}

// Puts the file taken out, which stands as `taken`, back under `name`, and the file in its place
// under `copyName`, so that nothing that either holds is lost: in one swap, or, where the file
// system has none (`taken` is then the second name AsideName made), by giving the file in place
// the copy's name too before the file taken out is moved over it. 0, or the errno of the failure,
// and then the file in place has no second name.
int PutBack(int folder, const std::string& taken, const std::string& name,
            const std::string& copyName) {
  if (taken == copyName) {
    return renameat2(folder, taken.c_str(), folder, name.c_str(), RENAME_EXCHANGE) == 0 ? 0 : errno;
  }
  if (linkat(folder, name.c_str(), folder, copyName.c_str(), 0) != 0) return errno;
  if (renameat(folder, taken.c_str(), folder, name.c_str()) == 0) return 0;
  const int error = errno;
  unlinkat(folder, copyName.c_str(), 0);
  return error;
}

// Puts the file taken out back in place of the new copy: another program put it there or wrote
// into it. A save of another program is never deleted with the copy, nor replaced: one made into
// the new copy while it stood in place, or the file taken out when it cannot be put back, is kept
// beside under a name of its own, and the run says so. Where another program deleted the new
// copy meanwhile, the file taken out goes back only where no file has taken the name since.
Replacement SwappedBack(int folder, const std::string& taken, const std::string& copyName,
                        const std::string& name, Comparison comparison, const std::string& target,
                        const std::vector<std::string_view>& confirmed, bool& inPlace) {
  int error = PutBack(folder, taken, name, copyName);
  if (error == 0) {
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
  const bool gone = error == ENOENT;  // another program deleted the new copy
  if (gone) {
    inPlace = false;
    error = MoveWithoutReplacing(folder, taken, name);
    if (error == 0) return NotReplaced(comparison, target);
  }
  const std::optional<std::string> kept = KeptBeside(folder, taken, target);
  const bool copyKept = !kept && taken == copyName;
  if (gone && error == EEXIST) {
    return {{SystemFault::kFailed, target,
             "hold a file that another program put in its place while the installer put back the "
             "one it had taken out, which " +
                 KeptAs(kept, taken)},
            false,
            copyKept};
  }
  return {Failed(target, "put back the file it replaced, which " + KeptAs(kept, taken), error),
          false, copyKept};
}

// Whether the copy's name in `folder` still names the run's own copy, which another program may
// have replaced or removed: nothing else goes in place as the copy. (The name is the installer's
// own, hidden beside the file: what stands under it is deleted with the copy, as the next run
// would delete it.)
bool OwnCopyNamed(int folder, const std::string& copyName, const SystemLock& lock) {
  struct stat named {};
  struct stat own {};
  return fstatat(folder, copyName.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
         fstat(static_cast<int>(lock.copy), &own) == 0 && IdentityIn(named) == IdentityIn(own);
}

// Removes the file, trying twice: a file left beside the configuration file would be in the way.
bool Unlinked(int folder, const std::string& name) {
  return unlinkat(folder, name.c_str(), 0) == 0 || unlinkat(folder, name.c_str(), 0) == 0;
}

// A read lease on the locked file, from before the compare to the end of the replacement (and for a
// moment at the begin, to see whether a program has the file open for writing), through the run's
// descriptor of it that only reads (HoldForReading), which from the begin on holds the file's
// shared byte for reading. The kernel grants one only while
// no program has the file open for writing, and holds back any later open of it for writing, or
// its truncation, until the lease is let go, showing it as a lease break: no write can reach the
// file meanwhile unseen, and a program that opens the old file in the moment of the swap, and
// would write into it after it lost its name, is seen and the file put back first. Programs that
// only read it neither stop nor break the lease. A program that has the file open for writing is
// waited for a moment (about 60 ms); one that keeps it open longer (an editor, or a run of the
// Windows build waiting for this run's lock) makes the run let go of everything and start over,
// as after a change, so that such a run gets in first; the run refuses once its attempts are
// spent. The begin looks for such a program first (OpenForWritingElsewhere), and lets it have its
// turns before the copy is written. A user that does not own the file and may not take leases gets
// no lease, and the replacement goes on without it, as on a file system that has none.
class Lease {
 public:
  explicit Lease(SystemLock& lock, int longestPause = 32)
      : file_(HoldForReading(lock) ? static_cast<int>(lock.file) : -1) {
    // The kernel tells the holder of a lease break with SIGIO, whose default would end the run.
    signal(SIGIO, SIG_IGN);
    Take(longestPause);
  }
  ~Lease() { Release(); }
  Lease(const Lease&) = delete;
  Lease& operator=(const Lease&) = delete;
  // Takes the lease, let go before, again, waiting for programs that have the file open for
  // writing (pauses doubling up to `longestPause` ms, about twice that in all); writerHasItOpen()
  // tells of one that kept it open.
  void Take(int longestPause = 32) {
    writerHasItOpen_ = false;
    for (int pause = 1; file_ >= 0 && !held_; pause *= 2) {
      held_ = fcntl(file_, F_SETLEASE, F_RDLCK) == 0;
      error_ = held_ ? 0 : errno;
      if (held_ || error_ != EAGAIN) break;
      writerHasItOpen_ = pause > longestPause;
      if (writerHasItOpen_) break;
      usleep(static_cast<useconds_t>(pause) * 1000);
    }
  }
  bool held() const { return held_; }
  int error() const { return error_; }  // why the last try to take it failed
  // True when another program kept the file open for writing while the run waited for the lease.
  bool writerHasItOpen() const { return writerHasItOpen_; }
  // True when another program has begun to open the file for writing since the lease was granted.
  bool Broken() const { return held_ && fcntl(file_, F_GETLEASE) == F_UNLCK; }
  // Lets the lease go, so that opens held back meanwhile go on, on the file now in place.
  void Release() {
    if (held_) fcntl(file_, F_SETLEASE, F_UNLCK);
    held_ = false;
  }

 private:
  int file_;
  bool held_ = false;
  bool writerHasItOpen_ = false;
  int error_ = 0;
};

// Whether a failure to give a file a second name says that its file system gives none.
bool GivesNoSecondNames(int error) {
  return error == EPERM || error == EOPNOTSUPP || error == ENOSYS;
}

// Where the file can have no second name, a program whose open for writing came in the moment the
// copy was moved over the file (held back by the lease, or just after the look at it) writes
// into the file replaced, which no longer has a name. The run lets it go, waits for it as for any
// writer, and keeps what it saved beside under a name of its own; the new file stays in place,
// and the run says so.
Replacement KeepSaveIntoReplacedFile(Lease& lease, const SystemLock& lock, const FileSnapshot& read,
                                     const std::string& target) {
  lease.Release();
  lease.Take(512);  // that program is in the middle of a save: it gets about a second
  const std::string stillOpen =
      lease.writerHasItOpen()
          ? "; that program still has the file replaced open, and what it saves there from now on "
            "does not reach this file: save it again in that program once it is closed"
          : "";
  const auto replaced = static_cast<int>(lock.file);
  engine::FileBytes saved;
  struct stat status {};
  int error = lseek(replaced, 0, SEEK_SET) == 0 && fstat(replaced, &status) == 0
                  ? ReadOpenFile(replaced, saved)
                  : errno;
  if (error == 0 && saved.text == read.bytes) {
    if (stillOpen.empty()) return {};
    return {{SystemFault::kFailed, target, "keep another program's save" + stillOpen}, false};
  }
  std::string kept;
  if (error == 0)
    error = WrittenBeside(static_cast<int>(lock.handle), target, saved.text, status, kept);
  if (error != 0) {
    return {{SystemFault::kFailed, target,
             "keep beside it a save that another program made as the new file went in place (" +
                 std::string(std::strerror(error)) +
                 "): that save is lost; save it again in that program"},
            false};
  }
  return {{SystemFault::kFailed, target,
           "hold a save that another program made as the new file went in place, on a file "
           "system that keeps no second name of the file replaced: the save is beside it as " +
               kept + stillOpen},
          false};
}

}  // namespace

bool OpenForWritingElsewhere(SystemLock& lock) {
  // Asked once, without waiting: the caller's turns are the wait, and a lock held for the lease's
  // own wait would keep the byte from the writers whose turn it is.
  return Lease(lock, 0).writerHasItOpen();
}

std::string WorkingCopyPath(const std::string& target) {
  const DirectoryAndName parts = SplitDirectoryAndName(target);
  return parts.directory + "/." + parts.name + std::string(kCopySuffix);
}

SystemResult WriteWorkingCopy(SystemLock& lock, const std::string& copy, const std::string& target,
                              const std::vector<std::string_view>& pieces) {
  const auto folder = static_cast<int>(lock.handle);
  const std::string copyName = NameIn(copy);
  unlinkat(folder, copyName.c_str(), 0);  // a copy left by a killed run
  // Private to its owner until it carries what the file does.
  const int fd =
      openat(folder, copyName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return Failed(target, "create a new copy in its folder", errno);
  // Held, its shared byte locked, until the update ends: once in place, the new file is waited for
  // by every other run, through whatever view of the folder, as the old one was. Its steps go
  // through this descriptor, never through the name, which another program could take.
  lock.copy = fd;
  struct flock range = SharedByte(F_WRLCK);
  if (lock.file >= 0 && fcntl(fd, F_OFD_SETLK, &range) != 0) {
    return Failed(target, "lock the new copy", errno);
  }
  const int error = WritePieces(fd, pieces);
  return error == 0 ? SystemResult{} : Failed(target, "write the new copy", error);
}

SystemResult ReadBackWorkingCopy(const SystemLock& lock, const std::string&,
                                 const std::string& target, engine::FileBytes& bytes) {
  const auto fd = static_cast<int>(lock.copy);
  const int error = lseek(fd, 0, SEEK_SET) == 0 ? ReadOpenFile(fd, bytes) : errno;
  return error == 0 ? SystemResult{} : Failed(target, "read the new copy back", error);
}

SystemResult FlushWorkingCopy(const SystemLock& lock, const std::string&,
                              const std::string& target) {
  if (fsync(static_cast<int>(lock.copy)) == 0) return {};
  return Failed(target, "flush the new copy to disk", errno);
}

SystemResult FlushFolder(const SystemLock& lock, const std::string& target) {
  if (fsync(static_cast<int>(lock.handle)) == 0) return {};
  return Failed(target, "flush its folder to disk, though the new file is in place", errno);
}

Replacement ReplaceIfUnchanged(SystemLock& lock, const std::string& copy, const std::string& target,
                               const FileSnapshot& read,
                               const std::vector<std::string_view>& confirmed, bool& inPlace) {
  const auto folder = static_cast<int>(lock.handle);
  const std::string copyName = NameIn(copy);
  const std::string name = NameIn(target);
  // The whole compare comes before the swap, so that the moment in which another program's save
  // could land unseen is the swap and one look at the file it took out, not a read of the file.
  Lease lease(lock);
  if (lease.writerHasItOpen()) {
    return {{SystemFault::kFailed, target, kWriterOpen}, true};
  }
  const auto compare = [&] {
    Comparison standing = Compare(folder, name, read, static_cast<int>(lock.file));
    if (standing.outcome == Comparison::kSame && lease.Broken()) standing = {Comparison::kChanged};
    return standing;
  };
  Comparison standing = compare();
  if (standing.outcome != Comparison::kSame) return NotReplaced(standing, target);
  // Where the copy is swapped in, the file taken out stands under the copy's name. Where the file
  // system cannot swap two files, it stands under a second name made before the copy is moved
  // over it (AsideName); where the file cannot have one either, nothing keeps it, so the lease,
  // whose breaks could then not be answered, is let go first, and opens that it held back go on
  // while the file still has its name, before a last compare.
  std::string taken = copyName;
  if (!OwnCopyNamed(folder, copyName, lock)) {
    return {{SystemFault::kFailed, target,
             "put the new copy in place: another program replaced or removed it"},
            false};
  }
  if (renameat2(folder, copyName.c_str(), folder, name.c_str(), RENAME_EXCHANGE) != 0) {
    if (errno == ENOENT) return {{}, true};  // another program took the file away
    if (errno != EINVAL && errno != ENOSYS) {
      return {Failed(target, "put the new copy in place", errno), false};
    }
    taken = AsideName(name);
    if (linkat(folder, name.c_str(), folder, taken.c_str(), 0) != 0) {
      const int error = errno;
      if (error == ENOENT) return {{}, true};
      if (error == EEXIST) {
        return {{SystemFault::kFailed, target,
                 "be replaced: a file of the name " + taken + " stands in the way beside it"},
                false};
      }
      if (!GivesNoSecondNames(error))
        return {Failed(target, "give it a second name", error), false};
      taken.clear();
      const bool leased = lease.held();
      lease.Release();
      // Taken again once the programs whose opens it held back have closed the file, so that what
      // they wrote is in the last compare; one that keeps it open is a writer like any other.
      lease.Take();
      if (lease.writerHasItOpen()) return {{SystemFault::kFailed, target, kWriterOpen}, true};
      if (leased && !lease.held()) {
        return {Failed(target, "watch it again for other programs' saves", lease.error()), false};
      }
      if ((standing = compare()).outcome != Comparison::kSame) return NotReplaced(standing, target);
    }
    if (renameat(folder, copyName.c_str(), folder, name.c_str()) != 0) {
      const int error = errno;
      if (!taken.empty()) unlinkat(folder, taken.c_str(), 0);
      return {Failed(target, "put the new copy in place", error), false};
    }
  }
  inPlace = true;
  if (taken.empty()) {
    // A program whose open came after the look at the lease has the old file open for writing
    // once the lease is let go: the lease is refused at once.
    const bool broken = lease.Broken();
    lease.Release();
    lease.Take(0);
    if (!broken && !lease.writerHasItOpen()) return {};
    return KeepSaveIntoReplacedFile(lease, lock, read, target);
  }
  Comparison replaced = Untouched(folder, taken, standing.status);
  if (replaced.outcome == Comparison::kSame && lease.Broken()) replaced = {Comparison::kChanged};
  // Another program removed the file taken out: there is nothing to put back, nor to remove.
  const bool gone = replaced.outcome == ENOENT;
  if (!gone && replaced.outcome != Comparison::kSame) {
    return SwappedBack(folder, taken, copyName, name, replaced, target, confirmed, inPlace);
  }
  if (!gone && !Unlinked(folder, taken)) {
    return {Failed(target, "remove the file it replaced, which stays beside it", errno), false};
  }
  return {};
}

void DiscardWorkingCopy(SystemLock& lock, const std::string& copy) {
  unlinkat(static_cast<int>(lock.handle), NameIn(copy).c_str(), 0);
}

}  // namespace platform
