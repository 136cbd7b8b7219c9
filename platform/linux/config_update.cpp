// One all-or-nothing update of the configuration file on Linux: an exclusive kernel lock on the
// file's folder from the first read to the commit, the run's writes held in memory, and a durable
// replacement of the whole file at the end.
//
// The lock is taken on the folder rather than the file because the commit replaces the file: a
// lock on the old file would not stop a run that opens the new one. A kernel lock (flock) dies with
// its process, so a killed run never blocks the next, and it leaves no file behind.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/linux/durable_replace.h"
#include "platform/linux/file_io.h"
#include "platform/linux/profile_files.h"
#include "platform/platform.h"

namespace platform {

namespace {

UpdateResult Failure(const std::string& path, const std::string& cause) {
  return UpdateResult{path + ": " + cause};
}

UpdateResult Failure(const std::string& path, const char* cause, int error) {
  return Failure(path, std::string(cause) + ": " + std::strerror(error));
}

// Waits for the exclusive lock on the folder; returns its descriptor, or -1 with errno set.
int LockFolder(const std::string& directory) {
  const int folder = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return -1;
  while (flock(folder, LOCK_EX) != 0) {
    if (errno != EINTR) {
      const int error = errno;
      close(folder);
      errno = error;
      return -1;
    }
  }
  return folder;
}

// The file that the commit replaces: the named file, or the file that a symbolic link names, so
// that the link stays a link. Empty for a link to nothing.
std::string ReplacementTarget(const std::string& path) {
  struct stat link {};
  if (lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return path;
  char target[PATH_MAX];
  return realpath(path.c_str(), target) != nullptr ? std::string(target) : std::string();
}

bool IsUtf16(std::string_view bytes) {
  return bytes.size() >= 2 &&
         ((bytes[0] == '\xFF' && bytes[1] == '\xFE') || (bytes[0] == '\xFE' && bytes[1] == '\xFF'));
}

// Reads the existing file into `bytes` after checking that it may be replaced; a missing file
// reads as empty and is created by the commit.
UpdateResult ReadReplaceableFile(const std::string& path, profile::FileBytes& bytes) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? UpdateResult{} : Failure(path, "cannot open it", errno);
  struct stat status {};
  UpdateResult result;
  if (fstat(fd, &status) != 0) {
    result = Failure(path, "cannot examine it", errno);
  } else if (!S_ISREG(status.st_mode)) {
    result = Failure(path, "is not a regular file");
  } else if ((status.st_mode & 0222) == 0 || access(path.c_str(), W_OK) != 0) {
    result = Failure(path, "is read-only");
  } else if (const int error = ReadWholeFile(fd, bytes); error != 0) {
    result = Failure(path, "cannot read it", error);
  } else if (IsUtf16(bytes.text)) {
    result = Failure(path, "is UTF-16 text, which an 8-bit edit would corrupt");
  }
  close(fd);
  return result;
}

UpdateResult LoadUnderLock(const std::string& configurationPath, ConfigUpdate& update) {
  const FoundName found = FindFileIgnoringCase(configurationPath);
  if (found.match == NameMatch::kAmbiguous) {
    return Failure(configurationPath, "several files match this name in all but case");
  }
  update.targetPath = ReplacementTarget(found.path);
  if (update.targetPath.empty())
    return Failure(found.path, "is a link to a file that does not exist");
  profile::FileBytes bytes;
  UpdateResult result = ReadReplaceableFile(update.targetPath, bytes);
  if (!result.ok()) return result;
  AdoptDocument(configurationPath, profile::ParseDocument(std::move(bytes)));
  update.workingPath = configurationPath;
  return result;
}

void ReleaseLock(ConfigUpdate& update) {
  if (update.lock >= 0) close(static_cast<int>(update.lock));  // closing releases the flock
  update.lock = -1;
}

}  // namespace

UpdateResult BeginConfigUpdate(const std::string& configurationPath, ConfigUpdate& update) {
  const std::string directory = SplitDirectoryAndName(configurationPath).directory;
  const int folder = LockFolder(directory);
  if (folder < 0) return Failure(directory, "cannot lock this folder", errno);
  update.lock = folder;
  UpdateResult result = LoadUnderLock(configurationPath, update);
  if (!result.ok()) AbandonConfigUpdate(update);
  return result;
}

UpdateResult CommitConfigUpdate(ConfigUpdate& update) {
  const profile::Document* document = LoadedDocument(update.workingPath);
  UpdateResult result;
  if (document != nullptr && document->changed) {
    const std::string cause =
        ReplaceFileDurably(update.targetPath, profile::SerializedPieces(*document));
    if (!cause.empty()) result = Failure(update.targetPath, cause);
  }
  AbandonConfigUpdate(update);
  return result;
}

void AbandonConfigUpdate(ConfigUpdate& update) {
  DropDocument(update.workingPath);
  ReleaseLock(update);
}

}  // namespace platform
