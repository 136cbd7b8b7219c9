// The uninstaller's whole run: the shared run, with the livery's entries removed as its edit.
#include "installer/run_uninstaller.h"

#include "installer/livery_removal.h"

namespace installer {

RunStatus UninstallLivery(const InstallerPaths& paths) {
  return EditForLivery(paths, "nothing to remove", RemoveLiveryEntries);
}

int RunUninstaller() {
  return RunFromOwnLocation(UninstallLivery);
}

}  // namespace installer
