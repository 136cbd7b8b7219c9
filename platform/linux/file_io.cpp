// Small POSIX file helpers shared by the Linux platform layer.
#include "platform/linux/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/ascii_case.h"
#include "platform/pieces_match.h"

namespace platform {

DirectoryAndName SplitDirectoryAndName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

std::int64_t ChangeTimeOf(const struct stat& status) {
  return std::int64_t{status.st_ctim.tv_sec} * 1000000000 + status.st_ctim.tv_nsec;
}

SystemResult Failed(const std::string& subject, const std::string& step, int error) {
  return {SystemFault::kFailed, subject, step + ": " + std::strerror(error)};
}

struct flock SharedByte(short type) {
  struct flock range {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = static_cast<off_t>(kSharedLockOffset);
  range.l_len = 1;
  return range;
}

FileIdentity IdentityIn(const struct stat& status) {
  return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

OpenedFile OpenRegularFile(int folder, const std::string& name) {
  // The type is looked at before the open, which may have effects on a device, and again on the
  // descriptor, in case the name came to stand for another file in between.
  OpenedFile file;
  if (fstatat(folder, name.c_str(), &file.status, 0) != 0) {
    file.error = errno;
  } else if (!S_ISREG(file.status.st_mode)) {
    file.notRegular = true;
  } else if (file.fd = openat(folder, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
             file.fd < 0) {
    file.error = errno;
  } else if (fstat(file.fd, &file.status) != 0 || !S_ISREG(file.status.st_mode)) {
    close(file.fd);
    file.fd = -1;
    file.notRegular = true;
  }
  return file;
}

int ReadOpenFile(int fd, engine::FileBytes& bytes) {
  // The file is copied into memory, never mapped: the run then works on a snapshot, so another
  // program that rewrites or shortens the file meanwhile can neither garble what the run writes
  // back nor kill it, though a mapping would save time on very large files (docs/benchmark.md).
  struct stat status {};
  const std::size_t expected =
      fstat(fd, &status) == 0 && status.st_size > 0 ? static_cast<std::size_t>(status.st_size) : 0;
  // Read to its end, however long it turns out to be, into memory that is not cleared first:
  // every byte used is read.
  std::size_t capacity = expected + 4096;
  std::shared_ptr<char[]> buffer(new char[capacity]);
  std::size_t size = 0;
  for (;;) {
    if (size == capacity) {
      std::shared_ptr<char[]> larger(new char[2 * capacity]);
      std::memcpy(larger.get(), buffer.get(), size);
      buffer = std::move(larger);
      capacity *= 2;
    }
    const ssize_t count = read(fd, buffer.get() + size, capacity - size);
    // An end before the size the file had when it was opened is a read that failed quietly.
    if (count == 0 && size < expected) return EIO;
    if (count == 0) break;
    if (count < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    size += static_cast<std::size_t>(count);
  }
  bytes = {std::string_view(buffer.get(), size), buffer};
  return 0;
}

int WritePieces(int fd, const std::vector<std::string_view>& pieces) {
  // At most 1 MiB goes out per call, as the kernel throttles one huge write of many dirty pages
  // (docs/benchmark.md).
  // The batch lives on the stack: nothing is allocated while a half-written copy exists.
  constexpr std::size_t kMostPerCall = std::size_t{1} << 20;
  constexpr std::size_t kMostPieces = 64;
  std::array<iovec, kMostPieces> batch;
  std::size_t piece = 0;
  std::size_t offset = 0;  // bytes of pieces[piece] already written
  while (piece < pieces.size()) {
    std::size_t count = 0;
    std::size_t bytes = 0;
    for (std::size_t i = piece, at = offset;
         i < pieces.size() && bytes < kMostPerCall && count < kMostPieces; ++i, at = 0) {
      const std::size_t length = std::min(pieces[i].size() - at, kMostPerCall - bytes);
      batch[count++] = iovec{const_cast<char*>(pieces[i].data() + at), length};
      bytes += length;
    }
    const ssize_t written = writev(fd, batch.data(), static_cast<int>(count));
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    // Step past what went out, which may end inside a piece.
    for (std::size_t left = static_cast<std::size_t>(written); left > 0;) {
      const std::size_t step = std::min(left, pieces[piece].size() - offset);
      left -= step;
      offset += step;
      if (offset == pieces[piece].size()) {
        ++piece;
        offset = 0;
      }
    }
    while (piece < pieces.size() && pieces[piece].size() == offset) {
      ++piece;
      offset = 0;
    }
  }
  return 0;
}

int HoldsExactly(int fd, const std::vector<std::string_view>& pieces, bool& same) {
  std::array<char, 1 << 16> chunk;
  PiecesMatch match = StartMatch(pieces);
  for (;;) {
    const ssize_t count = read(fd, chunk.data(), chunk.size());
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return errno;
    if (count == 0) break;
    MatchChunk(match, std::string_view(chunk.data(), static_cast<std::size_t>(count)));
  }
  same = MatchedAll(match);
  return 0;
}

std::string AsideName(const std::string& name) {
  return "." + name + ".replaced";
}

int MoveWithoutReplacing(int folder, const std::string& from, const std::string& to) {
  if (renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  if (linkat(folder, from.c_str(), folder, to.c_str(), 0) != 0) return errno;
  unlinkat(folder, from.c_str(), 0);
  return 0;
}

namespace {

// Calls `place` with `target`.saved-meanwhile, -2, -3 and on while it fails with EEXIST; 0 and
// the name in `kept`, or the errno of the failure.
template <typename Place>
int PlacedBeside(const std::string& target, std::string& kept, Place place) {
  const std::string base = SplitDirectoryAndName(target).name + ".saved-meanwhile";
  for (unsigned long number = 1;; ++number) {
    kept = number == 1 ? base : base + "-" + std::to_string(number);
    if (const int error = place(kept); error != EEXIST) return error;
  }
}

}  // namespace

std::optional<std::string> KeptBeside(int folder, const std::string& name,
                                      const std::string& target) {
  std::string kept;
  const int error = PlacedBeside(
      target, kept, [&](const std::string& to) { return MoveWithoutReplacing(folder, name, to); });
  if (error != 0) return std::nullopt;
  return kept;
}

int WrittenBeside(int folder, const std::string& target, std::string_view bytes,
                  const struct stat& like, std::string& kept) {
  int fd = -1;
  int error = PlacedBeside(target, kept, [&](const std::string& name) {
    fd = openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    return fd < 0 ? errno : 0;
  });
  if (error != 0) return error;
  error = WritePieces(fd, {bytes});
  if (error == 0 && fsync(fd) != 0) error = errno;
  // Where the run cannot give the owner, or then the bits, the file stays private.
  if (error == 0 && fchown(fd, like.st_uid, like.st_gid) == 0) fchmod(fd, like.st_mode & 0777);
  if (close(fd) != 0 && error == 0) error = errno;
  if (error != 0) unlinkat(folder, kept.c_str(), 0);
  return error;
}

FoundName FindFileIgnoringCase(const std::string& path) {
  const DirectoryAndName parts = SplitDirectoryAndName(path);
  DIR* folder = opendir(parts.directory.c_str());
  if (folder == nullptr) return {NameMatch::kFound, path};
  std::vector<std::string> matches;
  while (const dirent* entry = readdir(folder)) {
    if (engine::EqualIgnoringAsciiCase(entry->d_name, parts.name))
      matches.emplace_back(entry->d_name);
  }
  closedir(folder);
  const auto inFolder = [&](const std::string& name) { return parts.directory + "/" + name; };
  if (matches.empty()) return {NameMatch::kNone, path};
  if (matches.size() == 1) return {NameMatch::kFound, inFolder(matches.front())};
  for (const std::string& match : matches) {
    if (match == parts.name) return {NameMatch::kFound, inFolder(match)};
  }
  return {NameMatch::kAmbiguous, path};
}

}  // namespace platform
