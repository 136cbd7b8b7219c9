// Profile reads and writes on Windows. Every file but the configuration file of the run's update
// is read through the platform's own profile functions, one value per call, and each read is
// checked against the engine's. The configuration file's working copy is edited by the engine (a
// kWholeFile update), or through the platform's functions with the engine following every call (a
// kValueWrites update): run_document.h.
#include <windows.h>

#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/windows/run_document.h"

namespace platform {

namespace {

// The run's document when the engine edits `path` whole; else null.
engine::Document* EditedWhole(const char* path) {
  RunDocument* run = RunDocumentFor(path);
  return run != nullptr && run->mode == EditMode::kWholeFile ? &run->document : nullptr;
}

// The engine's document that a platform read of `path` must agree with, or null when the engine
// could not read the file: then it checks nothing, since the platform's defaults would agree with
// its empty document.
const engine::Document* ExpectedDocument(const char* path) {
  if (const RunDocument* run = RunDocumentFor(path)) return &run->document;
  const CheckedFile& file = CheckedDocument(path);
  return file.read ? &file.document : nullptr;
}

}  // namespace

void ReadProfileValue(const char* section, const char* key, const char* defaultText, char* buffer,
                      std::size_t size, const char* path) {
  if (engine::Document* document = EditedWhole(path)) {
    engine::ReadValue(*document, section, key, defaultText, buffer, size);
    return;
  }
  GetPrivateProfileStringA(section, key, defaultText, buffer, static_cast<DWORD>(size), path);
  if (size == 0) return;
  const engine::Document* expected = ExpectedDocument(path);
  std::string wanted(size, '\0');
  if (expected != nullptr) {
    engine::ReadValue(*expected, section, key, defaultText, wanted.data(), size);
  }
  if (expected == nullptr || std::strncmp(wanted.c_str(), buffer, size) != 0) {
    RecordDisagreement();
  }
}

void WriteProfileValue(const char* section, const char* key, const char* text, const char* path) {
  RunDocument* run = RunDocumentFor(path);
  if (run != nullptr) engine::WriteValue(run->document, section, key, text);
  if (run != nullptr && run->mode == EditMode::kWholeFile) return;
  if (!WritePrivateProfileStringA(section, key, text, path)) RecordDisagreement();
}

bool ListProfileSections(const char* path, std::vector<std::string>& names) {
  engine::Document* document = EditedWhole(path);
  if (document != nullptr) names = engine::SectionNames(*document);
  return document != nullptr;
}

bool RemoveProfileSection(const char* section, const char* path) {
  engine::Document* document = EditedWhole(path);
  return document != nullptr && engine::RemoveSection(*document, section);
}

bool RenameProfileSection(const char* section, const char* newName, const char* path) {
  engine::Document* document = EditedWhole(path);
  return document != nullptr && engine::RenameSection(*document, section, newName);
}

SectionState ProbeProfileSection(const char* section, const char* path) {
  if (CheckedDocument(path).bigEndian) return SectionState::kUtf16BigEndian;
  // Only whether anything comes back matters, so a few bytes of the section suffice.
  char entries[16];
  return GetPrivateProfileSectionA(section, entries, sizeof entries, path) > 0
             ? SectionState::kHasEntries
             : SectionState::kEmptyOrMissing;
}

void ForgetProfileFiles() {
  ForgetRunFiles();
}

}  // namespace platform
