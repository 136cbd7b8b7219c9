// The running executable's own path on Linux, as the kernel resolves it: absolute, free of links
// and of "." and "..", and of any length.
#include <unistd.h>

#include <vector>

#include "platform/platform.h"

namespace platform {

std::optional<std::string> ExecutablePath() {
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

// Linux paths are bytes with "/" as the only separator: no byte hides inside another character.
bool IsLeadByte(unsigned char) {
  return false;
}

}  // namespace platform
