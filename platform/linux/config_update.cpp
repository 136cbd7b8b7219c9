// One all-or-nothing update of the configuration file on Linux: an exclusive kernel lock on the
// folder in which the file is replaced, from the first read to the commit, the run's writes held in
// memory, and a durable replacement of the whole file at the end.
//
// The lock belongs to the file, not to the spelling of its path: a link is resolved to the file it
// names first, and the lock is taken on the folder that holds that file, where the new copy is
// written and renamed. A kernel lock (flock) is held by the folder itself, however the folder was
// reached, so every run that would replace the same file waits for the same lock. The lock is
// taken on the folder rather than the file because the commit replaces the file: a lock on the old
// file would not stop a run that opens the new one. A flock dies with its process, so a killed run
// never blocks the next, and it leaves no file behind.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "engine/profile_syntax.h"
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
  char* const target = realpath(path.c_str(), nullptr);  // any length, unlike a PATH_MAX buffer
  if (target == nullptr) return {};
  std::string resolved(target);
  std::free(target);
  return resolved;
}

// Finds the file that `configurationPath` names, regardless of case and through a link.
UpdateResult ResolveTarget(const std::string& configurationPath, std::string& target) {
  const FoundName found = FindFileIgnoringCase(configurationPath);
  if (found.match == NameMatch::kAmbiguous) {
    return Failure(configurationPath, "several files match this name in all but case");
  }
  target = ReplacementTarget(found.path);
  if (target.empty()) return Failure(found.path, "is a link to a file that does not exist");
  return {};
}

// Reads the existing file `name` of the locked folder into `bytes` after checking that it may be
// replaced.
UpdateResult ReadReplaceableFile(int folder, const std::string& path, const std::string& name,
                                 engine::FileBytes& bytes) {
  const OpenedFile file = OpenRegularFile(folder, name);
  if (file.notRegular) return Failure(path, "is not a regular file");
  if (file.fd < 0 && file.error == ENOENT) {
    UpdateResult missing = Failure(SplitDirectoryAndName(path).directory, "holds no " + name);
    missing.missing = true;
    return missing;
  }
  if (file.fd < 0) return Failure(path, "cannot open it", file.error);
  UpdateResult result;
  if ((file.status.st_mode & 0222) == 0) {
    result = Failure(path, "is read-only");
  } else if (faccessat(folder, name.c_str(), W_OK, 0) != 0) {
    result = Failure(path, "this user may not write it");
  } else if (const int error = ReadWholeFile(file.fd, bytes); error != 0) {
    result = Failure(path, "cannot read it", error);
  } else if (engine::StartsAsUtf16(bytes.text)) {
    result = Failure(path, "is UTF-16 text, which an 8-bit edit would corrupt");
  }
  close(file.fd);
  return result;
}

UpdateResult LoadUnderLock(const std::string& configurationPath, ConfigUpdate& update) {
  engine::FileBytes bytes;
  const std::string name = SplitDirectoryAndName(update.targetPath).name;
  UpdateResult result =
      ReadReplaceableFile(static_cast<int>(update.lock), update.targetPath, name, bytes);
  if (!result.ok()) return result;
  AdoptDocument(configurationPath, engine::ParseDocument(std::move(bytes)));
  update.workingPath = configurationPath;
  return result;
}

void ReleaseLock(ConfigUpdate& update) {
  if (update.lock >= 0) close(static_cast<int>(update.lock));  // closing releases the flock
  update.lock = -1;
}

// True when `directory` still names the open folder: it may have been moved away while the run
// waited for the lock, and another folder put in its place.
bool IsSameFolder(int folder, const std::string& directory) {
  struct stat locked {};
  struct stat named {};
  return fstat(folder, &locked) == 0 && stat(directory.c_str(), &named) == 0 &&
         locked.st_dev == named.st_dev && locked.st_ino == named.st_ino;
}

// Locks the folder of the file that `configurationPath` names. A link may be changed to name
// another file, or the folder moved away, while the run waits, so once the lock is held the path
// is resolved again, and the run starts over when it no longer leads to the locked folder.
UpdateResult LockTargetFolder(const std::string& configurationPath, ConfigUpdate& update) {
  constexpr int kMostAttempts = 100;
  for (int attempt = 0; attempt < kMostAttempts; ++attempt) {
    std::string target;
    if (UpdateResult resolved = ResolveTarget(configurationPath, target); !resolved.ok()) {
      return resolved;
    }
    const std::string directory = SplitDirectoryAndName(target).directory;
    const int folder = LockFolder(directory);
    if (folder < 0) return Failure(directory, "cannot lock this folder", errno);
    update.lock = folder;
    std::string again;
    if (ResolveTarget(configurationPath, again).ok() && again == target &&
        IsSameFolder(folder, directory)) {
      update.targetPath = target;
      return {};
    }
    ReleaseLock(update);
  }
  return Failure(configurationPath, "keeps naming another file while the installer waits for it");
}

}  // namespace

UpdateResult BeginConfigUpdate(const std::string& configurationPath, ConfigUpdate& update) {
  UpdateResult result = LockTargetFolder(configurationPath, update);
  if (result.ok()) result = LoadUnderLock(configurationPath, update);
  if (!result.ok()) AbandonConfigUpdate(update);
  return result;
}

UpdateResult CommitConfigUpdate(ConfigUpdate& update) {
  const engine::Document* document = LoadedDocument(update.workingPath);
  UpdateResult result;
  if (document != nullptr && document->changed) {
    const Replacement replaced = ReplaceFileDurably(static_cast<int>(update.lock),
                                                    SplitDirectoryAndName(update.targetPath).name,
                                                    engine::SerializedPieces(*document));
    if (!replaced.failure.empty()) result = Failure(update.targetPath, replaced.failure);
    result.inPlace = replaced.inPlace;
  }
  AbandonConfigUpdate(update);
  return result;
}

void AbandonConfigUpdate(ConfigUpdate& update) {
  DropDocument(update.workingPath);
  ReleaseLock(update);
}

}  // namespace platform
