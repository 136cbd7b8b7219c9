// The uninstaller's whole run: the shared run, with the livery's entries removed as its edit.
#include "installer/run_uninstaller.h"

#include "installer/livery_removal.h"

namespace installer {

RunStatus UninstallLivery(const InstallerPaths& paths) {
  // The removal renumbers sections, which the platform's value writes can only do by moving them
  // to the end of the file without their comment lines: the engine edits the file whole. Run
  // again, it only removes what is still there.
  return EditForLivery(
      paths, {RemoveLiveryEntries, platform::EditMode::kWholeFile, "nothing to remove",
              "the entries were removed but not confirmed on disk: running this again is safe",
              kNothingToDo});
}

int RunUninstaller() {
  return RunFromOwnLocation(UninstallLivery);
}

}  // namespace installer
