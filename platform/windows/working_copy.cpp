// The working copy of the configuration file on Windows, beside it: created afresh, written,
// read back and compared, flushed, and moved over the file in one step only then. The copy is
// hidden, so that one left by a run that was killed does not show in the aircraft's folder; the
// next run replaces it, and the copy takes the file's own attributes just before the move
// (carried_traits.cpp), so that aircraft.cfg becomes hidden only if it was. Only the lock's owner
// touches it: another run may be writing it.
#include <windows.h>

#include <algorithm>

#include "platform/system_files.h"
#include "platform/windows/file_io.h"
#include "platform/windows/paths.h"

namespace platform {

namespace {

// Deletes the file of the working copy's name, unless that name is a link, which Wine shows as
// the file it names, so that deleting it would delete that other file. False for a link.
bool DeletedUnlessLink(const std::string& copy) {
  if (GetFileAttributesA(copy.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
  std::string standing;
  if (!FinalPath(copy, standing).ok() || standing != copy) return false;
  DeleteFileA(copy.c_str());
  return true;
}

}  // namespace

std::string WorkingCopyPath(const std::string& target) {
  return target + std::string(kCopySuffix);
}

SystemResult WriteWorkingCopy(const SystemLock&, const std::string& copy, const std::string&,
                              const std::vector<std::string_view>& pieces) {
  // A copy that a killed run left is deleted and the copy made anew, so that it is this run's own
  // file. A link to nothing is not shown at all, and the new copy then cannot be made.
  if (!DeletedUnlessLink(copy)) {
    return {SystemFault::kFailed, copy, "be made: a link of that name stands beside it"};
  }
  HANDLE file = CreateFileA(copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_HIDDEN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {SystemFault::kFailed, copy, "be created"};
  const bool written = WriteOpenFile(file, pieces);
  if (!(CloseHandle(file) != FALSE && written)) return {SystemFault::kFailed, copy, "be written"};
  // A write that the platform reported as done is checked on disk, then flushed.
  file = CreateFileA(copy.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {SystemFault::kFailed, copy, "be read back"};
  bool same = false;
  const bool read = HoldsExactly(file, pieces, same);
  const bool flushed = read && same && FlushFileBuffers(file) != FALSE;
  const bool closed = CloseHandle(file) != FALSE;
  if (!read) return {SystemFault::kFailed, copy, "be read back"};
  if (!same) {
    return {SystemFault::kFailed, copy, "be confirmed: it does not hold what was written to it"};
  }
  if (!flushed || !closed) return {SystemFault::kFailed, copy, "be flushed to disk"};
  return {};
}

SystemResult ReadBackWorkingCopy(const std::string& copy, std::string& bytes) {
  const HANDLE file = CreateFileA(copy.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {SystemFault::kFailed, copy, "be read back"};
  const bool read = ReadOpenFile(file, bytes);
  const bool flushed = read && FlushFileBuffers(file) != FALSE;
  const bool closed = CloseHandle(file) != FALSE;
  if (!read) return {SystemFault::kFailed, copy, "be read back"};
  if (!flushed || !closed) return {SystemFault::kFailed, copy, "be flushed to disk"};
  return {};
}

namespace {

// Lets go of the held file, so that the platform will move another over it.
void LetGo(SystemLock& lock) {
  if (lock.file != -1) CloseHandle(reinterpret_cast<HANDLE>(lock.file));
  lock.file = -1;
}

// The working copy, held open with its shared byte locked while it is moved over the file, for as
// long as this run may let go of the file's own: the native build then waits for the move. It is
// shared for everything, so that the move, and this run's own looks at the copy, may open it.
class HeldCopy {
 public:
  explicit HeldCopy(const std::string& copy)
      : file_(CreateFileA(copy.c_str(), GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {
    if (file_ != INVALID_HANDLE_VALUE && !LockSharedByte(file_)) {
      CloseHandle(file_);
      file_ = INVALID_HANDLE_VALUE;
    }
  }
  ~HeldCopy() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }
  HeldCopy(const HeldCopy&) = delete;
  HeldCopy& operator=(const HeldCopy&) = delete;
  bool held() const { return file_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE file_;
};

// What a replacement that did not succeed left: a move reported as failed may still have happened,
// and then the target holds the confirmed bytes, and the change must not be reported as not made.
Replacement ReplacementFailure(const std::string& copy, const std::string& target,
                               const std::vector<std::string_view>& confirmed, bool& inPlace) {
  FileIdentity moved;
  bool same = false;
  inPlace = GetFileAttributesA(copy.c_str()) == INVALID_FILE_ATTRIBUTES &&
            FileHoldsExactly(target, confirmed, moved, same) && same;
  if (inPlace) {
    return {{SystemFault::kFailed, target,
             "be confirmed: the move that replaced it was reported as failed"},
            false};
  }
  return {{SystemFault::kFailed, target, "be replaced"}, false};
}

}  // namespace

Replacement ReplaceIfUnchanged(SystemLock& lock, const std::string& copy, const std::string& target,
                               const FileSnapshot& read,
                               const std::vector<std::string_view>& confirmed, bool& inPlace) {
  const HeldCopy heldCopy(copy);
  if (!heldCopy.held()) return {{SystemFault::kFailed, copy, "be held for the move"}, false};
  const auto move = [&] {
    return MoveFileExA(copy.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
  };
  // Each try looks at the file first: the platform cannot swap two files, so a program that
  // moves a file of its own over it between the look and the move is not seen. Where the platform
  // moves a file over one that is held open for being moved away, the file stays held to the end;
  // Wine moves none over an open file, so it is let go just before the move and, when another
  // program's hold stops the move, held again while the run waits: it is never left unheld for
  // longer than the move, in which no Windows run can reach the copy's name and a native run
  // waits for the copy's shared byte.
  DWORD pause = 50;
  for (DWORD waited = 0;; waited += pause, pause = std::min<DWORD>(2 * pause, 1000)) {
    FileIdentity identity;
    bool same = false;
    if (!FileHoldsExactly(target, {read.bytes}, identity, same)) {
      return {
          {SystemFault::kFailed, target, "be read again to see that no other program changed it"},
          false};
    }
    if (identity != read.identity || !same) return {{}, true};
    if (lock.file != -1 && move()) break;
    LetGo(lock);
    if (move()) break;
    const DWORD error = GetLastError();
    const bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                      error == ERROR_ACCESS_DENIED;
    if (!held || waited >= 10000 || !HoldFile(target, lock).ok() || lock.file == -1 ||
        !FileHoldsExactly(copy, confirmed, identity, same) || !same) {
      return ReplacementFailure(copy, target, confirmed, inPlace);
    }
    Sleep(pause);
  }
  inPlace = true;
  return {};
}

void DiscardWorkingCopy(const SystemLock&, const std::string& copy) {
  DeletedUnlessLink(copy);
}

}  // namespace platform
