// The profile files of one run, and the platform's profile reads and writes served from them.
#include "platform/linux/profile_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "platform/linux/file_io.h"
#include "platform/platform.h"

namespace linux_profiles {

namespace {

struct LoadedFile {
  profile_engine::ProfileDocument document;
  bool ambiguous = false;  // several files match the name in all but case; none was read
};

std::unordered_map<std::string, LoadedFile>& Files() {
  static std::unordered_map<std::string, LoadedFile> files;
  return files;
}

// The file's bytes, or empty when it is missing or cannot be read: it then reads as defaults.
LoadedFile Load(const std::string& path) {
  const linux_files::DirectoryAndName parts = linux_files::SplitDirectoryAndName(path);
  const linux_files::FoundName found = linux_files::FindNameIgnoringCase(parts.directory, parts.name);
  LoadedFile file;
  std::string bytes;
  file.ambiguous = found.match == linux_files::NameMatch::kAmbiguous;
  const int fd = file.ambiguous
                     ? -1
                     : open((parts.directory + "/" + found.name).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    if (linux_files::ReadWholeFile(fd, bytes) != 0) bytes.clear();
    close(fd);
  }
  file.document = profile_engine::ParseProfile(std::move(bytes));
  return file;
}

LoadedFile& FileFor(const std::string& path) {
  auto found = Files().find(path);
  if (found == Files().end()) found = Files().emplace(path, Load(path)).first;
  return found->second;
}

}  // namespace

void AdoptDocument(const std::string& path, profile_engine::ProfileDocument document) {
  Files().insert_or_assign(path, LoadedFile{std::move(document), false});
}

const profile_engine::ProfileDocument* LoadedDocument(const std::string& path) {
  const auto found = Files().find(path);
  return found == Files().end() ? nullptr : &found->second.document;
}

void DropDocument(const std::string& path) { Files().erase(path); }

}  // namespace linux_profiles

namespace platform {

void ReadProfileString(const char* section, const char* key, const char* defaultText, char* buffer,
                       std::size_t size, const char* path) {
  if (size == 0) return;
  const std::optional<std::string_view> value = profile_engine::FindProfileValue(
      linux_profiles::FileFor(path).document, section, key);
  const std::string_view text = value ? *value : std::string_view(defaultText);
  const std::size_t length = std::min(text.size(), size - 1);
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
}

void WriteProfileString(const char* section, const char* key, const char* text, const char* path) {
  profile_engine::SetProfileValue(linux_profiles::FileFor(path).document, section, key, text);
}

SectionState ProbeProfileSection(const char* section, const char* path) {
  const linux_profiles::LoadedFile& file = linux_profiles::FileFor(path);
  if (file.ambiguous) return SectionState::kAmbiguousFile;
  return profile_engine::SectionHasEntries(file.document, section) ? SectionState::kHasEntries
                                                                   : SectionState::kEmptyOrMissing;
}

void ForgetProfileFiles() { linux_profiles::Files().clear(); }

}  // namespace platform
