// The profile files that a run reads without updating them (livery.ini), in one place for every
// system: each is read whole on its first use and kept until the run's files are forgotten, so
// that every read of it in the run sees the same bytes, however often it is read.
#pragma once

#include "engine/profile_document.h"

namespace platform {

struct RunFile {
  engine::Document document;  // as the engine reads it; empty when the file could not be read
  bool read = false;          // the whole file was read
  bool ambiguous = false;     // several files match its name in all but case, so none was read
  bool held = false;          // another program held it for longer than the run may wait
  bool bigEndian = false;     // UTF-16 big-endian text, which is not read
  bool tooLarge = false;      // larger than the largest file a run takes, so none of it was read
};

// The file at `path`, read on first use.
RunFile& FileReadInRun(const char* path);

// Forgets every file read, so that a later run in the same process reads them afresh.
void ForgetProfileFiles();

}  // namespace platform
