// One all-or-nothing update of the configuration file on Windows. The run never edits the file in
// place: the file that aircraft.cfg finally names (through links and junctions) is read whole
// under the lock, the run works on a copy beside it, and the copy replaces that file in one step
// (so a link stays a link) only once it has been read back from disk and found to be what the run
// meant to write. The platform's profile functions report success even when a write of the file
// fails, so their word is never taken for it: see run_document.h for how each call is checked.
//
// Runs on the same file are serialized by a named mutex, which the system releases when its owner
// dies. The mutex is named from the identity of the folder holding the file (its volume serial
// number and file index), not from a spelling of its path: links, junctions, short names, subst
// drives and UNC paths all reach the same folder, and so the same mutex and the same working copy.
// The working copy is deleted or written only while the mutex is held.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>

#include "engine/profile_syntax.h"
#include "platform/platform.h"
#include "platform/windows/file_io.h"
#include "platform/windows/run_document.h"

namespace platform {

namespace {

constexpr DWORD kPathBufferSize = 260;
constexpr const char* kCopySuffix = ".installing";

UpdateResult Failure(const std::string& path, const char* cause) {
  return UpdateResult{path + ": " + cause};
}

// The mutex name for the folder at `folderPath`, from what the folder is rather than how its path
// is spelled; nothing when the folder cannot be opened.
std::optional<std::string> MutexName(const std::string& folderPath) {
  const HANDLE folder = CreateFileA(folderPath.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION identity{};
  const bool known = GetFileInformationByHandle(folder, &identity) != FALSE;
  CloseHandle(folder);
  if (!known) return std::nullopt;
  char name[64];
  std::snprintf(name, sizeof name, "Local\\livery-setup-%08lx-%08lx%08lx",
                static_cast<unsigned long>(identity.dwVolumeSerialNumber),
                static_cast<unsigned long>(identity.nFileIndexHigh),
                static_cast<unsigned long>(identity.nFileIndexLow));
  return name;
}

// The path of the file that `fullPath` finally names, through links and junctions, without the
// "\\?\" prefix: `fullPath` itself for a file that does not exist yet, empty for a link to
// nothing, nothing when the path does not fit the platform's buffers.
std::optional<std::string> FinalPath(const std::string& fullPath) {
  const HANDLE file = CreateFileA(fullPath.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    if (!missing) return std::nullopt;
    // The name may still stand, as a link whose target is gone: the copy must not replace it.
    // Listing the folder sees the link itself, where reading its attributes may follow it.
    // (Wine shows no trace of a Linux link to nothing, so there the name reads as free.)
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA(fullPath.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return fullPath;
    FindClose(search);
    return "";
  }
  char path[kPathBufferSize + 8];
  const DWORD length = GetFinalPathNameByHandleA(file, path, sizeof path, FILE_NAME_NORMALIZED);
  CloseHandle(file);
  if (length == 0 || length >= sizeof path) return std::nullopt;
  std::string finalPath(path, length);
  if (finalPath.rfind("\\\\?\\UNC\\", 0) == 0) {
    finalPath.replace(0, 8, "\\\\");
  } else if (finalPath.rfind("\\\\?\\", 0) == 0) {
    finalPath.erase(0, 4);
  }
  if (finalPath.size() >= kPathBufferSize) return std::nullopt;
  return finalPath;
}

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

// Reads the file that the update replaces, after checking that it may be replaced. A missing file
// is refused: the folder is no aircraft's.
UpdateResult ReadReplaceableFile(const std::string& target, std::string& bytes) {
  const DWORD attributes = GetFileAttributesA(target.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_FILE_NOT_FOUND) {
    UpdateResult missing =
        Failure(target.substr(0, target.find_last_of('\\')), "holds no aircraft.cfg");
    missing.missing = true;
    return missing;
  }
  if (attributes == INVALID_FILE_ATTRIBUTES) return Failure(target, "cannot be examined");
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return Failure(target, "is not a regular file");
  if (attributes & FILE_ATTRIBUTE_READONLY) return Failure(target, "is read-only");
  if (!RetryWhileHeld([&] { return ReadWholeFile(target, bytes); })) {
    return Failure(target, "cannot be read");
  }
  if (engine::StartsAsUtf16(bytes)) {
    return Failure(target, "is UTF-16 text, which an 8-bit edit would corrupt");
  }
  return {};
}

// Creates the working copy afresh and writes the pieces into it. The copy is hidden, so that one
// left by a run that was killed does not show in the aircraft's folder; the next run replaces it.
bool WriteWorkingCopy(const std::string& copy, const std::vector<std::string_view>& pieces) {
  const HANDLE file = CreateFileA(copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_HIDDEN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool written = WriteOpenFile(file, pieces);
  return CloseHandle(file) != FALSE && written;
}

// Replaces a copy left by a run that was killed. The platform's writes start from a copy of the
// file as read; an engine edit writes its copy whole at the commit.
bool StartWorkingCopy(const ConfigUpdate& update, const std::string& bytes) {
  if (update.mode == EditMode::kValueWrites) return WriteWorkingCopy(update.workingPath, {bytes});
  return DeleteFileA(update.workingPath.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

// Reads the working copy back from disk and, when `isExpected` accepts its bytes, flushes it to
// disk; `bytes` then holds what was flushed.
template <typename Check>
UpdateResult ConfirmWorkingCopy(const std::string& copy, Check isExpected, std::string& bytes) {
  const HANDLE file = CreateFileA(copy.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Failure(copy, "cannot be read back");
  const bool read = ReadOpenFile(file, bytes);
  const bool expected = read && isExpected(bytes);
  const bool flushed = expected && FlushFileBuffers(file) != FALSE;
  const bool closed = CloseHandle(file) != FALSE;
  if (!read) return Failure(copy, "cannot be read back");
  if (!expected) return Failure(copy, "does not hold what was written to it");
  if (!flushed || !closed) return Failure(copy, "cannot be flushed to disk");
  return {};
}

// Completes the working copy of the run's document and confirms it on disk. An engine edit is
// written whole; the platform's writes are checked, call by call and then as the file they left.
UpdateResult CompleteWorkingCopy(const RunDocument& run, std::string& bytes) {
  if (Disagreed()) {
    return Failure(run.path, "the platform's profile functions did not do what was asked");
  }
  if (run.mode == EditMode::kWholeFile) {
    const std::string wanted = engine::Serialize(run.document);
    if (!WriteWorkingCopy(run.path, {wanted})) return Failure(run.path, "cannot be written");
    return ConfirmWorkingCopy(
        run.path, [&](const std::string& found) { return found == wanted; }, bytes);
  }
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, run.path.c_str());  // empties its cache
  return ConfirmWorkingCopy(
      run.path,
      [&](const std::string& found) {
        return !engine::StartsAsUtf16(found) &&
               engine::ReadAlike(engine::ParseDocument(found), run.document);
      },
      bytes);
}

// Moves the confirmed working copy over the target. A move reported as failed may still have
// happened: then the target holds the confirmed bytes, and the change must not be reported as
// not made.
UpdateResult PutInPlace(const std::string& copy, const std::string& target,
                        const std::string& confirmed) {
  // The copy's attributes go with it: aircraft.cfg must not become hidden.
  if (!SetFileAttributesA(copy.c_str(), FILE_ATTRIBUTE_NORMAL)) {
    return Failure(copy, "cannot be made visible");
  }
  if (RetryWhileHeld([&] {
        return MoveFileExA(copy.c_str(), target.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
      })) {
    return {};
  }
  std::string found;
  if (GetFileAttributesA(copy.c_str()) == INVALID_FILE_ATTRIBUTES && ReadWholeFile(target, found) &&
      found == confirmed) {
    UpdateResult result = Failure(target, "was replaced, but the move was reported as failed");
    result.inPlace = true;
    return result;
  }
  return Failure(target, "cannot be replaced");
}

// Deletes the working copy. The platform's profile functions may still hold it in a cache of
// their own and write it out again later, so their cache is emptied first.
void DiscardWorkingCopy(const std::string& copy) {
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, copy.c_str());
  DeleteFileA(copy.c_str());
}

void ReleaseLock(ConfigUpdate& update) {
  if (update.lock != -1) {
    const auto mutex = reinterpret_cast<HANDLE>(update.lock);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  }
  update.lock = -1;
}

// Waits for the mutex named `name`; false when it cannot be had.
bool Lock(const std::string& name, ConfigUpdate& update) {
  const HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
  if (mutex == nullptr) return false;
  const DWORD wait = WaitForSingleObject(mutex, INFINITE);
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {  // abandoned: its last owner died
    CloseHandle(mutex);
    return false;
  }
  update.lock = reinterpret_cast<std::intptr_t>(mutex);
  return true;
}

// Locks the file that `fullPath` finally names and sets the update's paths. A link may be changed
// to name another file while the run waits, so once the mutex is held the path is resolved again,
// and the run starts over when it no longer names the same file.
UpdateResult LockFinalFile(const std::string& fullPath, ConfigUpdate& update) {
  constexpr int kMostAttempts = 100;
  for (int attempt = 0; attempt < kMostAttempts; ++attempt) {
    const std::optional<std::string> target = FinalPath(fullPath);
    if (!target || target->size() + std::strlen(kCopySuffix) >= kPathBufferSize) {
      return Failure(fullPath, "path too long");
    }
    if (target->empty()) return Failure(fullPath, "is a link to a file that does not exist");
    // The folder is opened through the file's own path, which the system folds lexically.
    const std::optional<std::string> mutexName = MutexName(*target + "\\..");
    if (!mutexName || !Lock(*mutexName, update)) return Failure(*target, "cannot be locked");
    if (FinalPath(fullPath) == target && MutexName(*target + "\\..") == mutexName) {
      update.targetPath = *target;
      update.workingPath = *target + kCopySuffix;
      return {};
    }
    ReleaseLock(update);
  }
  return Failure(fullPath, "keeps naming another file while the installer waits for it");
}

}  // namespace

UpdateResult BeginConfigUpdate(const std::string& configurationPath, ConfigUpdate& update) {
  char full[kPathBufferSize];
  const DWORD length = GetFullPathNameA(configurationPath.c_str(), kPathBufferSize, full, nullptr);
  if (length == 0 || length >= kPathBufferSize) return Failure(configurationPath, "path too long");
  UpdateResult result = LockFinalFile(std::string(full, length), update);
  if (!result.ok()) return result;
  std::string bytes;
  result = ReadReplaceableFile(update.targetPath, bytes);
  if (result.ok() && !StartWorkingCopy(update, bytes)) {
    result = Failure(update.workingPath, "cannot be created");
  }
  if (!result.ok()) {
    AbandonConfigUpdate(update);
    return result;
  }
  StartRunDocument({update.workingPath, update.mode, engine::ParseDocument(std::move(bytes))});
  return result;
}

UpdateResult CommitConfigUpdate(ConfigUpdate& update) {
  const RunDocument* run = RunDocumentFor(update.workingPath.c_str());
  std::string confirmed;
  UpdateResult result = run == nullptr ? Failure(update.workingPath, "was never started")
                                       : CompleteWorkingCopy(*run, confirmed);
  if (result.ok()) result = PutInPlace(update.workingPath, update.targetPath, confirmed);
  if (!result.ok() && !result.inPlace) DiscardWorkingCopy(update.workingPath);
  EndRunDocument();
  ReleaseLock(update);
  return result;
}

void AbandonConfigUpdate(ConfigUpdate& update) {
  // Only the mutex's owner may touch the working copy: another run may be writing it.
  if (update.lock != -1) DiscardWorkingCopy(update.workingPath);
  EndRunDocument();
  ReleaseLock(update);
}

}  // namespace platform
