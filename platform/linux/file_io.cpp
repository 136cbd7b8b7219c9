// Small POSIX file helpers shared by the Linux platform layer.
#include "platform/linux/file_io.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "profile/ascii_case.h"

namespace linux_files {

DirectoryAndName SplitDirectoryAndName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

int ReadWholeFile(int fd, ByteBuffer& bytes) {
  // Sized from the file's length, plus room to see its end, so that a whole file is read straight
  // into place; a file that grows meanwhile still reads to its end.
  struct stat status {};
  const std::size_t expected =
      fstat(fd, &status) == 0 && status.st_size > 0 ? static_cast<std::size_t>(status.st_size) : 0;
  std::size_t capacity = expected + 4096;
  ByteBuffer buffer = ByteBuffer::Allocate(capacity);
  for (;;) {
    if (buffer.size == capacity) {
      capacity *= 2;
      ByteBuffer larger = ByteBuffer::Allocate(capacity);
      std::memcpy(larger.data.get(), buffer.data.get(), buffer.size);
      larger.size = buffer.size;
      buffer = std::move(larger);
    }
    const ssize_t count = read(fd, buffer.data.get() + buffer.size, capacity - buffer.size);
    if (count == 0) break;
    if (count < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    buffer.size += static_cast<std::size_t>(count);
  }
  bytes = std::move(buffer);
  return 0;
}

int WritePieces(int fd, const std::vector<std::string_view>& pieces) {
  std::vector<iovec> vectors;
  vectors.reserve(pieces.size());
  for (const std::string_view piece : pieces) {
    vectors.push_back(iovec{const_cast<char*>(piece.data()), piece.size()});
  }
  std::size_t first = 0;
  while (first < vectors.size()) {
    const int count = static_cast<int>(std::min<std::size_t>(vectors.size() - first, IOV_MAX));
    ssize_t written = writev(fd, vectors.data() + first, count);
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    // A short write ends inside some piece: step past what went out and go on from there.
    while (first < vectors.size() && static_cast<std::size_t>(written) >= vectors[first].iov_len) {
      written -= static_cast<ssize_t>(vectors[first].iov_len);
      ++first;
    }
    if (first < vectors.size()) {
      vectors[first].iov_base = static_cast<char*>(vectors[first].iov_base) + written;
      vectors[first].iov_len -= static_cast<std::size_t>(written);
    }
  }
  return 0;
}

FoundName FindNameIgnoringCase(const std::string& directory, const std::string& name) {
  DIR* folder = opendir(directory.c_str());
  if (folder == nullptr) return {NameMatch::kFound, name};
  std::vector<std::string> matches;
  while (const dirent* entry = readdir(folder)) {
    if (profile::EqualIgnoringAsciiCase(entry->d_name, name)) matches.emplace_back(entry->d_name);
  }
  closedir(folder);
  if (matches.empty()) return {NameMatch::kNone, name};
  if (matches.size() == 1) return {NameMatch::kFound, matches.front()};
  for (const std::string& match : matches) {
    if (match == name) return {NameMatch::kFound, name};
  }
  return {NameMatch::kAmbiguous, name};
}

}  // namespace linux_files
