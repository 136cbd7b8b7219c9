// Text in the active code page to and from UTF-8 on Windows, through the platform's own
// conversions, so that the engine reads and writes a UTF-8 profile file as the platform's profile
// functions do, whatever the code page (a double-byte one included).
#include <windows.h>

#include <climits>
#include <string>

#include "engine/code_page.h"

namespace engine {

namespace {

// The text converted from code page `from` to code page `to` through UTF-16. A character that
// `to` lacks becomes the platform's default character, as in its profile functions.
std::string Convert(std::string_view text, UINT from, UINT to) {
  if (text.empty() || text.size() > INT_MAX / 4) return {};
  const int length = static_cast<int>(text.size());
  std::wstring wide(text.size(), L'\0');  // never more UTF-16 units than bytes
  const int units = MultiByteToWideChar(from, 0, text.data(), length, wide.data(), length);
  if (units <= 0) return {};
  const int bytes = WideCharToMultiByte(to, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string converted(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(to, 0, wide.data(), units, converted.data(), bytes, nullptr, nullptr);
  return converted;
}

}  // namespace

std::string Utf8FromAnsi(std::string_view text) {
  return Convert(text, CP_ACP, CP_UTF8);
}

std::string AnsiFromUtf8(std::string_view text) {
  return Convert(text, CP_UTF8, CP_ACP);
}

}  // namespace engine
