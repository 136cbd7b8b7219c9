// A file's security on Windows, and the decisions that rest on it.
#include "platform/windows/security.h"

namespace platform {

bool SecurityOf(const std::string& path, std::string& descriptor) {
  constexpr SECURITY_INFORMATION kWhoMayDoWhat =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD size = 0;
  GetFileSecurityA(path.c_str(), kWhoMayDoWhat, nullptr, 0, &size);
  if (size == 0) return false;
  descriptor.assign(size, '\0');
  return GetFileSecurityA(path.c_str(), kWhoMayDoWhat, descriptor.data(), size, &size) != FALSE;
}

bool SecurityDeniesWriting(PSECURITY_DESCRIPTOR descriptor) {
  // The check takes a token that may impersonate: a copy of this process's own.
  HANDLE process = nullptr;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &process)) return false;
  const bool copied = DuplicateToken(process, SecurityIdentification, &token) != FALSE;
  CloseHandle(process);
  if (!copied) return false;
  GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                          FILE_ALL_ACCESS};
  PRIVILEGE_SET privileges{};
  DWORD privilegesSize = sizeof privileges;
  DWORD granted = 0;
  BOOL allowed = FALSE;
  const bool checked =
      AccessCheck(descriptor, token, FILE_GENERIC_READ | FILE_GENERIC_WRITE, &mapping, &privileges,
                  &privilegesSize, &granted, &allowed) != FALSE;
  CloseHandle(token);
  return checked && !allowed;
}

}  // namespace platform
