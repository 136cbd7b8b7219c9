// The profile files of a run on Windows as the profile engine reads them.
#include "platform/windows/run_document.h"

#include <map>
#include <optional>

#include "engine/unicode_text.h"
#include "platform/windows/file_io.h"

namespace platform {

namespace {

// One update at a time: a run updates one configuration file.
std::optional<RunDocument>& Current() {
  static std::optional<RunDocument> current;
  return current;
}

std::map<std::string, CheckedFile, std::less<>>& CheckedFiles() {
  static std::map<std::string, CheckedFile, std::less<>> files;
  return files;
}

bool& DisagreementSeen() {
  static bool seen = false;
  return seen;
}

CheckedFile Load(const char* path) {
  CheckedFile file;
  std::string bytes;
  file.read = ReadWholeFile(path, bytes);
  if (!file.read) bytes.clear();
  file.bigEndian = bytes.starts_with(engine::kUtf16BeByteOrderMark);
  file.document = engine::ParseProfileFile(engine::OwnedBytes(std::move(bytes)));
  return file;
}

}  // namespace

void StartRunDocument(RunDocument document) {
  Current() = std::move(document);
}

RunDocument* RunDocumentFor(const char* path) {
  std::optional<RunDocument>& current = Current();
  return current && current->path == path ? &*current : nullptr;
}

void EndRunDocument() {
  Current().reset();
}

const CheckedFile& CheckedDocument(const char* path) {
  auto found = CheckedFiles().find(std::string_view(path));
  if (found == CheckedFiles().end()) found = CheckedFiles().emplace(path, Load(path)).first;
  return found->second;
}

void RecordDisagreement() {
  DisagreementSeen() = true;
}

bool Disagreed() {
  return DisagreementSeen();
}

void ForgetRunFiles() {
  CheckedFiles().clear();
  DisagreementSeen() = false;
}

}  // namespace platform
