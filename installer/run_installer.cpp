// The installer's whole run, read straight down: locate the files, check the livery and begin the
// update, write the four entries, commit, and give the status; from the top again when another
// program changed the file meanwhile.
#include "installer/run_installer.h"

#include "installer/livery_entries.h"

namespace installer {

namespace {

// Run again, the installer would add every entry a second time.
constexpr Program kInstaller{platform::EditMode::kValueWrites, "nothing to install", kNotUpdated,
                             "it holds the change: do not run this again"};

}  // namespace

RunStatus InstallLivery(const InstallerPaths& paths) {
  for (;;) {
    platform::ConfigUpdate update;
    if (const std::optional<RunStatus> refused = CheckLiveryAndBegin(paths, kInstaller, update)) {
      return *refused;
    }
    InstallLiveryEntries(paths);
    const platform::UpdateResult committed = platform::CommitConfigUpdate(update);
    if (!StartsOver(committed)) return StatusOfCommit(committed, kInstaller);
  }
}

int RunInstaller() {
  return RunWhole(kInstaller, InstallLivery);
}

}  // namespace installer
