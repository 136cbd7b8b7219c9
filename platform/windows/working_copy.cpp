// The working copy of the configuration file on Windows, beside it: created afresh, written,
// read back and compared, flushed, and moved over the file in one step only then. The copy is
// hidden, so that one left by a run that was killed does not show in the aircraft's folder; the
// next run replaces it, and the copy is made visible just before the move so that aircraft.cfg
// never becomes hidden. Only the lock's owner touches it: another run may be writing it.
#include <windows.h>

#include "platform/system_files.h"
#include "platform/windows/file_io.h"

namespace platform {

std::string WorkingCopyPath(const std::string& target) {
  return target + ".installing";
}

SystemResult WriteWorkingCopy(const SystemLock&, const std::string& copy, const std::string&,
                              const std::vector<std::string_view>& pieces) {
  HANDLE file = CreateFileA(copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
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

Replacement ReplaceIfUnchanged(SystemLock& lock, const std::string& copy, const std::string& target,
                               const FileSnapshot& read,
                               const std::vector<std::string_view>& confirmed, bool& inPlace) {
  // The platform cannot swap two files, so the file is looked at just before the move: a program
  // that saves it by a move of its own in that moment is not seen.
  FileIdentity identity;
  bool same = false;
  if (!RetryWhileHeld([&] { return FileHoldsExactly(target, {read.bytes}, identity, same); })) {
    return {{SystemFault::kFailed, target, "be read again to see that no other program changed it"},
            false};
  }
  if (identity != read.identity || !same) return {{}, true};
  // The copy's attributes go with it: aircraft.cfg must not become hidden.
  if (!SetFileAttributesA(copy.c_str(), FILE_ATTRIBUTE_NORMAL)) {
    return {{SystemFault::kFailed, copy, "be made visible"}, false};
  }
  const auto move = [&] {
    return MoveFileExA(copy.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
  };
  // Where the platform replaces a file held open for being moved away, the file is held to the
  // end; Wine does not, and the file is let go just before the move.
  if (lock.file != -1 && !move()) {
    CloseHandle(reinterpret_cast<HANDLE>(lock.file));
    lock.file = -1;
  }
  inPlace = lock.file != -1 || RetryWhileHeld(move);
  if (inPlace) return {};
  // A move reported as failed may still have happened: then the target holds the confirmed
  // bytes, and the change must not be reported as not made.
  FileIdentity moved;
  inPlace = GetFileAttributesA(copy.c_str()) == INVALID_FILE_ATTRIBUTES &&
            FileHoldsExactly(target, confirmed, moved, same) && same;
  if (inPlace) {
    return {{SystemFault::kFailed, target,
             "be confirmed: the move that replaced it was reported as failed"},
            false};
  }
  return {{SystemFault::kFailed, target, "be replaced"}, false};
}

void DiscardWorkingCopy(const SystemLock&, const std::string& copy) {
  DeleteFileA(copy.c_str());
}

}  // namespace platform
