// The working copy of the configuration file on Windows, beside it: created afresh, written,
// read back and compared, flushed, and moved over the file in one step only then, after which the
// folder is flushed. The copy is plain (neither hidden, system nor read-only) for as long as the
// platform's profile functions write it: the platform documents that an open that replaces a
// hidden or system file without naming its attributes fails, and how its profile writer opens a
// file is not documented. The copy takes the file's own attributes after its last write, just
// before the move (carried_traits.cpp). One left by a run that was killed in its writes is
// therefore visible; the next run replaces it. Only the lock's owner touches it: another run may
// be writing it.
//
// The run holds the copy open, for reading and writing and sharing both, from the instant it is
// created to its move, and the new file from then to the end of the update. A program that opens
// each new or changed file the moment it sees it (a virus scanner, the search indexer, a cloud-sync
// client) either shares it for writing too, and then stops neither the platform's profile writes
// nor the run's reads and flushes, or cannot open it at all. Only the move, and the deletion of a
// copy, wait for such a program to let go.
#include <windows.h>

#include "platform/system_files.h"
#include "platform/windows/file_io.h"
#include "platform/windows/paths.h"

namespace platform {

namespace {

// What stands under the working copy's name.
enum class Standing { kNothing, kFile, kLink, kFolder };

// A link is told by its final path: Wine shows a Linux link as the file it names, so that writing
// or deleting it would write or delete that other file.
Standing StandingAt(const std::string& copy) {
  const DWORD attributes = GetFileAttributesA(copy.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return Standing::kNothing;
  std::string standing;
  if (!FinalPath(copy, standing).ok() || standing != copy) return Standing::kLink;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Standing::kFolder : Standing::kFile;
}

// Makes the copy anew, so that it is this run's own file, and opens it into `file`. A copy that a
// killed run left is the program's own, even read-only or hidden, and is deleted first; a link or
// a folder of that name is another program's, and `refusal` then names it. A link to nothing is
// not shown at all, and the new copy then cannot be made.
bool MadeAnew(const std::string& copy, HANDLE& file, const char*& refusal) {
  const Standing standing = StandingAt(copy);
  if (standing == Standing::kLink || standing == Standing::kFolder) {
    refusal = standing == Standing::kLink ? "a link" : "a folder";
    SetLastError(ERROR_ALREADY_EXISTS);
    return false;
  }
  if (standing == Standing::kFile &&
      (!SetFileAttributesA(copy.c_str(), FILE_ATTRIBUTE_NORMAL) || !DeleteFileA(copy.c_str()))) {
    return false;
  }
  file = CreateFileA(copy.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  // A deleted copy that another program holds keeps its name until that program lets go.
  if (file == INVALID_HANDLE_VALUE && standing == Standing::kFile &&
      GetLastError() == ERROR_FILE_EXISTS) {
    SetLastError(ERROR_SHARING_VIOLATION);
  }
  return file != INVALID_HANDLE_VALUE;
}

// Lets go of one of the lock's handles.
void LetGo(std::intptr_t& handle) {
  if (handle != -1) CloseHandle(reinterpret_cast<HANDLE>(handle));
  handle = -1;
}

bool Rewound(HANDLE file) {
  const LARGE_INTEGER start{};
  return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) != FALSE;
}

}  // namespace

bool OpenForWritingElsewhere(SystemLock&) {
  return false;
}

std::string WorkingCopyPath(const std::string& target) {
  return target + std::string(kCopySuffix);
}

SystemResult WriteWorkingCopy(SystemLock& lock, const std::string& copy, const std::string& target,
                              const std::vector<std::string_view>& pieces) {
  HANDLE file = INVALID_HANDLE_VALUE;
  const char* refusal = nullptr;
  if (!RetryWhileHeld([&] { return MadeAnew(copy, file, refusal); })) {
    const std::string step = "make its new copy " + copy.substr(copy.find_last_of('\\') + 1);
    if (refusal == nullptr) return Failed(target, step);
    return {SystemFault::kFailed, target, step + ": " + refusal + " of that name stands there"};
  }
  lock.copy = reinterpret_cast<std::intptr_t>(file);
  if (!RetryWhileHeld([&] { return Rewound(file) && WriteOpenFile(file, pieces); })) {
    return Failed(target, "write the new copy");
  }
  return {};
}

SystemResult ReadBackWorkingCopy(const SystemLock& lock, const std::string&,
                                 const std::string& target, engine::FileBytes& bytes) {
  const auto file = reinterpret_cast<HANDLE>(lock.copy);
  std::string read;
  if (!RetryWhileHeld([&] { return Rewound(file) && ReadOpenFile(file, read); })) {
    return Failed(target, "read the new copy back");
  }
  bytes = engine::OwnedBytes(std::move(read));
  return {};
}

SystemResult FlushWorkingCopy(const SystemLock& lock, const std::string&,
                              const std::string& target) {
  if (lock.copy != -1 && FlushFileBuffers(reinterpret_cast<HANDLE>(lock.copy))) return {};
  return Failed(target, "flush the new copy to disk");
}

SystemResult FlushFolder(const SystemLock&, const std::string& target) {
  // The platform flushes a folder through a handle that may write it.
  const HANDLE folder = CreateFileA(FolderOf(target).c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  const bool flushed = folder != INVALID_HANDLE_VALUE && FlushFileBuffers(folder);
  const SystemResult result =
      flushed ? SystemResult{}
              : Failed(target, "flush its folder to disk, though the new file is in place");
  if (folder != INVALID_HANDLE_VALUE) CloseHandle(folder);
  return result;
}

namespace {

// What a replacement that did not succeed left: a move reported as failed may still have happened,
// and then the target holds the confirmed bytes, and the change must not be reported as not made.
Replacement ReplacementFailure(const std::string& copy, const std::string& target,
                               const std::vector<std::string_view>& confirmed, bool& inPlace) {
  const DWORD error = GetLastError();
  FileIdentity moved;
  bool same = false;
  inPlace = GetFileAttributesA(copy.c_str()) == INVALID_FILE_ATTRIBUTES &&
            FileHoldsExactly(target, confirmed, moved, same) && same;
  if (inPlace) {
    return {{SystemFault::kFailed, target,
             "confirm the new file: the move that put it in place was reported as failed"},
            false};
  }
  const char* step = "put the new copy in place";
  const char* why = error == ERROR_SUCCESS ? ": it or its copy changed, or could not be held "
                                             "again, while the installer waited"
                    : HeldByAnother(error) ? ": another program keeps it or its copy open"
                                           : nullptr;
  if (why != nullptr) return {{SystemFault::kFailed, target, step + std::string(why)}, false};
  SetLastError(error);
  return {Failed(target, step), false};
}

// Holds the file again after a move that another program's hold stopped, while the run waits, and
// sees that the copy is still what the run confirmed.
bool HeldAgain(SystemLock& lock, const std::string& target, const std::string& copy,
               const std::vector<std::string_view>& confirmed) {
  FileIdentity identity;
  bool same = false;
  return HoldFile(target, lock).ok() && lock.file != -1 &&
         FileHoldsExactly(copy, confirmed, identity, same) && same;
}

}  // namespace

Replacement ReplaceIfUnchanged(SystemLock& lock, const std::string& copy, const std::string& target,
                               const FileSnapshot& read,
                               const std::vector<std::string_view>& confirmed, bool& inPlace) {
  // The run's own hold of the copy does not share it for being moved; the hold for the move does,
  // for everything, so that the move, and this run's own looks at the copy, may open it. Its
  // shared byte is locked from before the run may let go of the file's own to the end of the run:
  // the native build waits for the move, and then for the new file as for the old.
  const HANDLE held =
      OpenRetried(copy, GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
  if (held == INVALID_HANDLE_VALUE || !LockSharedByte(held)) {
    const SystemResult failed = Failed(target, "hold its new copy for the move");
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    return {failed, false};
  }
  LetGo(lock.copy);
  lock.copy = reinterpret_cast<std::intptr_t>(held);
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
  bool looked = false;
  bool changed = false;
  const bool moved = RetryWhileHeld([&] {
    FileIdentity identity;
    bool same = false;
    looked = FileHoldsExactly(target, {read.bytes}, identity, same);
    if (!looked) return false;
    changed = identity != read.identity || !same;
    if (changed) {
      SetLastError(ERROR_SUCCESS);  // nothing to wait for
      return false;
    }
    if (lock.file != -1 && move()) return true;
    LetGo(lock.file);
    if (move()) return true;
    const DWORD error = GetLastError();
    if (HeldByAnother(error) && !HeldAgain(lock, target, copy, confirmed)) {
      SetLastError(ERROR_SUCCESS);  // the wait would be for nothing
      return false;
    }
    SetLastError(error);
    return false;
  });
  if (changed) return {{}, true};
  if (!looked)
    return {Failed(target, "read it again to see that no other program changed it"), false};
  if (!moved) return ReplacementFailure(copy, target, confirmed, inPlace);
  inPlace = true;
  return {};
}

void DiscardWorkingCopy(SystemLock& lock, const std::string& copy) {
  LetGo(lock.copy);
  Standing standing = Standing::kNothing;
  const bool deleted = RetryWhileHeld([&] {
    standing = StandingAt(copy);
    return standing != Standing::kFile || DeleteFileA(copy.c_str()) != FALSE;
  });
  // A copy that another program holds for longer than the run may wait stays, hidden, for the
  // next run to replace: no profile function writes it again, as that run deletes it first.
  if (!deleted && standing == Standing::kFile) {
    SetFileAttributesA(copy.c_str(), FILE_ATTRIBUTE_HIDDEN);
  }
}

}  // namespace platform
