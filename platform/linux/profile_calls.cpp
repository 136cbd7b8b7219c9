// The platform's profile calls on Linux, which has no profile functions of its own: the profile
// engine serves every call, from the configuration update's document for the file it updates and
// from the file as read once in the run for any other. Writes change only the document in memory;
// the update commits them to disk.
#include "engine/profile_document.h"
#include "platform/config_update.h"
#include "platform/platform.h"
#include "platform/run_files.h"
#include "platform/system_files.h"

namespace platform {

namespace {

// What a call on `path` reads and edits. A file outside an update is never written to disk, so an
// edit of it stays in memory; none of the programs makes one.
engine::Document& DocumentFor(const char* path) {
  if (ConfigUpdate* update = UpdateNaming(path)) return update->document;
  return FileReadInRun(path).document;
}

}  // namespace

bool HasProfileFunctions() {
  return false;
}

void ForgetProfileCache(const std::string&) {}

void ReadProfileValue(const char* section, const char* key, const char* defaultText, char* buffer,
                      std::size_t size, const char* path) {
  engine::ReadValue(DocumentFor(path), section, key, defaultText, buffer, size);
}

void WriteProfileValue(const char* section, const char* key, const char* text, const char* path) {
  engine::WriteValue(DocumentFor(path), section, key, text);
}

bool ListProfileSections(const char* path, std::vector<std::string>& names) {
  names = engine::SectionNames(DocumentFor(path));
  return true;
}

bool RemoveProfileSection(const char* section, const char* path) {
  return engine::RemoveSection(DocumentFor(path), section);
}

bool RenameProfileSection(const char* section, const char* newName, const char* path) {
  return engine::RenameSection(DocumentFor(path), section, newName);
}

SectionState ProbeProfileSection(const char* section, const char* path) {
  const RunFile& file = FileReadInRun(path);
  if (file.ambiguous) return SectionState::kAmbiguousFile;
  if (file.bigEndian) return SectionState::kUtf16BigEndian;
  if (file.tooLarge) return SectionState::kTooLarge;
  return engine::SectionHasEntries(file.document, section) ? SectionState::kHasEntries
                                                           : SectionState::kEmptyOrMissing;
}

}  // namespace platform
