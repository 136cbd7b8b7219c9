// What the configuration file carries besides its bytes on Windows, and how its new copy comes to
// carry the same. A file with several names is refused: a new file under one name would leave the
// others naming the old one. The copy takes the file's hidden, system and archive attributes; the
// move itself keeps the replaced file's security on Windows, which is therefore not compared there
// (a copy made by an elevated run inherits entries in another form). Under Wine no Windows call
// gives a new file the old one's Unix owner, group or mode, and the security descriptor that Wine
// makes of them is compared instead: where it differs, the run refuses rather than change who may
// do what with the file.
#include <windows.h>

#include "platform/system_files.h"
#include "platform/windows/file_io.h"

namespace platform {

namespace {

constexpr DWORD kCarriedAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
constexpr SECURITY_INFORMATION kWhoMayDoWhat =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
constexpr const char* kSecurity = "security descriptor";

bool UnderWine() {
  static const bool wine =
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
  return wine;
}

// The owner, group and access list of the file at `path`, as the platform gives them.
bool SecurityOf(const std::string& path, std::string& descriptor) {
  DWORD size = 0;
  GetFileSecurityA(path.c_str(), kWhoMayDoWhat, nullptr, 0, &size);
  if (size == 0) return false;
  descriptor.assign(size, '\0');
  return GetFileSecurityA(path.c_str(), kWhoMayDoWhat, descriptor.data(), size, &size) != FALSE;
}

// What the open file carries; false when it cannot be examined or is not the file read.
bool ExamineHeld(HANDLE file, const FileIdentity& identity, CarriedTraits& traits) {
  BY_HANDLE_FILE_INFORMATION information{};
  FileIdentity examined;
  if (!GetFileInformationByHandle(file, &information) || !IdentityOf(file, examined) ||
      examined != identity) {
    return false;
  }
  traits.names = information.nNumberOfLinks;
  traits.mode = information.dwFileAttributes & kCarriedAttributes;
  return true;
}

}  // namespace

SystemResult ReadCarriedTraits(const SystemLock& lock, const std::string& target,
                               const FileIdentity& identity, CarriedTraits& traits) {
  traits = {};
  bool examined = false;
  if (lock.file != -1) {
    examined = ExamineHeld(reinterpret_cast<HANDLE>(lock.file), identity, traits);
  } else {
    const HANDLE file = CreateFileA(target.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    examined = file != INVALID_HANDLE_VALUE && ExamineHeld(file, identity, traits);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
  std::string security;
  if (!examined || (UnderWine() && !SecurityOf(target, security))) {
    return {SystemFault::kFailed, target, "examine it"};
  }
  if (UnderWine()) traits.named.emplace_back(kSecurity, std::move(security));
  if (traits.names > 1) {
    return {SystemFault::kCannotKeep, target,
            "has " + std::to_string(traits.names) +
                " names (hard links); a new file would separate them: give each name a file of "
                "its own, or remove the other names"};
  }
  return {};
}

SystemResult GiveCarriedTraits(const SystemLock&, const std::string& copy, const std::string&,
                               const CarriedTraits& traits) {
  // The copy stays plain until now, while the platform's profile functions write it; from here it
  // has the file's own attributes, and aircraft.cfg becomes hidden only if it was.
  const DWORD attributes = traits.mode != 0 ? traits.mode : FILE_ATTRIBUTE_NORMAL;
  if (!RetryWhileHeld([&] { return SetFileAttributesA(copy.c_str(), attributes) != FALSE; })) {
    return {SystemFault::kFailed, copy, "be given the file's attributes"};
  }
  return {};
}

SystemResult CopyCarries(const SystemLock&, const std::string& copy, const std::string& target,
                         const CarriedTraits& traits) {
  const DWORD attributes = GetFileAttributesA(copy.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (kCarriedAttributes | FILE_ATTRIBUTE_READONLY)) != traits.mode) {
    return {SystemFault::kCannotKeep, target,
            "the new copy did not take the file's attributes, so it was not put in place"};
  }
  for (const auto& [name, value] : traits.named) {
    std::string security;
    if (name == kSecurity && (!SecurityOf(copy, security) || security != value)) {
      return {SystemFault::kCannotKeep, target,
              "its owner or permissions on Linux would change: under Wine a new file is this "
              "user's, with the usual mode; run the Linux installer, which keeps them"};
    }
  }
  return {};
}

}  // namespace platform
