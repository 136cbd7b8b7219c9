// The run that the installer and the uninstaller share: the two files found from the program's own
// location, the livery file checked, and the configuration file changed as one all-or-nothing
// update under the lock that serializes every run on the aircraft.
// Guarantees: the configuration file is either left exactly as it was or holds the whole change;
// the exit status says which, and it is decided here for both programs: once the new file is in
// place, no run reports it unchanged. A failure is reported in one line naming its file.
#pragma once

#include <string>

#include "installer/installer_paths.h"
#include "platform/platform.h"

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

// What a program does to the configuration file. `paths.configuration` is where its reads and
// writes go during the update; kChanged commits them, any other status drops them.
using ConfigurationEdit = RunStatus (*)(const InstallerPaths& paths);

// What one program does to the configuration file, and what it tells the user.
struct ConfigurationChange {
  ConfigurationEdit edit;
  platform::EditMode mode;  // how the edit reaches the file
  const char* nothingToDo;  // starts the message when the livery has no [fltsim.0] entries
  const char* unconfirmed;  // what status 3 asks of the user, after the cause
  RunStatus whenMissing;    // the status when the aircraft's folder holds no configuration file
};

// Checks that the livery file has [fltsim.0] entries, then makes the change one update of the
// configuration file.
RunStatus EditForLivery(const InstallerPaths& paths, const ConfigurationChange& change);

// The process's whole run: the two files found from the program's own path, then `run` on them.
// Its result is the exit status.
int RunFromOwnLocation(RunStatus (*run)(const InstallerPaths& paths));

}  // namespace installer
