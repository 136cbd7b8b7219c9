// The running executable's own path on Windows, through the module functions of KERNEL32, and the
// active code page's lead bytes.
#include <windows.h>

#include <vector>

#include "platform/platform.h"
#include "platform/windows/paths.h"

namespace platform {

std::optional<std::string> ExecutablePath(bool& notInCodePage) {
  notInCodePage = false;
  char path[kPathBufferSize];
  const DWORD length = GetModuleFileNameA(GetModuleHandleA(nullptr), path, sizeof path);
  // A length that fills the buffer means the path was cut: using it would name the wrong folder.
  if (length == 0 || length >= kPathBufferSize) return std::nullopt;
  // Asked for in wide characters too, since the 8-bit path may spell another folder's name.
  constexpr DWORD kLongestWidePath = 32768;
  std::vector<wchar_t> wide(kLongestWidePath);
  const DWORD units = GetModuleFileNameW(GetModuleHandleW(nullptr), wide.data(), kLongestWidePath);
  const std::string spelled(path, length);
  if (units == 0 || units >= kLongestWidePath ||
      !SpellsExactly(spelled, std::wstring(wide.data(), units))) {
    notInCodePage = true;
    return std::nullopt;
  }
  return spelled;
}

bool IsLeadByte(unsigned char byte) {
  return IsDBCSLeadByte(byte) != FALSE;
}

}  // namespace platform
