// 8-bit paths checked against the wide ones the platform holds.
#include "platform/windows/wide_paths.h"

#include <climits>

namespace platform {

std::wstring WidePath(const std::string& path) {
  if (path.empty() || path.size() > INT_MAX / 2) return {};
  const int length = static_cast<int>(path.size());
  std::wstring wide(path.size(), L'\0');  // never more UTF-16 units than bytes
  const int units =
      MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path.data(), length, wide.data(), length);
  wide.resize(units > 0 ? static_cast<std::size_t>(units) : 0);
  return wide;
}

bool SpellsExactly(const std::string& path, const std::wstring& wide) {
  return !wide.empty() && WidePath(path) == wide;
}

}  // namespace platform
