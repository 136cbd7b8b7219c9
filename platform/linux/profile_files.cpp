// The profile files of one run, and the platform's profile reads and writes served from them.
#include "platform/linux/profile_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <map>

#include "engine/unicode_text.h"
#include "platform/linux/file_io.h"
#include "platform/platform.h"

namespace platform {

namespace {

struct LoadedFile {
  engine::Document document;
  bool ambiguous = false;  // several files match the name in all but case; none was read
  bool bigEndian = false;  // UTF-16 big-endian text, which the platform's functions do not read
};

std::map<std::string, LoadedFile, std::less<>>& Files() {
  static std::map<std::string, LoadedFile, std::less<>> files;
  return files;
}

// The file as read, or empty when it is missing, cannot be read or is no regular file: it then
// reads as defaults.
LoadedFile Load(const std::string& path) {
  const FoundName found = FindFileIgnoringCase(path);
  LoadedFile file;
  engine::FileBytes bytes;
  file.ambiguous = found.match == NameMatch::kAmbiguous;
  const int fd = file.ambiguous ? -1 : OpenRegularFile(AT_FDCWD, found.path).fd;
  if (fd >= 0) {
    if (ReadWholeFile(fd, bytes) != 0) bytes = {};
    close(fd);
  }
  file.bigEndian = bytes.text.starts_with(engine::kUtf16BeByteOrderMark);
  file.document = engine::ParseProfileFile(std::move(bytes));
  return file;
}

LoadedFile& FileFor(std::string_view path) {
  auto found = Files().find(path);
  if (found == Files().end()) {
    const std::string name(path);
    found = Files().emplace(name, Load(name)).first;
  }
  return found->second;
}

}  // namespace

void AdoptDocument(const std::string& path, engine::Document document) {
  Files().insert_or_assign(path, LoadedFile{std::move(document), false});
}

const engine::Document* LoadedDocument(const std::string& path) {
  const auto found = Files().find(path);
  return found == Files().end() ? nullptr : &found->second.document;
}

void DropDocument(const std::string& path) {
  Files().erase(path);
}

void ReadProfileValue(const char* section, const char* key, const char* defaultText, char* buffer,
                      std::size_t size, const char* path) {
  engine::ReadValue(FileFor(path).document, section, key, defaultText, buffer, size);
}

void WriteProfileValue(const char* section, const char* key, const char* text, const char* path) {
  engine::WriteValue(FileFor(path).document, section, key, text);
}

bool ListProfileSections(const char* path, std::vector<std::string>& names) {
  names = engine::SectionNames(FileFor(path).document);
  return true;
}

bool RemoveProfileSection(const char* section, const char* path) {
  return engine::RemoveSection(FileFor(path).document, section);
}

bool RenameProfileSection(const char* section, const char* newName, const char* path) {
  return engine::RenameSection(FileFor(path).document, section, newName);
}

SectionState ProbeProfileSection(const char* section, const char* path) {
  const LoadedFile& file = FileFor(path);
  if (file.ambiguous) return SectionState::kAmbiguousFile;
  if (file.bigEndian) return SectionState::kUtf16BigEndian;
  return engine::SectionHasEntries(file.document, section) ? SectionState::kHasEntries
                                                           : SectionState::kEmptyOrMissing;
}

void ForgetProfileFiles() {
  Files().clear();
}

}  // namespace platform
