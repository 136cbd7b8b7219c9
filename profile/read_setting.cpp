// Reading one value of one section of a profile file through the platform's profile read.
#include "profile/read_setting.h"

#include "platform/platform.h"

namespace profile {

std::string_view ReadSettingInto(SettingBuffer& buffer, const char* filePath, const char* section,
                                 const char* key, const char* defaultValue) {
  // Not cleared: the platform terminates what it writes, and the numbering reads once per existing
  // entry, where clearing 1 KB each time shows (docs/benchmark.md).
  buffer.front() = '\0';
  platform::ReadProfileValue(section, key, defaultValue, buffer.data(), buffer.size(), filePath);
  buffer.back() = '\0';  // the platform terminates it; this makes the bound independent of that
  return buffer.data();
}

std::string ReadSetting(const char* filePath, const char* section, const char* key,
                        const char* defaultValue) {
  SettingBuffer buffer;
  return std::string(ReadSettingInto(buffer, filePath, section, key, defaultValue));
}

}  // namespace profile
