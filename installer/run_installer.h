// The installer's whole run: find the two files from the executable's own location, then install
// the livery's four entries into the configuration file as one all-or-nothing update.
// Guarantees: the configuration file is either left exactly as it was or holds all four new
// entries; the exit status says which (RunStatus), and a failure names its file in one line.
#pragma once

#include "installer/installer_paths.h"
#include "installer/program_run.h"

namespace installer {

// Installs the livery at `paths.livery` into `paths.configuration`.
RunStatus InstallLivery(const InstallerPaths& paths);

// The process's whole run; its result is the exit status.
int RunInstaller();

}  // namespace installer
