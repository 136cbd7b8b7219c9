// One all-or-nothing update of the configuration file on Windows. The platform's profile functions
// write every value to disk at once, so the run works on a copy: the file that aircraft.cfg finally
// names (through links and junctions) is copied beside itself, the whole install reads and writes
// the copy, and the flushed copy then replaces that file in one step, so a link stays a link.
//
// Runs on the same file are serialized by a named mutex, which the system releases when its owner
// dies. The mutex is named from the identity of the folder holding the file (its volume serial
// number and file index), not from a spelling of its path: links, junctions, short names, subst
// drives and UNC paths all reach the same folder, and so the same mutex and the same working copy.
// The working copy is deleted or written only while the mutex is held.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>

#include "platform/platform.h"
#include "platform/windows/profile_writes.h"

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

bool IsUtf16(const std::string& path) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  unsigned char start[2] = {0, 0};
  DWORD read = 0;
  ReadFile(file, start, sizeof start, &read, nullptr);
  CloseHandle(file);
  return read == 2 &&
         ((start[0] == 0xFF && start[1] == 0xFE) || (start[0] == 0xFE && start[1] == 0xFF));
}

// Makes the working copy of the existing file, or leaves none for a file that does not exist yet.
UpdateResult PrepareCopy(const std::string& target, const std::string& copy) {
  DeleteFileA(copy.c_str());  // a copy left by a run that was killed
  const DWORD attributes = GetFileAttributesA(target.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return {};
    return Failure(target, "cannot be examined");
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return Failure(target, "is not a regular file");
  if (attributes & FILE_ATTRIBUTE_READONLY) return Failure(target, "is read-only");
  if (IsUtf16(target)) return Failure(target, "is UTF-16 text, which an 8-bit edit would corrupt");
  if (!CopyFileA(target.c_str(), copy.c_str(), FALSE)) return Failure(copy, "cannot be created");
  return {};
}

bool FlushToDisk(const std::string& path) {
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, path.c_str());  // empties the profile cache
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool flushed = FlushFileBuffers(file) != FALSE;
  return CloseHandle(file) != FALSE && flushed;
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
  TakeWriteFailure();
  result = PrepareCopy(update.targetPath, update.workingPath);
  if (!result.ok()) AbandonConfigUpdate(update);
  return result;
}

UpdateResult CommitConfigUpdate(ConfigUpdate& update) {
  UpdateResult result;
  if (TakeWriteFailure()) {
    result = Failure(update.workingPath, "cannot be written");
  } else if (!FlushToDisk(update.workingPath)) {
    result = Failure(update.workingPath, "cannot be flushed to disk");
  } else if (!MoveFileExA(update.workingPath.c_str(), update.targetPath.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    result = Failure(update.targetPath, "cannot be replaced");
  }
  if (!result.ok()) DeleteFileA(update.workingPath.c_str());
  ReleaseLock(update);
  return result;
}

void AbandonConfigUpdate(ConfigUpdate& update) {
  // Only the mutex's owner may touch the working copy: another run may be writing it.
  if (update.lock != -1) DeleteFileA(update.workingPath.c_str());
  ReleaseLock(update);
}

}  // namespace platform
