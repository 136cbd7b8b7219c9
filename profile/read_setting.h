// Reading one value of one section of a profile file, with a default.
// Guarantees: the result holds at most 1023 characters (the read goes through a 1024-byte buffer,
// cleared before every read) and is the default text whenever the file, the section or the key is
// missing. A value written earlier in the run is seen.
#pragma once

#include <string>

namespace profile {

inline constexpr std::size_t kSettingBufferSize = 1024;

std::string ReadSetting(const std::string& filePath, const std::string& section,
                        const std::string& key, const std::string& defaultValue);

}  // namespace profile
