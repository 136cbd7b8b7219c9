// The profile files of one run, each read and parsed at most once and then served from memory by
// the profile engine (engine/profile_document.h). Writes change only the document in memory; the
// configuration update commits them to disk.
#pragma once

#include <string>

#include "engine/profile_document.h"

namespace platform {

// Hands the run a document already loaded for `path` (the configuration update loads its file
// under its lock); later reads and writes of `path` use it.
void AdoptDocument(const std::string& path, engine::Document document);

// The run's document for `path`, or null when the run has not loaded it.
const engine::Document* LoadedDocument(const std::string& path);

// Drops the run's document for `path`, and with it every write made to it.
void DropDocument(const std::string& path);

}  // namespace platform
