// Listing, removing and renaming sections of a profile file on Windows, through the platform's own
// profile functions. A rename reads the section's entries and writes them under the new name, then
// removes the section: the profile functions offer no rename, and they only ever reach the first
// section of a name, so a rename onto a name that already has entries is refused rather than
// merged. A failed write is recorded, so that the configuration update is not committed.
#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/platform.h"
#include "platform/windows/profile_writes.h"

namespace platform {

namespace {

// The whole list of zero-terminated strings that `call` fills into a buffer of the given size,
// without the list's closing zero. The platform fills a buffer that is too small to two bytes
// short of its size, so the buffer grows until the list ends sooner. False when it never does.
template <typename Call>
bool WholeList(Call call, std::string& list) {
  for (DWORD size = 4096; size <= (DWORD{1} << 30); size *= 2) {
    list.assign(size, '\0');
    const DWORD length = call(list.data(), size);
    if (length + 2 < size) {
      list.resize(length);
      return true;
    }
  }
  return false;
}

}  // namespace

bool ListProfileSections(const char* path, std::vector<std::string>& names) {
  names.clear();
  std::string list;
  const bool whole = WholeList(
      [&](char* buffer, DWORD size) { return GetPrivateProfileSectionNamesA(buffer, size, path); },
      list);
  for (std::size_t at = 0; at < list.size();) {
    const std::size_t end = std::min(list.find('\0', at), list.size());
    names.push_back(list.substr(at, end - at));
    at = end + 1;
  }
  return whole;
}

bool RemoveProfileSection(const char* section, const char* path) {
  if (WritePrivateProfileStringA(section, nullptr, nullptr, path)) return true;
  RecordWriteFailure();
  return false;
}

bool RenameProfileSection(const char* section, const char* newName, const char* path) {
  if (ProbeProfileSection(newName, path) == SectionState::kHasEntries) return false;
  std::string entries;
  if (!WholeList([&](char* buffer,
                     DWORD size) { return GetPrivateProfileSectionA(section, buffer, size, path); },
                 entries)) {
    return false;
  }
  entries.push_back('\0');  // the list ends in two zeroes: this one and the string's own
  if (!WritePrivateProfileSectionA(newName, entries.c_str(), path)) {
    RecordWriteFailure();
    return false;
  }
  return RemoveProfileSection(section, path);
}

}  // namespace platform
