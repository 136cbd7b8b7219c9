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
  return EditForLivery(paths, "nothing to install", AddEntries, platform::EditMode::kValueWrites);
}

int RunInstaller() {
  return RunFromOwnLocation(InstallLivery);
}

}  // namespace installer
