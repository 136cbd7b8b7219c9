// Reading one value of one section of a profile file, with a default.
// Guarantees: the result holds at most 1023 characters (the read goes through a 1024-byte buffer)
// and is the default text whenever the file, the section or the key is missing. A value written
// earlier in the run is seen.
#pragma once

#include <string>

namespace profile {

inline constexpr std::size_t kSettingBufferSize = 1024;

// All four arguments are zero-terminated 8-bit strings, as the platform's profile read takes them.
std::string ReadSetting(const char* filePath, const char* section, const char* key,
                        const char* defaultValue);

}  // namespace profile
