// One all-or-nothing update of the configuration file on Windows. The platform's profile functions
// write every value to disk at once, so the run works on a copy: aircraft.cfg is copied beside
// itself, the whole install reads and writes the copy, and the flushed copy then replaces the file
// in one step. Runs on the same file are serialized by a named mutex, which the system releases
// when its owner dies.
#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "platform/platform.h"
#include "platform/windows/profile_writes.h"

namespace platform {

namespace {

constexpr DWORD kPathBufferSize = 260;
constexpr const char* kCopySuffix = ".installing";

UpdateResult Failure(const std::string& path, const char* cause) {
  return UpdateResult{path + ": " + cause};
}

// The mutex name for a file: a hash of its full path with case folded, as the file system folds
// it, so that every spelling of the path meets the same mutex. Backslashes may not stand in it.
std::string MutexName(const std::string& fullPath) {
  std::string folded = fullPath;
  LCMapStringA(LOCALE_SYSTEM_DEFAULT, LCMAP_UPPERCASE, fullPath.data(),
               static_cast<int>(fullPath.size()), folded.data(), static_cast<int>(folded.size()));
  std::uint64_t hash = 14695981039346656037u;  // 64-bit FNV-1a
  for (const char c : folded) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211u;
  char name[64];
  std::snprintf(name, sizeof name, "Local\\livery-setup-%016llx",
                static_cast<unsigned long long>(hash));
  return name;
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

}  // namespace

UpdateResult BeginConfigUpdate(const std::string& configurationPath, ConfigUpdate& update) {
  char full[kPathBufferSize];
  const DWORD length = GetFullPathNameA(configurationPath.c_str(), kPathBufferSize, full, nullptr);
  if (length == 0 || length >= kPathBufferSize) return Failure(configurationPath, "path too long");
  update.targetPath.assign(full, length);
  update.workingPath = update.targetPath + kCopySuffix;
  if (update.workingPath.size() >= kPathBufferSize)
    return Failure(update.targetPath, "path too long");

  const HANDLE mutex = CreateMutexA(nullptr, FALSE, MutexName(update.targetPath).c_str());
  if (mutex == nullptr) return Failure(update.targetPath, "cannot be locked");
  const DWORD wait = WaitForSingleObject(mutex, INFINITE);
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {  // abandoned: its last owner died
    CloseHandle(mutex);
    return Failure(update.targetPath, "cannot be locked");
  }
  update.lock = reinterpret_cast<std::intptr_t>(mutex);
  TakeWriteFailure();
  UpdateResult result = PrepareCopy(update.targetPath, update.workingPath);
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
  if (!update.workingPath.empty()) DeleteFileA(update.workingPath.c_str());
  ReleaseLock(update);
}

}  // namespace platform
