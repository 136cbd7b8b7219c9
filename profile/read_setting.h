// Reading one value of one section of a profile file, with a default.
// Guarantees: the result holds at most 1023 characters (the read goes through a 1024-byte buffer)
// and is the default text whenever the file, the section or the key is missing. A value written
// earlier in the run is seen.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace profile {

inline constexpr std::size_t kSettingBufferSize = 1024;

using SettingBuffer = std::array<char, kSettingBufferSize>;

// All four arguments are zero-terminated 8-bit strings, as the platform's profile read takes them.
std::string ReadSetting(const char* filePath, const char* section, const char* key,
                        const char* defaultValue);

// The same read into a buffer of the caller's, for a caller that reads very often and keeps
// nothing: the result is a view of the buffer.
std::string_view ReadSettingInto(SettingBuffer& buffer, const char* filePath, const char* section,
                                 const char* key, const char* defaultValue);

}  // namespace profile
