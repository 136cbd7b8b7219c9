// Whole-file reads of profile files on Linux: the configuration file in its locked folder, once
// it is found to be replaceable, and any other profile file, found regardless of case. Neither
// ever waits on a FIFO or a device.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/linux/file_io.h"
#include "platform/system_files.h"

namespace platform {

namespace {

// Whether this user may replace the open file `name` of `folder`. A folder marked append-only or
// immutable takes a new copy but lets no file in it be replaced or deleted, so it is refused
// before a copy is made that could not be removed again.
SystemResult CheckWritable(int folder, const std::string& path, const std::string& name,
                           const OpenedFile& file) {
  if ((file.status.st_mode & 0222) == 0) return {SystemFault::kReadOnly, path, ""};
  int flags = 0;
  if (ioctl(file.fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL))) {
    return {SystemFault::kFailed, path, "be replaced: it is marked append-only or immutable"};
  }
  if (ioctl(folder, FS_IOC_GETFLAGS, &flags) == 0 && (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL))) {
    return {SystemFault::kFailed, path,
            "be replaced: its folder is marked append-only or immutable"};
  }
  if (faccessat(folder, name.c_str(), W_OK, 0) != 0) {
    if (errno == EROFS) return {SystemFault::kReadOnlyMount, path, ""};
    if (errno == EACCES || errno == EPERM) return {SystemFault::kMayNotWrite, path, ""};
    return Failed(path, "examine it", errno);
  }
  return {};
}

// Reads the file opened as `path` whole, unless it is not a regular file, could not be opened, is
// larger than `most` or `refusal` refuses it, and closes it.
SystemResult ReadAndClose(const OpenedFile& file, const std::string& path, std::uint64_t most,
                          SystemResult refusal, engine::FileBytes& bytes) {
  if (file.notRegular) return {SystemFault::kNotRegular, path, ""};
  if (file.fd < 0) return Failed(path, "open it", file.error);
  if (static_cast<std::uint64_t>(file.status.st_size) > most) {
    refusal = {SystemFault::kTooLarge, path, ""};
  }
  const int error = refusal.ok() ? ReadOpenFile(file.fd, bytes) : 0;
  close(file.fd);
  return error == 0 ? refusal : Failed(path, "read it", error);
}

}  // namespace

SystemResult ReadReplaceableFile(const SystemLock& lock, const std::string& target,
                                 std::uint64_t most, engine::FileBytes& bytes,
                                 FileIdentity& identity) {
  const auto folder = static_cast<int>(lock.handle);
  const DirectoryAndName parts = SplitDirectoryAndName(target);
  const OpenedFile file = OpenRegularFile(folder, parts.name);
  if (file.fd < 0 && file.error == ENOENT) {
    return {SystemFault::kMissing, parts.directory, parts.name};
  }
  if (file.fd < 0) return ReadAndClose(file, target, most, {}, bytes);
  identity = IdentityIn(file.status);
  return ReadAndClose(file, target, most, CheckWritable(folder, target, parts.name, file), bytes);
}

SystemResult ReadProfileFile(const std::string& path, std::uint64_t most,
                             engine::FileBytes& bytes) {
  const FoundName found = FindFileIgnoringCase(path);
  if (found.match == NameMatch::kAmbiguous) return {SystemFault::kAmbiguousName, path, ""};
  return ReadAndClose(OpenRegularFile(AT_FDCWD, found.path), found.path, most, {}, bytes);
}

}  // namespace platform
