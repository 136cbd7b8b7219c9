// The running executable's own path on Windows, through the module functions of KERNEL32, and the
// active code page's lead bytes.
#include <windows.h>

#include "platform/platform.h"

namespace platform {

std::optional<std::string> ExecutablePath() {
  char path[kPathBufferSize];
  const DWORD length = GetModuleFileNameA(GetModuleHandleA(nullptr), path, sizeof path);
  // A length that fills the buffer means the path was cut: using it would name the wrong folder.
  if (length == 0 || length >= kPathBufferSize) return std::nullopt;
  return std::string(path, length);
}

bool IsLeadByte(unsigned char byte) {
  return IsDBCSLeadByte(byte) != FALSE;
}

}  // namespace platform
