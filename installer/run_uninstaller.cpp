// The uninstaller's whole run, read straight down: locate the files, check the livery and begin
// the update, remove the livery's entries, commit, and give the status; from the top again when
// another program changed the file meanwhile.
#include "installer/run_uninstaller.h"

#include "installer/livery_removal.h"
#include "platform/platform.h"

namespace installer {

namespace {

// The removal renumbers sections, which the platform's value writes can only do by moving them to
// the end of the file without their comment lines: the engine edits the file whole. Run again,
// the uninstaller only removes what is still there.
constexpr Program kUninstaller{
    platform::EditMode::kWholeFile, "nothing to remove", kNothingToDo,
    "the entries were removed but not confirmed on disk: running this again is safe"};

}  // namespace

RunStatus UninstallLivery(const InstallerPaths& paths) {
  for (;;) {
    platform::ConfigUpdate update;
    if (const std::optional<RunStatus> refused = CheckLiveryAndBegin(paths, kUninstaller, update)) {
      return *refused;
    }
    const Removal removal = RemoveLiveryEntries(paths);
    if (removal.status != kChanged) {
      // A removal that read livery.ini otherwise than the engine found nothing it can rely on.
      const platform::UpdateResult misread = platform::AbandonConfigUpdate(update);
      if (!misread.ok()) return StatusOfCommit(misread, kUninstaller);
      return Fail(removal.status, removal.message);
    }
    // Made before the commit, so that nothing after it can fail for want of memory.
    const std::string kept =
        removal.kept.empty() ? "" : platform::ShownPath(paths.configuration) + ": " + removal.kept;
    const platform::UpdateResult committed = platform::CommitConfigUpdate(update);
    if (StartsOver(committed)) continue;
    const RunStatus status = StatusOfCommit(committed, kUninstaller);
    if (status == kChanged && !kept.empty()) platform::Report(kept);
    return status;
  }
}

int RunUninstaller() {
  return RunWhole(kUninstaller, UninstallLivery);
}

}  // namespace installer
