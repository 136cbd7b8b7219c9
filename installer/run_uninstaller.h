// The uninstaller's whole run: find the two files from the executable's own location, then remove
// the livery's entries from the configuration file as one all-or-nothing update, under the same
// lock as the installer's.
// Guarantees: the configuration file is either left exactly as it was or has lost every entry of
// the livery, the later ones renumbered; the exit status says which (RunStatus), and a failure or
// a run with nothing to remove names its file in one line.
#pragma once

#include "installer/installer_paths.h"
#include "installer/program_run.h"

namespace installer {

// Removes the livery at `paths.livery` from `paths.configuration`.
RunStatus UninstallLivery(const InstallerPaths& paths);

// The process's whole run; its result is the exit status.
int RunUninstaller();

}  // namespace installer
