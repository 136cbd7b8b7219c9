// The steps that the installer's and the uninstaller's runs share, each returning a plain result:
// where the two files lie, the check of the livery file with the begin of the configuration
// update, and the exit status of its commit. Each run reads straight down: locate, check the
// livery and begin, edit, commit, status, from the top again when another program changed the
// file meanwhile.
// Guarantees: once the new file is in place, no run reports it unchanged; every status but 0 is
// reported, in one line naming its file.
#pragma once

#include <optional>
#include <string>

#include "installer/installer_paths.h"
#include "platform/config_update.h"

namespace installer {

// The exit status of both programs.
enum RunStatus : int {
  kChanged = 0,      // the livery's entries were added (setup) or removed (uninstall)
  kNothingToDo = 1,  // nothing to install or to remove; nothing was written
  kNotUpdated = 2,   // the configuration file could not be updated and is unchanged
  kUnconfirmed = 3,  // the change was put in place but could not be confirmed on disk
};

// Reports why the run stopped and gives back `status`.
RunStatus Fail(RunStatus status, const std::string& message);

// What sets one program's run apart from the other's.
struct Program {
  platform::EditMode mode;  // how its edit reaches the configuration file
  const char* nothingToDo;  // starts the message when the livery has no [fltsim.0] entries
  RunStatus whenMissing;    // the status when the aircraft's folder holds no configuration file
  const char* unconfirmed;  // what status 3 asks of the user, after the cause
};

// Checks that the livery file has [fltsim.0] entries, reading the run's files afresh, then begins
// the update of the configuration file. The status that ends the run, reported, when either
// fails; nothing when the update has begun.
std::optional<RunStatus> CheckLiveryAndBegin(const InstallerPaths& paths, const Program& program,
                                             platform::ConfigUpdate& update);

// True when the run is to start over, the whole edit again from the file as it is now: another
// program changed the configuration file while the run worked on it, and the run has made fewer
// than six attempts. It first waits, longer after each.
bool StartsOver(const platform::UpdateResult& committed);

// The status of a commit: kChanged, or reported: kUnconfirmed, kNotUpdated, or kNothingToDo where
// the platform read the livery file otherwise than the engine.
RunStatus StatusOfCommit(const platform::UpdateResult& committed, const Program& program);

// The status of a run that an exception ended (a failed allocation, say), to be called while it
// is being handled: kUnconfirmed when the update had put its copy in place, else kNotUpdated,
// the file as it was and nothing beside it. Reported, where memory is left for that.
RunStatus StatusAfterException(const Program& program);

// A program's whole run: its two files located, then `onLivery` run on them (the install or the
// removal), and the status of an exception that ends it.
int RunWhole(const Program& program, RunStatus (*onLivery)(const InstallerPaths&));

}  // namespace installer
