// Whole-file reads and writes on Windows, every result checked: a short read or write, or one
// that the platform reports as failed, is a failure of the whole; and the one wait, shared by every
// step of a run, for a file that another program holds for a moment.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "platform/system_files.h"

namespace platform {

// The failure of `step` on `subject`, the file the user knows, in the system's words for the last
// error: "aircraft.cfg: cannot <step>: <why>".
SystemResult Failed(const std::string& subject, const std::string& step);

// Reads the open file from where it stands to its end into `bytes`; false on any failure.
bool ReadOpenFile(HANDLE file, std::string& bytes);

// Writes the pieces one after another into the open file; false on any failure.
bool WriteOpenFile(HANDLE file, const std::vector<std::string_view>& pieces);

// Reads the open file from where it stands to its end and sets `same` when it holds exactly the
// pieces, one after another, without holding the file in memory; false when a read failed.
bool HoldsExactly(HANDLE file, const std::vector<std::string_view>& pieces, bool& same);

// Opens the file at `path` for reading, as other programs may hold it, and tells which file it is
// and whether it holds exactly the pieces; false when it cannot be opened or read, even after
// waiting for another program's hold.
bool FileHoldsExactly(const std::string& path, const std::vector<std::string_view>& pieces,
                      FileIdentity& identity, bool& same);

// Opens the file `target` for reading, denying others the right to write it (a program that
// holds it open for writing, in the middle of saving it, is waited for), and waits for the lock of
// its shared byte; `lock.file` then holds it. Nothing to hold, and no failure, for a file that is
// missing, read-only, a folder, or one whose security denies this user writing it: the run
// refuses those once it reads them. Any other access denied is waited for (a file being deleted
// gives it too), and after the run's allowance the file is held by another program.
SystemResult HoldFile(const std::string& target, SystemLock& lock);

// Waits for the lock of the shared byte (kSharedLockOffset) of the open `file`; false on failure.
bool LockSharedByte(HANDLE file);

// Which file the open `file` is; false when that is unknown or the file has no name left (it was
// replaced or deleted).
bool IdentityOf(HANDLE file, FileIdentity& identity);

// Reads the whole file at `path`, which other programs may hold open for reading or writing;
// false on any failure, even after waiting for another program's hold. `identity`, when given,
// receives which file was read.
bool ReadWholeFile(const std::string& path, std::string& bytes, FileIdentity* identity = nullptr);

// True when a step failed because another program may hold the file for now: a sharing or a
// lock violation, a mapped view in the way of a replacement, a file being deleted, or access
// denied, which Windows also gives for a file being deleted or one held where it would be
// replaced. (HoldFile tells access that the file's security denies apart.)
bool HeldByAnother(DWORD error);

// Whether an access denied to the file at `path` is this user's, not a moment's hold of another
// program: it is a folder, its security denies this process `access` (security.h), or this user
// may not even read its security. A file being deleted, of which nothing can be looked at until
// the program that holds it lets go, is a moment's.
bool DeniedToThisUser(const std::string& path, DWORD access);

// The last error that a step leaves where access to a file was denied to this user: the run does
// not wait for it, as HeldByAnother is false for it.
inline constexpr DWORD kDeniedToThisUser = ERROR_FILE_READ_ONLY;

// Waits `pause` milliseconds for another program to let go of a file, out of the one allowance that
// the run has for every such wait, about ten seconds in all; false, without waiting, once it is
// spent. The last error stays as it was.
bool BackOff(DWORD pause);

// Calls `step` until it succeeds, or fails for another reason than a file that another program
// holds for a moment (a virus scanner, the search indexer, a cloud-sync client, the simulator
// loading the aircraft): then it backs off, 50 ms doubling to a second, and tries again, until the
// run's allowance is spent. Every step of a run on its files is tried through this, so that a run
// meeting many short holds gives up when one meeting a single long hold would, and not later. True
// when `step` succeeded; otherwise GetLastError() is the step's last error.
template <typename Step>
bool RetryWhileHeld(Step step) {
  for (DWORD pause = 50;; pause = std::min<DWORD>(2 * pause, 1000)) {
    if (step()) return true;
    if (!HeldByAnother(GetLastError()) || !BackOff(pause)) return false;
  }
}

// CreateFileA, tried again while another program holds the file.
HANDLE OpenRetried(const std::string& path, DWORD access, DWORD sharing, DWORD disposition,
                   DWORD flags = FILE_ATTRIBUTE_NORMAL);

}  // namespace platform
