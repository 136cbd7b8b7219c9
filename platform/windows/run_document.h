// The configuration file of the run's update on Windows, as the profile engine holds it, for the
// working copy's path: the profile calls that name that path are served or followed from here.
// - kWholeFile: the engine's document is the file being edited; every call is served from it.
// - kValueWrites: the platform's own functions read and write the working copy, and the engine
//   follows each call on the file as it was read: every write is made to the document too, and
//   every read must give what the engine gives. What the platform's functions do is trusted for
//   nothing that has not been checked, so any disagreement, and any write that the platform
//   reports as failed, is remembered and stops the commit.
#pragma once

#include <string>

#include "engine/profile_document.h"
#include "platform/platform.h"

namespace platform {

struct RunDocument {
  std::string path;  // the working copy's path, as the run's profile calls name it
  EditMode mode = EditMode::kValueWrites;
  engine::Document document;  // the file being edited, or what the platform's writes should make
  bool disagreed = false;     // a read gave other than the engine, or a write reported failure
};

// Makes `document` the run's.
void StartRunDocument(RunDocument document);

// The run's document when `path` names its working copy, spelled as the update gave it; else null.
RunDocument* RunDocumentFor(const char* path);

// Forgets the run's document.
void EndRunDocument();

}  // namespace platform
