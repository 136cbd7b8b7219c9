// Small POSIX file helpers shared by the Linux platform layer: whole-file reads and writes that
// retry interrupted and short transfers, path splitting, names found regardless of case, and the
// one way a failed step is said.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/profile_document.h"
#include "platform/system_files.h"

namespace platform {

struct DirectoryAndName {
  std::string directory;  // "." when the path names no directory
  std::string name;
};

DirectoryAndName SplitDirectoryAndName(const std::string& path);

struct OpenedFile {
  int fd = -1;              // a descriptor of a regular file opened for reading, or -1
  struct stat status {};    // with fd: what fstat says of it
  int error = 0;            // with fd -1: the errno of the failure, ENOENT for a missing file
  bool notRegular = false;  // with fd -1: the path names a FIFO, socket, device or directory
};

// The failure of `step` on `subject`, the file the user knows, in the system's words for `error`:
// "aircraft.cfg: cannot <step>: <why>".
SystemResult Failed(const std::string& subject, const std::string& step, int error);

// What the file of `status` is: its device and inode.
FileIdentity IdentityIn(const struct stat& status);

// When the file of `status` or what it carries last changed (its ctime), in nanoseconds.
std::int64_t ChangeTimeOf(const struct stat& status);

// Opens the regular file `name` of `folder` (a descriptor, or AT_FDCWD for a path) for reading,
// without ever waiting: a FIFO or a device is refused by its type, and opened, if at all, only
// with O_NONBLOCK, so that no open blocks and no run hangs holding its lock.
OpenedFile OpenRegularFile(int folder, const std::string& name);

// Reads the open file to its end into `bytes`, a copy of its own; returns 0 or the errno of the
// failure.
int ReadOpenFile(int fd, engine::FileBytes& bytes);

// Writes all of the pieces, one after another; returns 0 or the errno of the failure.
int WritePieces(int fd, const std::vector<std::string_view>& pieces);

// Reads the open file from where it stands to its end and sets `same` when it holds exactly the
// pieces, one after another, without holding the file in memory; returns 0 or the errno of the
// failure.
int HoldsExactly(int fd, const std::vector<std::string_view>& pieces, bool& same);

// The second name that a run gives the file `name` it replaces, where the file system cannot swap
// two files, until it has looked at the file taken out; one that a killed run left is removed
// once the folder is locked.
std::string AsideName(const std::string& name);

// Moves the file `from` of `folder` to `to`, only where no file has that name; 0, or the errno of
// the failure (EEXIST where one has). A file system without a move that replaces nothing gets a
// second name made, which fails where the name is taken, and the first removed.
int MoveWithoutReplacing(int folder, const std::string& from, const std::string& to);

// Moves the file `name` of `folder` out of the way of every later run, under a name of its own
// beside the file `target` (a name in that folder): the first of `target`.saved-meanwhile,
// -2, -3 and on that no file of the folder takes. That name, or nothing when the file could not
// be moved, and then stays where it is.
std::optional<std::string> KeptBeside(int folder, const std::string& name,
                                      const std::string& target);

// Writes `bytes` into a new file, flushed, under the first of those names that no file takes,
// which no run deletes: private to the run until it has the owner of `like` and then its
// permission bits (it stays private where the run cannot give that owner). 0 and the name in
// `kept`, or the errno of the failure, and then no such file is left.
int WrittenBeside(int folder, const std::string& target, std::string_view bytes,
                  const struct stat& like, std::string& kept);

// Trades the run's descriptor of the locked file (`lock.file`), which may write, for one that only
// reads, the file's shared byte locked throughout (for reading from then on, which still excludes
// every other run's lock): a descriptor of the run's own that may write would keep the kernel from
// granting it a read lease. False, with nothing changed, where that cannot be done.
bool HoldForReading(SystemLock& lock);

// The shared byte (kSharedLockOffset), for a lock of `type`.
struct flock SharedByte(short type);

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
