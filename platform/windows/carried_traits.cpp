// What the configuration file carries besides its bytes on Windows, and how its new copy comes to
// carry the same, or the run refuses before anything is put in place:
// - A file with several names is refused: a new file under one name would leave the others naming
//   the old one.
// - The copy takes the file's named streams (a download's mark, Zone.Identifier, among them) and
//   its hidden, system and archive attributes once the platform's profile functions have written
//   it; compression or encryption that the copy did not take from its folder as the file has it
//   is refused.
// - On Windows the copy is given the file's owner and access list, with its protection from
//   inheritance, as read at the start (a move within a volume keeps the moved file's own
//   descriptor, so the file's would otherwise be lost), and is checked to carry them.
// - Under Wine a security descriptor is made of the Unix owner and mode, and one given to a file
//   is turned into a mode that is not always the file's: there nothing is given, and the copy's
//   descriptor is compared with the file's instead; where it differs, the run refuses rather than
//   change who may do what with the file.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <iterator>

#include "platform/system_files.h"
#include "platform/windows/file_io.h"
#include "platform/windows/paths.h"
#include "platform/windows/security.h"

namespace platform {

namespace {

constexpr DWORD kCarriedAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
// What a new file takes from its folder, not from the run.
constexpr DWORD kStorageAttributes = FILE_ATTRIBUTE_COMPRESSED | FILE_ATTRIBUTE_ENCRYPTED;
constexpr const char* kSecurity = "security descriptor";

bool UnderWine() {
  static const bool wine =
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
  return wine;
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
  traits.mode = information.dwFileAttributes & (kCarriedAttributes | kStorageAttributes);
  return true;
}

// Named streams are carried as traits named as the system spells them (":Zone.Identifier:$DATA"),
// in UTF-8; no other trait's name starts with a colon.
bool IsStream(const std::string& trait) {
  return trait.starts_with(':');
}

// Appends each named stream of the file at `path` to `named`, with its bytes; false when one could
// not be read. A file system that keeps no streams lists none.
bool ReadStreams(const std::string& path, std::uint64_t most,
                 std::vector<std::pair<std::string, std::string>>& named) {
  const std::wstring wide = WidePath(path);
  WIN32_FIND_STREAM_DATA stream;
  const HANDLE streams = FindFirstStreamW(wide.c_str(), FindStreamInfoStandard, &stream, 0);
  if (streams == INVALID_HANDLE_VALUE) return true;
  bool read = true;
  do {
    if (std::wcscmp(stream.cStreamName, L"::$DATA") == 0) continue;  // the file's own bytes
    std::string bytes;
    HANDLE file = INVALID_HANDLE_VALUE;
    read = static_cast<std::uint64_t>(stream.StreamSize.QuadPart) <= most && RetryWhileHeld([&] {
             file = CreateFileW((wide + stream.cStreamName).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
             return file != INVALID_HANDLE_VALUE;
           }) &&
           ReadOpenFile(file, bytes);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    char name[3 * MAX_PATH + 64] = {};
    WideCharToMultiByte(CP_UTF8, 0, stream.cStreamName, -1, name, sizeof name - 1, nullptr,
                        nullptr);
    named.emplace_back(name, std::move(bytes));
  } while (read && FindNextStreamW(streams, &stream));
  FindClose(streams);
  return read;
}

// Gives the copy at `path` each named stream among `named`; false when one could not be written.
// The copy is new, so each is created, never replaced.
bool WriteStreams(const std::string& path,
                  const std::vector<std::pair<std::string, std::string>>& named) {
  for (const auto& [name, bytes] : named) {
    if (!IsStream(name)) continue;
    wchar_t wideName[MAX_PATH + 64] = {};
    MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, wideName, MAX_PATH + 63);
    HANDLE file = INVALID_HANDLE_VALUE;
    const bool written = RetryWhileHeld([&] {
                           file = CreateFileW((WidePath(path) + wideName).c_str(), GENERIC_WRITE, 0,
                                              nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
                           return file != INVALID_HANDLE_VALUE;
                         }) &&
                         WriteOpenFile(file, {bytes});
    if (file != INVALID_HANDLE_VALUE && !CloseHandle(file)) return false;
    if (!written) return false;
  }
  return true;
}

// The file's security descriptor, as ReadCarriedTraits read it; null where it read none.
PSECURITY_DESCRIPTOR SecurityRead(const CarriedTraits& traits) {
  for (const auto& [name, value] : traits.named) {
    if (name == kSecurity) return const_cast<char*>(value.data());
  }
  return nullptr;
}

}  // namespace

SystemResult ReadCarriedTraits(const SystemLock& lock, const std::string& target,
                               const FileIdentity& identity, std::uint64_t most,
                               CarriedTraits& traits) {
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
  if (!examined || !SecurityOf(target, security)) return Failed(target, "examine it");
  traits.named.emplace_back(kSecurity, std::move(security));
  if (!ReadStreams(target, most, traits.named)) return Failed(target, "read its streams");
  return {};
}

SystemResult GiveCarriedTraits(const SystemLock&, const std::string& copy,
                               const std::string& target, const CarriedTraits& traits) {
  // The copy stays plain until now, while the platform's profile functions write it, and while
  // its streams are written; from here it has the file's own attributes, and aircraft.cfg becomes
  // hidden only if it was.
  if (!WriteStreams(copy, traits.named)) return Failed(target, "give the new copy its streams");
  const DWORD carried = traits.mode & kCarriedAttributes;
  const DWORD attributes = carried != 0 ? carried : FILE_ATTRIBUTE_NORMAL;
  if (!RetryWhileHeld([&] { return SetFileAttributesA(copy.c_str(), attributes) != FALSE; })) {
    return Failed(target, "give the new copy the file's attributes");
  }
  if (UnderWine()) return {};
  const PSECURITY_DESCRIPTOR file = SecurityRead(traits);
  std::string created;
  if (file == nullptr || !SecurityOf(copy, created)) return Failed(target, "examine the new copy");
  const SECURITY_INFORMATION what = SecurityToGive(file, created.data());
  const DWORD given = what != 0 ? GiveSecurity(copy, file, what) : ERROR_SUCCESS;
  if (given == ERROR_SUCCESS) return {};
  const std::string lost =
      SecurityOf(copy, created) ? SecurityNotCarried(file, created.data(), given) : "";
  if (lost.empty()) {
    SetLastError(given);
    return Failed(target, "give the new copy the file's security");
  }
  return {SystemFault::kCannotKeep, target, lost};
}

SystemResult CopyCarries(const SystemLock&, const std::string& copy, const std::string& target,
                         const CarriedTraits& traits) {
  const DWORD attributes = GetFileAttributesA(copy.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return Failed(target, "examine the new copy");
  if ((attributes & kStorageAttributes) != (traits.mode & kStorageAttributes)) {
    return {SystemFault::kCannotKeep, target,
            "is compressed or encrypted unlike its folder, which a new file takes after: make "
            "them alike (Properties, Advanced) and run again"};
  }
  if ((attributes & (kCarriedAttributes | FILE_ATTRIBUTE_READONLY)) !=
      (traits.mode & kCarriedAttributes)) {
    return {SystemFault::kCannotKeep, target,
            "the new copy did not take the file's attributes, so it was not put in place"};
  }
  std::vector<std::pair<std::string, std::string>> streams;
  std::vector<std::pair<std::string, std::string>> carried;
  std::copy_if(traits.named.begin(), traits.named.end(), std::back_inserter(carried),
               [](const auto& trait) { return IsStream(trait.first); });
  const bool read = ReadStreams(copy, UINT64_MAX, streams);
  std::sort(streams.begin(), streams.end());
  std::sort(carried.begin(), carried.end());
  if (!read || streams != carried) {
    return {SystemFault::kCannotKeep, target,
            "the new copy did not take the file's named streams, so it was not put in place"};
  }
  const PSECURITY_DESCRIPTOR file = SecurityRead(traits);
  std::string security;
  if (file == nullptr || !SecurityOf(copy, security)) return Failed(target, "examine the new copy");
  if (UnderWine()) {
    // Under Wine a descriptor is made of the Unix owner and mode: alike, byte for byte, or not.
    const DWORD length = GetSecurityDescriptorLength(file);
    if (GetSecurityDescriptorLength(security.data()) == length &&
        std::memcmp(security.data(), file, length) == 0) {
      return {};
    }
    return {SystemFault::kCannotKeep, target,
            "its owner or permissions on Linux would change: under Wine a new file is this "
            "user's, with the usual mode; run the Linux installer, which keeps them"};
  }
  const std::string lost = SecurityNotCarried(file, security.data(), ERROR_SUCCESS);
  if (lost.empty()) return {};
  return {SystemFault::kCannotKeep, target, lost};
}

}  // namespace platform
