// Profile reads and writes on Windows, where nothing that the platform's own profile functions do
// is taken on trust: they report success even when a read or a write of the file fails, and a
// failed read gives the default text as if the key were missing.
// - The configuration file of the run's update: the engine edits the update's document (a
//   kWholeFile update), or the platform's functions edit the working copy while the engine
//   follows every call on the document (kValueWrites).
// - Every other file (livery.ini) is read through the platform's functions, and each read is
//   checked against the engine's reading of the file as read once in the run.
// Every platform read, the probe of livery.ini's section included, must give what the engine gives
// (profile_checks.h); a disagreement, or a write that the platform reports as failed, stops the
// update's commit. A call that fails because another program holds the file is tried again,
// within the run's one back-off, and past it the file is held by another program.
#include <windows.h>

#include <string>

#include "platform/config_update.h"
#include "platform/platform.h"
#include "platform/profile_checks.h"
#include "platform/run_files.h"
#include "platform/system_files.h"
#include "platform/windows/file_io.h"

namespace platform {

namespace {

// The update's document when the engine edits `path` whole; else null.
engine::Document* EditedWhole(const char* path) {
  ConfigUpdate* update = UpdateNaming(path);
  return update != nullptr && !update->platformEdits ? &update->document : nullptr;
}

// The file that the platform's functions work on for `path`: the working copy of the update's.
const char* PlatformPath(const char* path) {
  const ConfigUpdate* update = UpdateNaming(path);
  return update != nullptr ? update->workingPath.c_str() : path;
}

// The engine's document that a platform read of `path` must agree with, or null when the engine
// could not read the file, which then fails every check of it.
const engine::Document* ExpectedDocument(const char* path) {
  if (const ConfigUpdate* update = UpdateNaming(path)) return &update->document;
  const RunFile& file = FileReadInRun(path);
  return file.read ? &file.document : nullptr;
}

}  // namespace

bool HasProfileFunctions() {
  return true;
}

void ForgetProfileCache(const std::string& path) {
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, path.c_str());
}

void ReadProfileValue(const char* section, const char* key, const char* defaultText, char* buffer,
                      std::size_t size, const char* path) {
  if (engine::Document* document = EditedWhole(path)) {
    engine::ReadValue(*document, section, key, defaultText, buffer, size);
    return;
  }
  const auto read = [&] {
    GetPrivateProfileStringA(section, key, defaultText, buffer, static_cast<DWORD>(size),
                             PlatformPath(path));
  };
  if (size == 0) return read();
  const engine::Document* expected = ExpectedDocument(path);
  // A read that another program's hold of the file made fail gives the default text, as if the
  // key were missing, and says why only in the last error.
  const bool agreed = RetryWhileHeld([&] {
    SetLastError(ERROR_SUCCESS);
    read();
    return expected != nullptr &&
           ValueReadAgrees(*expected, section, key, defaultText, buffer, size);
  });
  if (agreed) return;
  const bool withoutMark = expected != nullptr && ValueReadAgrees(*expected, section, key,
                                                                  defaultText, buffer, size, true);
  RecordDisagreement(path, HeldByAnother(GetLastError()) ? Misread::kHeld
                           : withoutMark                 ? Misread::kByteOrderMark
                                                         : Misread::kOther);
}

void WriteProfileValue(const char* section, const char* key, const char* text, const char* path) {
  ConfigUpdate* update = UpdateNaming(path);
  if (update != nullptr) engine::WriteValue(update->document, section, key, text);
  if (update != nullptr && !update->platformEdits) return;
  if (!RetryWhileHeld(
          [&] { return WritePrivateProfileStringA(section, key, text, PlatformPath(path)); })) {
    RecordDisagreement(path, HeldByAnother(GetLastError()) ? Misread::kHeld : Misread::kOther);
  }
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
  const RunFile& file = FileReadInRun(path);
  if (file.bigEndian) return SectionState::kUtf16BigEndian;
  if (file.tooLarge) return SectionState::kTooLarge;
  if (file.held) return SectionState::kHeld;
  // A file that the run's own read found missing, unreadable or no regular file has nothing for
  // the platform to find either.
  if (!file.read) return SectionState::kEmptyOrMissing;
  // Only whether anything comes back matters, so a few bytes of the section suffice.
  char entries[16];
  const bool hasEntries = RetryWhileHeld([&] {
    SetLastError(ERROR_SUCCESS);
    return GetPrivateProfileSectionA(section, entries, sizeof entries, path) > 0;
  });
  if (!hasEntries && HeldByAnother(GetLastError())) return SectionState::kHeld;
  switch (SectionProbeMisread(file.document, section, hasEntries)) {
    case Misread::kByteOrderMark:
      return SectionState::kMarkNotRead;
    case Misread::kNone:
      break;
    default:
      return SectionState::kMisread;
  }
  return engine::SectionHasEntries(file.document, section) ? SectionState::kHasEntries
                                                           : SectionState::kEmptyOrMissing;
}

}  // namespace platform
