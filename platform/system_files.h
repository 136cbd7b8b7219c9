// What each system gives the configuration update (config_update.h) and the run's profile files
// (run_files.h): the file's identity and its lock, whole-file reads, the working copy's write,
// read-back and flush, what the file carries, the replacement, the folder's flush and the discard.
// platform/linux and platform/windows each implement every function declared here, to the one
// contract written above it; a note says where the two systems differ in how. The protocol that
// uses them, its decisions (the size bound, the refusal of a file with several names), its checks
// and its messages are written once, above them. No function here waits on a file that is not a
// regular file. A failure names the file the user knows (aircraft.cfg, livery.ini), the step that
// failed, and the system's own words for why.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/profile_document.h"

namespace platform {

// Why a step failed; the update words each one, once, in this order.
enum class SystemFault {
  kNone,
  kAmbiguousName,  // several files match the name in all but case, and none is the exact name
  kDanglingLink,   // a link to a file that does not exist
  kPathTooLong,    // the path does not fit the platform's buffers
  kNotInCodePage,  // the path holds characters that the 8-bit code page cannot represent
  kMissing,        // there is no such file (`detail`: its name)
  kTooLarge,       // larger than the largest file the run takes (`most`)
  kNotRegular,     // a directory, FIFO, socket or device
  kReadOnly,       // no write permission bit, or the read-only attribute
  kMayNotWrite,    // writable, but not by this user
  kReadOnlyMount,  // on a file system mounted read-only
  kCannotKeep,     // a new file could not carry what the file does (`detail`: what, and why)
  kHeld,           // another program held it for longer than the run may wait
  kFailed,         // any other failure of the step named in `detail`, in the system's words
};

struct SystemResult {
  SystemFault fault = SystemFault::kNone;
  std::string subject;  // the file or folder that the failure is about
  std::string detail;
  bool ok() const { return fault == SystemFault::kNone; }
};

// What a file is, however its path is spelled: its device and inode, or its volume and file index.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  bool operator==(const FileIdentity&) const = default;
};

// A file as the run read it.
struct FileSnapshot {
  FileIdentity identity;
  std::string_view bytes;
  std::int64_t changed = 0;  // when the file or what it carries last changed, where known
};

// The byte of the configuration file that every run of either build locks, so that the two
// builds wait for each other: far beyond the end of any such file, where the platform's mandatory
// byte-range locks stop no reader. Wine keeps a byte-range lock as a record lock of the file that
// the native build's own lock of the same byte conflicts with, and the reverse.
inline constexpr std::uint64_t kSharedLockOffset = std::uint64_t{1} << 62;

// What the working copy's name adds to the configuration file's. The Windows build's copy is the
// file's name and this beside it; a run of the Windows build holds the copy's kSharedLockOffset
// while it moves the copy over the file, which the native build waits for.
inline constexpr std::string_view kCopySuffix = ".installing";

// A held lock: the system's handles (-1 for none), and what the lock was taken for. `handle`
// serializes the runs of one build on the folder; `file` holds the configuration file itself open
// with kSharedLockOffset locked, where the file could be opened so; `copy` holds the working copy
// open from its creation. Linux: to the end of the update, with kSharedLockOffset locked where the
// file system keeps such locks, so that the new file in place is waited for as the old one was;
// every step on the copy goes through it. Windows: to the end of the update, so that no other
// program can open it in a way that would stop the run's own steps on it; for the move, a handle
// shared for being moved takes its place, with kSharedLockOffset locked.
struct SystemLock {
  std::intptr_t handle = -1;
  std::intptr_t file = -1;
  std::intptr_t copy = -1;
  std::string key;
};

// True where the system has profile functions of its own, which then make a kValueWrites edit.
bool HasProfileFunctions();

// The file that an update of `path` replaces: the file that the path finally names, through links
// (so that a link stays a link), found regardless of case where the system's names are not.
SystemResult ResolveTarget(const std::string& path, std::string& target);

// Waits for the lock of `target`, which every run of either build that would replace the same file
// waits for, however its path is spelled. A lock dies with its process.
SystemResult LockTarget(const std::string& target, SystemLock& lock);

// True when `target` still leads to what `lock` was taken for.
bool LockHolds(const SystemLock& lock, const std::string& target);

void ReleaseLock(SystemLock& lock);

// True when another program has the locked file open for writing, which would keep the
// replacement from being made for now; asked once, without waiting. Linux: as a read lease that the
// kernel refuses. Windows: never, as the lock's own hold of the file denies others writing it.
bool OpenForWritingElsewhere(SystemLock& lock);

// Which file the lock holds (its identity), so that a run can tell a file put in place meanwhile;
// nothing (all zero) where it holds none or the system cannot tell.
FileIdentity HeldFileIdentity(const SystemLock& lock);

// Reads the file `target` of the locked folder whole, after checking that it may be replaced: an
// existing regular file of at most `most` bytes that this user may write. `identity` says which
// file was read.
SystemResult ReadReplaceableFile(const SystemLock& lock, const std::string& target,
                                 std::uint64_t most, engine::FileBytes& bytes,
                                 FileIdentity& identity);

// What a file carries besides its bytes, which the file that replaces it must carry too, so that
// it is the same file to everyone: its names (hard links), owner, group and permission bits, and
// what else the system keeps with it (the extended attributes, the access ACL among them, on
// Linux; the attributes and the security descriptor on Windows).
struct CarriedTraits {
  std::uint64_t names = 1;
  std::uint32_t owner = 0;
  std::uint32_t group = 0;
  std::uint32_t mode = 0;    // the permission and set-ID bits; the file attributes on Windows
  std::int64_t changed = 0;  // the time of its last change, in nanoseconds, where the system has it
  std::vector<std::pair<std::string, std::string>> named;  // each further trait, by its name
};

// Reads what the file `target` of the locked folder, read as `identity`, carries, none of it
// larger than `most` bytes, and refuses, with kCannotKeep, what this run could not give a new file.
// Linux: an owner or a group this user cannot give. Windows: an owner this user cannot give,
// encryption or compression.
SystemResult ReadCarriedTraits(const SystemLock& lock, const std::string& target,
                               const FileIdentity& identity, std::uint64_t most,
                               CarriedTraits& traits);

// Gives the completed working copy what the file carries.
SystemResult GiveCarriedTraits(const SystemLock& lock, const std::string& copy,
                               const std::string& target, const CarriedTraits& traits);

// Whether the working copy carries what the file does, as far as this user can give it; where it
// does not, a kCannotKeep that names what would be lost.
SystemResult CopyCarries(const SystemLock& lock, const std::string& copy, const std::string& target,
                         const CarriedTraits& traits);

// Reads the regular file at `path` whole, of at most `most` bytes, for a profile file that the run
// only reads. Linux: the name is found regardless of case.
SystemResult ReadProfileFile(const std::string& path, std::uint64_t most, engine::FileBytes& bytes);

// Where the working copy of `target` is written: beside it, in the same folder.
std::string WorkingCopyPath(const std::string& target);

// Creates the working copy afresh, replacing one that a killed run left, and writes the pieces
// into it one after another. It is nothing to other programs until it is put in place.
// Linux: private to this user until it is given what the file carries. Windows: plain (neither
// hidden, system nor read-only), and held open by the run until it is moved or deleted, as the
// platform's profile functions may write it meanwhile.
SystemResult WriteWorkingCopy(SystemLock& lock, const std::string& copy, const std::string& target,
                              const std::vector<std::string_view>& pieces);

// Reads the working copy back whole, as it stands, so that the protocol knows what it holds: a
// write that was reported as done, or made by the platform's profile functions, is checked.
SystemResult ReadBackWorkingCopy(const SystemLock& lock, const std::string& copy,
                                 const std::string& target, engine::FileBytes& bytes);

// Makes the working copy, its bytes and what it was given, durable on disk.
SystemResult FlushWorkingCopy(const SystemLock& lock, const std::string& copy,
                              const std::string& target);

// Where the system's profile functions may hold a file of their own, makes them let it go, so that
// they neither serve it from memory nor write it out again later.
void ForgetProfileCache(const std::string& path);

// Why a file cannot be replaced while another program has it open for writing.
inline constexpr const char* kWriterOpen =
    "be replaced: another program has it open for writing; close it and run again";

struct Replacement {
  SystemResult result;
  // `target` was no longer the file read, or, as `result` says, another program kept it from
  // being replaced for now; nothing was replaced, and the run may start over.
  bool changed = false;
  bool copyKept = false;  // the working copy's name holds another program's save: it stays
};

// Puts the flushed working copy in place of `target` in one step, but only while `target` is still
// the file `read`: the same file, holding the same bytes, and, where the system keeps the time,
// unchanged in what it carries. `confirmed` is what the copy holds, piece after piece. `inPlace`
// says, from the moment it becomes true and whatever happens after, whether the copy stands in
// place of `target`.
// Linux: the file is compared under a read lease, then swapped with the copy in one step and the
// file taken out looked at only as much as needed to know that nothing touched it since the
// compare; anything that did is put back at once, and another program's save is never deleted
// (kept beside where it cannot go back). A file system that cannot swap gets the old file a second
// name for as long; one that cannot give a second name either gets a plain rename under the lease,
// and a save the lease held back, which then lands in the nameless old file, is kept beside, the
// copy staying in place. Windows: the platform cannot swap, so the copy is moved just after the
// compare; a move reported as failed is checked against `confirmed`, as it may have happened.
Replacement ReplaceIfUnchanged(SystemLock& lock, const std::string& copy, const std::string& target,
                               const FileSnapshot& read,
                               const std::vector<std::string_view>& confirmed, bool& inPlace);

// Makes the new entry of the folder that holds `target` durable on disk.
// Windows: through a handle of the folder that may write it, as the platform asks.
SystemResult FlushFolder(const SystemLock& lock, const std::string& target);

// Deletes the working copy, if there is one. One that another program keeps from being deleted
// for longer than the run may wait stays only where the next run replaces it.
void DiscardWorkingCopy(SystemLock& lock, const std::string& copy);

}  // namespace platform
