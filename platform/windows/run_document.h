// The profile files of a run on Windows as the profile engine reads them, so that nothing the
// platform's profile functions do is taken on trust: they report success even when a read or a
// write of the file fails, and a failed read gives the default text as if the key were missing.
// - The working copy of the configuration file, for its path (RunDocument):
//   - kWholeFile: the engine's document is the file being edited; every call is served from it.
//   - kValueWrites: the platform's own functions read and write the working copy, and the engine
//     follows each call on the file as it was read: every write is made to the document too.
// - Every other file the run reads through the platform's functions (livery.ini) is read whole
//   once, every result checked, and parsed by the engine (CheckedDocument).
// Every platform read must give what the engine gives; a disagreement, or a write that the
// platform reports as failed, is remembered (Disagreed) and stops the commit.
#pragma once

#include <string>

#include "engine/profile_document.h"
#include "platform/platform.h"

namespace platform {

struct RunDocument {
  std::string path;  // the working copy's path, as the run's profile calls name it
  EditMode mode = EditMode::kValueWrites;
  engine::Document document;  // the file being edited, or what the platform's writes should make
};

// Makes `document` the run's.
void StartRunDocument(RunDocument document);

// The run's document when `path` names its working copy, spelled as the update gave it; else null.
RunDocument* RunDocumentFor(const char* path);

// Forgets the run's document.
void EndRunDocument();

struct CheckedFile {
  engine::Document document;
  bool read = false;       // the whole file was read; otherwise the document is empty
  bool bigEndian = false;  // UTF-16 BE text, which is not read
};

// The file at `path` as the engine reads it, read on first use.
const CheckedFile& CheckedDocument(const char* path);

// Remembers that the platform did other than the engine says it must.
void RecordDisagreement();

// True when a disagreement was recorded since the run's files were last forgotten.
bool Disagreed();

// Forgets every file read and every disagreement, so that a later run starts afresh.
void ForgetRunFiles();

}  // namespace platform
