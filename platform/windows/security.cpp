// A file's security on Windows, and the decisions that rest on it.
#include "platform/windows/security.h"

#include <sddl.h>  // after windows.h, on which it rests

#include <algorithm>
#include <string_view>

namespace platform {

namespace {

PSID OwnerOf(PSECURITY_DESCRIPTOR descriptor) {
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  return GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ? owner : nullptr;
}

bool SameOwner(PSECURITY_DESCRIPTOR a, PSECURITY_DESCRIPTOR b) {
  const PSID first = OwnerOf(a);
  const PSID second = OwnerOf(b);
  return first != nullptr && second != nullptr && EqualSid(first, second);
}

// The access list's entries as bytes, one after another (its size may hold unused bytes after
// them), and whether there is one at all: a descriptor without one lets everyone do everything.
std::string_view EntriesOf(PSECURITY_DESCRIPTOR descriptor, bool& present) {
  BOOL hasList = FALSE;
  BOOL defaulted = FALSE;
  PACL list = nullptr;
  present = GetSecurityDescriptorDacl(descriptor, &hasList, &list, &defaulted) && hasList &&
            list != nullptr;
  if (!present) return {};
  const char* entries = reinterpret_cast<const char*>(list) + sizeof(ACL);
  const std::size_t room = list->AclSize > sizeof(ACL) ? list->AclSize - sizeof(ACL) : 0;
  std::size_t used = 0;
  for (WORD i = 0; i < list->AceCount && used + sizeof(ACE_HEADER) <= room; ++i) {
    used += reinterpret_cast<const ACE_HEADER*>(entries + used)->AceSize;
  }
  return {entries, std::min(used, room)};
}

bool SameAccessList(PSECURITY_DESCRIPTOR a, PSECURITY_DESCRIPTOR b) {
  bool firstPresent = false;
  bool secondPresent = false;
  const std::string_view first = EntriesOf(a, firstPresent);
  const std::string_view second = EntriesOf(b, secondPresent);
  return firstPresent == secondPresent && first == second;
}

bool Protected(PSECURITY_DESCRIPTOR descriptor) {
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  return GetSecurityDescriptorControl(descriptor, &control, &revision) &&
         (control & SE_DACL_PROTECTED) != 0;
}

// An account's name as the system knows it ("BUILTIN\Administrators"), or its SID where it knows
// none.
std::string NameOf(PSID account) {
  char name[256];
  char domain[256];
  DWORD nameSize = sizeof name;
  DWORD domainSize = sizeof domain;
  SID_NAME_USE use;
  if (account != nullptr &&
      LookupAccountSidA(nullptr, account, name, &nameSize, domain, &domainSize, &use)) {
    return domainSize > 0 ? std::string(domain) + "\\" + name : std::string(name);
  }
  char* text = nullptr;
  if (account == nullptr || !ConvertSidToStringSidA(account, &text)) return "an unknown account";
  std::string spelled = text;
  LocalFree(text);
  return spelled;
}

}  // namespace

bool SecurityOf(const std::string& path, std::string& descriptor) {
  constexpr SECURITY_INFORMATION kWhoMayDoWhat =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  // The descriptor may grow between the call that sizes it and the one that reads it.
  for (DWORD size = 0;;) {
    descriptor.assign(size, '\0');
    if (GetFileSecurityA(path.c_str(), kWhoMayDoWhat, descriptor.data(), size, &size)) return true;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= descriptor.size()) return false;
  }
}

bool SecurityDenies(PSECURITY_DESCRIPTOR descriptor, DWORD access) {
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
  const bool checked = AccessCheck(descriptor, token, access, &mapping, &privileges,
                                   &privilegesSize, &granted, &allowed) != FALSE;
  CloseHandle(token);
  return checked && !allowed;
}

SECURITY_INFORMATION SecurityToGive(PSECURITY_DESCRIPTOR file, PSECURITY_DESCRIPTOR copy) {
  SECURITY_INFORMATION what = 0;
  if (!SameOwner(file, copy)) what |= OWNER_SECURITY_INFORMATION;
  if (!SameAccessList(file, copy) || Protected(file) != Protected(copy)) {
    what |= DACL_SECURITY_INFORMATION;
  }
  return what;
}

DWORD GiveSecurity(const std::string& path, PSECURITY_DESCRIPTOR file, SECURITY_INFORMATION what) {
  HANDLE token = nullptr;
  TOKEN_PRIVILEGES before{};
  DWORD beforeSize = sizeof before;
  bool enabled = false;
  if ((what & OWNER_SECURITY_INFORMATION) != 0 &&
      OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    TOKEN_PRIVILEGES restore{};
    restore.PrivilegeCount = 1;
    restore.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    // A token without the privilege is told apart by ERROR_NOT_ALL_ASSIGNED; the owner may still
    // be this user's own, which takes none.
    enabled = LookupPrivilegeValueA(nullptr, SE_RESTORE_NAME, &restore.Privileges[0].Luid) &&
              AdjustTokenPrivileges(token, FALSE, &restore, sizeof before, &before, &beforeSize) &&
              GetLastError() == ERROR_SUCCESS;
  }
  // The descriptor carries the access list's protection from inheritance among its control bits,
  // which the system takes with the list.
  const DWORD given = SetFileSecurityA(path.c_str(), what, file) ? ERROR_SUCCESS : GetLastError();
  if (enabled) AdjustTokenPrivileges(token, FALSE, &before, 0, nullptr, nullptr);
  if (token != nullptr) CloseHandle(token);
  return given;
}

std::string SecurityNotCarried(PSECURITY_DESCRIPTOR file, PSECURITY_DESCRIPTOR copy, DWORD given) {
  const bool owner = SameOwner(file, copy);
  const bool list = SameAccessList(file, copy);
  std::string lost;
  if (owner && list && Protected(file) == Protected(copy)) return lost;
  if (!owner && (given == ERROR_INVALID_OWNER || given == ERROR_PRIVILEGE_NOT_HELD ||
                 given == ERROR_ACCESS_DENIED)) {
    const std::string name = NameOf(OwnerOf(file));
    return lost.append("its owner, ")
        .append(name)
        .append(", cannot be given to a new file by this user: run the installer as ")
        .append(name)
        .append(", or as an administrator");
  }
  return lost.append("a new file would not keep its ")
      .append(!owner  ? "owner"
              : !list ? "access list"
                      : "access list's protection from inheritance")
      .append(
          ", so it was left as it was: set its permissions again (Properties, Security) and "
          "run again, or make the change by hand");
}

}  // namespace platform
