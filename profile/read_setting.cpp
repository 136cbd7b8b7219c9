// Reading one value of one section of a profile file through the platform's profile read.
#include "profile/read_setting.h"

#include <array>

#include "platform/platform.h"

namespace profile {

std::string ReadSetting(const std::string& filePath, const std::string& section,
                        const std::string& key, const std::string& defaultValue) {
  std::array<char, kSettingBufferSize> buffer{};
  platform::ReadProfileValue(section.c_str(), key.c_str(), defaultValue.c_str(), buffer.data(),
                             buffer.size(), filePath.c_str());
  buffer.back() = '\0';  // the platform terminates it; this makes the bound independent of that
  return std::string(buffer.data());
}

}  // namespace profile
