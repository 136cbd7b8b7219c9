// The profile files that a run reads without updating them, read once each.
#include "platform/run_files.h"

#include <map>
#include <string>

#include "engine/unicode_text.h"
#include "platform/config_update.h"
#include "platform/system_files.h"

namespace platform {

namespace {

std::map<std::string, RunFile, std::less<>>& Files() {
  static std::map<std::string, RunFile, std::less<>> files;
  return files;
}

RunFile Load(const std::string& path) {
  RunFile file;
  engine::FileBytes bytes;
  const SystemResult read = ReadProfileFile(path, kLargestFile, bytes);
  file.read = read.ok();
  file.ambiguous = read.fault == SystemFault::kAmbiguousName;
  file.held = read.fault == SystemFault::kHeld;
  file.tooLarge = read.fault == SystemFault::kTooLarge;
  if (!file.read) bytes = {};
  file.bigEndian = bytes.text.starts_with(engine::kUtf16BeByteOrderMark);
  file.document = engine::ParseProfileFile(std::move(bytes));
  return file;
}

}  // namespace

RunFile& FileReadInRun(const char* path) {
  auto found = Files().find(std::string_view(path));
  if (found == Files().end()) found = Files().emplace(path, Load(path)).first;
  return found->second;
}

void ForgetProfileFiles() {
  Files().clear();
}

}  // namespace platform
