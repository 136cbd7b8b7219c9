// The configuration file of the run's update on Windows, as the profile engine holds it.
#include "platform/windows/run_document.h"

#include <optional>

namespace platform {

namespace {

// One update at a time: a run updates one configuration file.
std::optional<RunDocument>& Current() {
  static std::optional<RunDocument> current;
  return current;
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

}  // namespace platform
