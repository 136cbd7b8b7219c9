// The installer's whole run: the shared run, with the four entries written as its edit.
#include "installer/run_installer.h"

#include "installer/livery_entries.h"

namespace installer {

namespace {

RunStatus AddEntries(const InstallerPaths& paths) {
  InstallLiveryEntries(paths);
  return kChanged;
}

}  // namespace

RunStatus InstallLivery(const InstallerPaths& paths) {
  // Run again, the installer would add every entry a second time.
  return EditForLivery(paths, {AddEntries, platform::EditMode::kValueWrites, "nothing to install",
                               "it holds the change: do not run this again", kNotUpdated});
}

int RunInstaller() {
  return RunFromOwnLocation(InstallLivery);
}

}  // namespace installer
