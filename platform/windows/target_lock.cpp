// The file that a configuration update replaces, and its lock, on Windows.
//
// Two locks, taken in this order. The first serializes the Windows runs: a named mutex, which the
// system releases when its owner dies, named from the identity of the folder holding the file (its
// volume serial number and file index), not from a spelling of its path: links, junctions, short
// names, subst drives and UNC paths all reach the same folder, and so the same mutex and the same
// working copy. The second lets the two builds wait for each other: the file itself is held open,
// shared for reading and for being moved away but not for writing, so that a program in the
// middle of saving it is waited for and none starts to while the run works on it, and one byte of
// it (kSharedLockOffset) is locked, which the native build locks too. A run that waited may find
// the file replaced meanwhile, and then starts over (LockHolds).
#include <windows.h>

#include <optional>

#include "platform/platform.h"
#include "platform/system_files.h"
#include "platform/windows/file_io.h"
#include "platform/windows/paths.h"

namespace platform {

namespace {

// The eight hexadecimal digits of `value`.
std::string Hex(DWORD value) {
  std::string digits(8, '0');
  for (int i = 7; i >= 0; --i, value >>= 4) digits[i] = "0123456789abcdef"[value & 0xF];
  return digits;
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
  return "Local\\livery-setup-" + Hex(identity.dwVolumeSerialNumber) + "-" +
         Hex(identity.nFileIndexHigh) + Hex(identity.nFileIndexLow);
}

// The identity of the file at `path`, as it stands now.
bool IdentityAt(const std::string& path, FileIdentity& identity) {
  const HANDLE file = OpenRetried(path, FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool known = IdentityOf(file, identity);
  CloseHandle(file);
  return known;
}

}  // namespace

SystemResult ResolveTarget(const std::string& path, std::string& target) {
  std::string fullPath;
  std::string finalPath;
  SystemResult result = FullPath(path, fullPath);
  if (result.ok()) result = FinalPath(fullPath, finalPath);
  // The working copy's path, beside it, must fit too.
  if (result.ok() && finalPath.size() + kCopySuffix.size() >= kPathBufferSize) {
    result = {SystemFault::kPathTooLong, fullPath, ""};
  }
  if (result.ok()) target = finalPath;
  return result;
}

SystemResult LockTarget(const std::string& target, SystemLock& lock) {
  const std::optional<std::string> name = MutexName(FolderOf(target));
  const HANDLE mutex = name ? CreateMutexA(nullptr, FALSE, name->c_str()) : nullptr;
  const DWORD wait = mutex != nullptr ? WaitForSingleObject(mutex, INFINITE) : WAIT_FAILED;
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {  // abandoned: its last owner died
    const SystemResult failed = Failed(target, "lock it");
    if (mutex != nullptr) CloseHandle(mutex);
    return failed;
  }
  lock.handle = reinterpret_cast<std::intptr_t>(mutex);
  lock.key = *name;
  const SystemResult held = HoldFile(target, lock);
  if (!held.ok()) ReleaseLock(lock);
  return held;
}

bool LockHolds(const SystemLock& lock, const std::string& target) {
  if (MutexName(FolderOf(target)) != lock.key) return false;
  FileIdentity held;
  FileIdentity named;
  return lock.file == -1 || (IdentityOf(reinterpret_cast<HANDLE>(lock.file), held) &&
                             IdentityAt(target, named) && held == named);
}

FileIdentity HeldFileIdentity(const SystemLock& lock) {
  FileIdentity identity;
  if (lock.file == -1 || !IdentityOf(reinterpret_cast<HANDLE>(lock.file), identity)) return {};
  return identity;
}

void ReleaseLock(SystemLock& lock) {
  if (lock.file != -1) CloseHandle(reinterpret_cast<HANDLE>(lock.file));  // and so its lock
  if (lock.copy != -1) CloseHandle(reinterpret_cast<HANDLE>(lock.copy));
  if (lock.handle != -1) {
    const auto mutex = reinterpret_cast<HANDLE>(lock.handle);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  }
  lock.file = -1;
  lock.copy = -1;
  lock.handle = -1;
  lock.key.clear();
}

}  // namespace platform
