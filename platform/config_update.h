// One all-or-nothing update of the configuration file, the same protocol on every system, over
// the few primitives that each system gives (system_files.h).
//
// The calling sequence, one update at a time in a run:
//   BeginConfigUpdate -> the run's profile calls on the file (the edit) ->
//   CommitConfigUpdate, or AbandonConfigUpdate where the edit failed or found nothing to do.
//   A begin or a commit that fails with `changedMeanwhile` (another program changed the file, or
//   kept it from being replaced for now) has ended the update with nothing written: the run may
//   begin again, from the file as it is then, and edit again (installer/program_run.cpp bounds
//   how often). Every ending releases the lock; a process that ends without one (killed, or an
//   exception unwinding) leaves the old file or the whole new one in place, and at most a working
//   copy beside it, which no program reads and the next run replaces.
//
// The states, and what is on disk in each:
// 1. Begun (BeginConfigUpdate succeeded). The run holds the lock that every run replacing the same
//    file waits for, keyed to what the file is, not to how its path is spelled; after the wait the
//    path was found to lead to the locked file still. The file is a regular, writable, 8-bit file,
//    read whole into `document`, and unchanged. Linux: nothing is beside it. Windows, for a
//    kValueWrites edit: the working copy is beside it already, holding the file's bytes, plain.
//    A begin that fails holds nothing and leaves nothing beside the file; `missing` says that there
//    was no file (the folder is no aircraft's, and no file is created in it).
// 2. Editing. Every profile call that names `configurationPath`, as the run formed it, is served
//    by the update (UpdateNaming): from `document`, or, where the system's own profile functions
//    make the edit (EditMode::kValueWrites on Windows), from the working copy, with `document`
//    following every call so that each can be checked. The file itself is unchanged.
// 3. Ended (CommitConfigUpdate or AbandonConfigUpdate). The commit completes the working copy and
//    reads it back, gives it what the file carries, flushes it, puts it in place and flushes the
//    folder, each a step of its own; the copy goes in place only while the file is still the one
//    read, unchanged: a save of another program in the meantime is never overwritten.
//    - ok: the whole edit is in the file, on disk; the old file is gone.
//    - failed, not `inPlace`: the file is as it was, or as another program left it
//      (`changedMeanwhile`), and nothing is left beside it, unless the message says where a save
//      of another program was kept.
//    - failed, `inPlace`: the new file is in place but could not be confirmed on disk, so the run
//      must not report the file unchanged.
#pragma once

#include <cstdint>
#include <string>

#include "engine/profile_document.h"
#include "platform/profile_checks.h"
#include "platform/system_files.h"

namespace platform {

// The largest file that a run reads: one that the process can hold in memory several times over
// while it works on it (as read, as edited, as the platform's profile functions hold it, as read
// back), however little memory is left. Larger ones are refused before anything is read. A 32-bit
// Windows process has 2 GB for all that; no aircraft.cfg comes near either bound.
inline constexpr std::uint64_t kLargestFile =
    sizeof(void*) == 4 ? std::uint64_t{128} << 20 : std::uint64_t{1} << 30;

// How a run's edit reaches the configuration file.
// - kValueWrites: the installer's calling pattern, one value per profile call. Where the system has
//   profile functions of its own (Windows), they make the edit, on the working copy, and the
//   commit puts the copy in place only when every call did what the engine says it must and the
//   copy reads back alike. Elsewhere the engine makes it, as for kWholeFile.
// - kWholeFile: the engine edits `document` (the uninstaller's removal and renumbering, which value
//   writes cannot make without moving sections and losing lines), and the commit writes it whole.
enum class EditMode { kValueWrites, kWholeFile };

struct ConfigUpdate {
  EditMode mode = EditMode::kValueWrites;
  std::string configurationPath;  // as the run formed it: what its profile calls name
  std::string targetPath;         // the file that the commit replaces, where the path leads
  std::string workingPath;        // the working copy beside it
  SystemLock lock;
  FileIdentity identity;       // which file was read
  CarriedTraits carried;       // what it carries besides its bytes
  engine::Document document;   // the file as read, with every edit of the run
  bool platformEdits = false;  // the system's own profile functions edit the working copy
  // The path of the first file (this one's or livery.ini's) on which the system's profile
  // functions did other than the engine says they must, and why (`misreadAs`); empty while they
  // agree.
  std::string misread;
  Misread misreadAs = Misread::kNone;
  bool copyInPlace = false;  // the working copy stands in place of the file
  bool copyKept = false;     // the working copy's name holds another program's save

  ConfigUpdate() = default;
  ConfigUpdate(const ConfigUpdate&) = delete;
  ConfigUpdate& operator=(const ConfigUpdate&) = delete;
  // Ends an update that is still in progress, as AbandonConfigUpdate does, unless its copy is in
  // place: an exception (a failed allocation) that unwinds the run must leave neither the working
  // copy nor the lock behind.
  ~ConfigUpdate();
};

// An empty message means success; otherwise it is one line naming the file and the cause.
struct UpdateResult {
  std::string failure;
  bool inPlace = false;  // with a failure: the new file is in place but not confirmed on disk
  bool missing = false;  // with a failure: there is no configuration file to update
  // With a failure: the system's profile functions read the run's other profile file (livery.ini)
  // as one that does not know its UTF-8 byte order mark, so that there is nothing to install or
  // remove that the run could rely on.
  bool unreadable = false;
  // With a failure: another program changed the file while the run worked on it, and nothing was
  // written; the run may start over from the file as it is now.
  bool changedMeanwhile = false;
  bool ok() const { return failure.empty(); }
};

// Begins the update of the file that `configurationPath` names (state 1). `update` must stay where
// it is until the update ends: the run's profile calls find it there.
UpdateResult BeginConfigUpdate(const std::string& configurationPath, EditMode mode,
                               ConfigUpdate& update);

// Puts the whole edit in place at once, durably, and ends the update (state 3).
UpdateResult CommitConfigUpdate(ConfigUpdate& update);

// Drops the edit and ends the update: the file stays as it was read, nothing is left beside it.
// A failure when a profile read of the run was not what the engine says (RecordDisagreement), so
// that the run's finding that there was nothing to do cannot be trusted.
UpdateResult AbandonConfigUpdate(ConfigUpdate& update);

// Ends the update in progress, if there is one, for a run that cannot go on (the program is being
// ended); then, or after an update that an exception ended, true when the last update to end put
// its copy in place, so that the run must not report the file unchanged.
bool EndUpdateForCrash();

// The update in progress when `path` is the configuration path it was begun with; else null.
ConfigUpdate* UpdateNaming(const char* path);

// Notes that the system's profile functions did other than asked on the file at `path`, as `why`
// says, which stops the commit of the update in progress.
void RecordDisagreement(const char* path, Misread why);

}  // namespace platform
