// The installer's whole run, read straight down: locate the files, check the livery and begin the
// update, write the four entries, commit, and give the status.
#include "installer/run_installer.h"

#include "installer/livery_entries.h"

namespace installer {

namespace {

// Run again, the installer would add every entry a second time.
constexpr Program kInstaller{platform::EditMode::kValueWrites, "nothing to install", kNotUpdated,
                             "it holds the change: do not run this again"};

}  // namespace

RunStatus InstallLivery(const InstallerPaths& paths) {
  platform::ConfigUpdate update;
  if (const std::optional<RunStatus> refused = CheckLiveryAndBegin(paths, kInstaller, update)) {
    return *refused;
  }
  InstallLiveryEntries(paths);
  return StatusOfCommit(platform::CommitConfigUpdate(update), kInstaller);
}

int RunInstaller() {
  const std::optional<InstallerPaths> paths = LocateFiles();
  return paths ? InstallLivery(*paths) : kNotUpdated;
}

}  // namespace installer
