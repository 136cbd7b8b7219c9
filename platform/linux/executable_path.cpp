// The running executable's own path on Linux, as the user reached it: the path the process was
// started by, so that a livery folder that is a link to a folder elsewhere still installs into the
// aircraft folder it was started from, as on Windows. The kernel's resolved path serves when the
// path started by does not name the running file. A relative start is taken from the working
// folder, which the kernel knows only resolved: started from inside a linked livery folder by a
// relative path, the program finds itself where the link points.
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/platform.h"

namespace platform {

namespace {

// The path that /proc/self/exe names: absolute, free of links and of "." and "..".
std::optional<std::string> ResolvedExecutablePath() {
  // readlink cannot say how long the link is, so the buffer grows until the whole path fits.
  for (std::size_t size = 4096; size <= (std::size_t{1} << 24); size *= 2) {
    std::vector<char> buffer(size);
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return std::nullopt;
    if (static_cast<std::size_t>(length) < buffer.size()) {
      return std::string(buffer.data(), static_cast<std::size_t>(length));
    }
  }
  return std::nullopt;
}

// The working folder, which is still the one the process was started in.
std::optional<std::string> WorkingFolder() {
  for (std::size_t size = 4096; size <= (std::size_t{1} << 24); size *= 2) {
    std::vector<char> buffer(size);
    if (getcwd(buffer.data(), buffer.size()) != nullptr) return std::string(buffer.data());
    if (errno != ERANGE) return std::nullopt;
  }
  return std::nullopt;
}

// The path without "." and "..", folded the way Windows folds them, by the text alone: the parent
// of a linked folder is the folder the link stands in, not the one it points to.
std::string WithoutDotSegments(const std::string& absolute) {
  std::vector<std::string> segments;
  std::size_t start = 0;
  while (start <= absolute.size()) {
    std::size_t end = absolute.find('/', start);
    if (end == std::string::npos) end = absolute.size();
    const std::string segment = absolute.substr(start, end - start);
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(segment);
    }
    start = end + 1;
  }
  std::string path;
  for (const std::string& segment : segments) path += "/" + segment;
  return path.empty() ? "/" : path;
}

// The path of the file that the link at `path` names, by the link's text: a relative text is
// taken from the link's own folder, as a shortcut's target is; nothing when it is no link.
std::optional<std::string> LinkTarget(const std::string& path) {
  std::vector<char> buffer(4096);
  const ssize_t length = readlink(path.c_str(), buffer.data(), buffer.size());
  if (length < 0 || static_cast<std::size_t>(length) >= buffer.size()) return std::nullopt;
  const std::string target(buffer.data(), static_cast<std::size_t>(length));
  if (target.front() == '/') return WithoutDotSegments(target);
  return WithoutDotSegments(path.substr(0, path.rfind('/') + 1) + target);
}

// The path the process was started by (AT_EXECFN), made absolute against the starting folder,
// and, when it is a link to the program, the path that the link names, as it spells it.
std::optional<std::string> StartedPath() {
  const auto* started = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
  if (started == nullptr || *started == '\0') return std::nullopt;
  std::string path = started;
  if (path.front() != '/') {
    const std::optional<std::string> folder = WorkingFolder();
    if (!folder) return std::nullopt;
    path = *folder + "/" + path;
  }
  path = WithoutDotSegments(path);
  constexpr int kMostLinks = 40;  // the kernel's own bound on links in one lookup
  for (int link = 0; link < kMostLinks; ++link) {
    const std::optional<std::string> target = LinkTarget(path);
    if (!target) break;
    path = *target;
  }
  return path;
}

// True when `path` names, as a plain file and not through a link, the running executable.
bool NamesTheRunningFile(const std::string& path) {
  struct stat spelled {};
  struct stat running {};
  return lstat(path.c_str(), &spelled) == 0 && S_ISREG(spelled.st_mode) &&
         stat("/proc/self/exe", &running) == 0 && spelled.st_dev == running.st_dev &&
         spelled.st_ino == running.st_ino;
}

}  // namespace

std::optional<std::string> ExecutablePath(bool& notInCodePage) {
  notInCodePage = false;  // Linux paths are bytes, taken as they are
  const std::optional<std::string> started = StartedPath();
  return started && NamesTheRunningFile(*started) ? started : ResolvedExecutablePath();
}

// Linux paths are bytes with "/" as the only separator: no byte hides inside another character.
bool IsLeadByte(unsigned char) {
  return false;
}

}  // namespace platform
