// Reading one value of one section of a profile file through the platform's profile read.
#include "profile/read_setting.h"

#include <array>

#include "platform/platform.h"

namespace profile {

std::string ReadSetting(const char* filePath, const char* section, const char* key,
                        const char* defaultValue) {
  // Not cleared: the platform terminates what it writes. Clearing 1 KB on each of the
  // numbering's reads, several per existing entry, was a tenth of a large install's time.
  std::array<char, kSettingBufferSize> buffer;
  buffer.front() = '\0';
  platform::ReadProfileValue(section, key, defaultValue, buffer.data(), buffer.size(), filePath);
  buffer.back() = '\0';  // the platform terminates it; this makes the bound independent of that
  return std::string(buffer.data());
}

}  // namespace profile
