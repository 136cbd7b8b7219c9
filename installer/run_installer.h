// The installer's whole run: find the two files from the executable's own location, then install
// the livery's four entries into the configuration file as one all-or-nothing update.
// Guarantees: the configuration file is either left exactly as it was or holds all four new
// entries; the exit status says which (InstallStatus): once the new file is in place the run never
// reports it unchanged. A failure names its file in one line.
#pragma once

#include "installer/installer_paths.h"

namespace installer {

enum InstallStatus : int {
  kInstalled = 0,         // the four entries are in the configuration file
  kNothingToInstall = 1,  // the livery file is missing, unreadable or has no [fltsim.0] entries
  kNotUpdated = 2,        // the configuration file could not be updated and is unchanged
  kUnconfirmed = 3,       // the four entries were put in place but could not be confirmed on disk
};

// Installs the livery at `paths.livery` into `paths.configuration`.
InstallStatus InstallLivery(const InstallerPaths& paths);

// The process's whole run; its result is the exit status.
int RunInstaller();

}  // namespace installer
