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

struct Store {
  std::unordered_map<std::string, LoadedFile> files;
  // The file used last: the numbering reads one file many times in a row, so most lookups end
  // here without hashing the path. Values of the map keep their address until erased.
  std::string lastPath;
  LoadedFile* last = nullptr;
};

Store& TheStore() {
  static Store store;
  return store;
}

std::unordered_map<std::string, LoadedFile>& Files() {
  TheStore().last = nullptr;  // whoever asks for the map may change it
  return TheStore().files;
}

// The file's bytes, or empty when it is missing, cannot be read or is no regular file: it then
// reads as defaults.
LoadedFile Load(const std::string& path) {
  const linux_files::FoundName found = linux_files::FindFileIgnoringCase(path);
  LoadedFile file;
  linux_files::ByteBuffer bytes;
  file.ambiguous = found.match == linux_files::NameMatch::kAmbiguous;
  const int fd = file.ambiguous ? -1 : linux_files::OpenRegularFile(AT_FDCWD, found.path).fd;
  if (fd >= 0) {
    if (linux_files::ReadWholeFile(fd, bytes) != 0) bytes = {};
    close(fd);
  }
  file.document = profile_engine::ParseProfile(std::move(bytes));
  return file;
}

LoadedFile& FileFor(const char* path) {
  Store& store = TheStore();
  if (store.last != nullptr && store.lastPath == path) return *store.last;
  auto found = store.files.find(path);
  if (found == store.files.end()) found = store.files.emplace(path, Load(path)).first;
  store.lastPath = path;
  store.last = &found->second;
  return found->second;
}

}  // namespace

void AdoptDocument(const std::string& path, profile_engine::ProfileDocument document) {
  Files().insert_or_assign(path, LoadedFile{std::move(document), false});
}

const profile_engine::ProfileDocument* LoadedDocument(const std::string& path) {
  const auto found = TheStore().files.find(path);
  return found == TheStore().files.end() ? nullptr : &found->second.document;
}

void DropDocument(const std::string& path) {
  Files().erase(path);
}

}  // namespace linux_profiles

namespace platform {

void ReadProfileValue(const char* section, const char* key, const char* defaultText, char* buffer,
                      std::size_t size, const char* path) {
  if (size == 0) return;
  const std::optional<std::string_view> value =
      profile_engine::FindProfileValue(linux_profiles::FileFor(path).document, section, key);
  const std::string_view text = value ? *value : std::string_view(defaultText);
  const std::size_t length = std::min(text.size(), size - 1);
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
}

void WriteProfileValue(const char* section, const char* key, const char* text, const char* path) {
  profile_engine::SetProfileValue(linux_profiles::FileFor(path).document, section, key, text);
}

bool ListProfileSections(const char* path, std::vector<std::string>& names) {
  names.clear();
  for (const std::string_view name :
       profile_engine::ProfileSectionNames(linux_profiles::FileFor(path).document)) {
    names.emplace_back(name);
  }
  return true;
}

bool RemoveProfileSection(const char* section, const char* path) {
  return profile_engine::RemoveProfileSection(linux_profiles::FileFor(path).document, section);
}

bool RenameProfileSection(const char* section, const char* newName, const char* path) {
  return profile_engine::RenameProfileSection(linux_profiles::FileFor(path).document, section,
                                              newName);
}

SectionState ProbeProfileSection(const char* section, const char* path) {
  const linux_profiles::LoadedFile& file = linux_profiles::FileFor(path);
  if (file.ambiguous) return SectionState::kAmbiguousFile;
  return profile_engine::SectionHasEntries(file.document, section) ? SectionState::kHasEntries
                                                                   : SectionState::kEmptyOrMissing;
}

void ForgetProfileFiles() {
  linux_profiles::Files().clear();
}

}  // namespace platform
