// Small POSIX file helpers shared by the Linux platform layer.
#include "platform/linux/file_io.h"

#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "profile/ascii_case.h"

namespace linux_files {

DirectoryAndName SplitDirectoryAndName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

int ReadWholeFile(int fd, std::string& bytes) {
  bytes.clear();
  std::vector<char> chunk(1 << 16);
  for (;;) {
    const ssize_t count = read(fd, chunk.data(), chunk.size());
    if (count == 0) return 0;
    if (count < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes.append(chunk.data(), static_cast<std::size_t>(count));
  }
}

int WriteWholeFile(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t count = write(fd, bytes.data() + done, bytes.size() - done);
    if (count < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    done += static_cast<std::size_t>(count);
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
