// Whole-file reads and writes on Windows, every result checked: a short read or write, or one
// that the platform reports as failed, is a failure of the whole; and the wait for a file that
// another program holds open for a moment.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "platform/system_files.h"

namespace platform {

// Reads the open file from where it stands to its end into `bytes`; false on any failure.
bool ReadOpenFile(HANDLE file, std::string& bytes);

// Writes the pieces one after another into the open file; false on any failure.
bool WriteOpenFile(HANDLE file, const std::vector<std::string_view>& pieces);

// Reads the open file from where it stands to its end and sets `same` when it holds exactly the
// pieces, one after another, without holding the file in memory; false when a read failed.
bool HoldsExactly(HANDLE file, const std::vector<std::string_view>& pieces, bool& same);

// Opens the file at `path` for reading, as other programs may hold it, and tells which file it is
// and whether it holds exactly the pieces; false when it cannot be opened or read.
bool FileHoldsExactly(const std::string& path, const std::vector<std::string_view>& pieces,
                      FileIdentity& identity, bool& same);

// Opens the file `target` for reading, denying others the right to write it (a program that
// holds it open for writing, in the middle of saving it, is waited for), and waits for the lock of
// its shared byte; `lock.file` then holds it. Nothing to hold, and no failure, for a file that is
// missing, read-only or a folder: the run refuses those once it reads them.
SystemResult HoldFile(const std::string& target, SystemLock& lock);

// Waits for the lock of the shared byte (kSharedLockOffset) of the open `file`; false on failure.
bool LockSharedByte(HANDLE file);

// Which file the open `file` is; false when that is unknown or the file has no name left (it was
// replaced or deleted).
bool IdentityOf(HANDLE file, FileIdentity& identity);

// Reads the whole file at `path`, which other programs may hold open for reading or writing;
// false on any failure. `identity`, when given, receives which file was read.
bool ReadWholeFile(const std::string& path, std::string& bytes, FileIdentity* identity = nullptr);

// Calls `step` until it succeeds, or fails for another reason than a file that another program
// holds open for a moment (a virus scanner, an indexer, the simulator loading the aircraft): then
// it backs off and tries again, for about ten seconds in all. True when `step` succeeded.
template <typename Step>
bool RetryWhileHeld(Step step) {
  DWORD pause = 50;
  for (DWORD waited = 0;; waited += pause, pause = std::min<DWORD>(2 * pause, 1000)) {
    if (step()) return true;
    const DWORD error = GetLastError();
    const bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                      error == ERROR_ACCESS_DENIED;
    if (!held || waited >= 10000) return false;
    Sleep(pause);
  }
}

}  // namespace platform
