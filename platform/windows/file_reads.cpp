// Whole-file reads of profile files on Windows: the configuration file, once it is found to be
// replaceable, and any other profile file, each read with every result checked.
#include <windows.h>

#include <cstdint>

#include "platform/system_files.h"
#include "platform/windows/file_io.h"

namespace platform {

SystemResult ReadReplaceableFile(const SystemLock& lock, const std::string& target,
                                 std::uint64_t most, engine::FileBytes& bytes,
                                 FileIdentity& identity) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!RetryWhileHeld(
          [&] { return GetFileAttributesExA(target.c_str(), GetFileExInfoStandard, &data); })) {
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return Failed(target, "examine it");
    const std::size_t separator = target.find_last_of('\\');
    return {SystemFault::kMissing, target.substr(0, separator), target.substr(separator + 1)};
  }
  const DWORD attributes = data.dwFileAttributes;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return {SystemFault::kNotRegular, target, ""};
  if (attributes & FILE_ATTRIBUTE_READONLY) return {SystemFault::kReadOnly, target, ""};
  if (((std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow) > most) {
    return {SystemFault::kTooLarge, target, ""};
  }
  // HoldFile holds nothing of a file whose security denies this user writing it.
  if (lock.file == -1 && DeniedToThisUser(target, FILE_GENERIC_READ | FILE_GENERIC_WRITE)) {
    return {SystemFault::kMayNotWrite, target, ""};
  }
  // Read through the handle that holds the file, when the lock could take one: that is the file
  // that no Windows program may write meanwhile.
  std::string read;
  const auto held = reinterpret_cast<HANDLE>(lock.file);
  LARGE_INTEGER start{};
  const bool done = lock.file == -1 ? ReadWholeFile(target, read, &identity) : RetryWhileHeld([&] {
    return SetFilePointerEx(held, start, nullptr, FILE_BEGIN) && IdentityOf(held, identity) &&
           ReadOpenFile(held, read);
  });
  if (!done) return Failed(target, "read it");
  bytes = engine::OwnedBytes(std::move(read));
  return {};
}

SystemResult ReadProfileFile(const std::string& path, std::uint64_t most,
                             engine::FileBytes& bytes) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      return {SystemFault::kNotRegular, path, ""};
    if (((std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow) > most) {
      return {SystemFault::kTooLarge, path, ""};
    }
  }
  std::string read;
  if (!ReadWholeFile(path, read)) {
    if (HeldByAnother(GetLastError())) return {SystemFault::kHeld, path, ""};
    return Failed(path, "read it");
  }
  bytes = engine::OwnedBytes(std::move(read));
  return {};
}

}  // namespace platform
