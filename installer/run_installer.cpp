// The installer's whole run, from the executable's own path to the committed update.
#include "installer/run_installer.h"

#include "installer/livery_entries.h"
#include "platform/platform.h"
#include "profile/entry_numbering.h"

namespace installer {

namespace {

std::optional<InstallerPaths> FormInstallerPaths(const std::string& executablePath) {
#ifdef _WIN32
  return FormWindowsInstallerPaths(SplitDriveAndDirectory(executablePath, platform::IsLeadByte));
#else
  return FormPosixInstallerPaths(executablePath);
#endif
}

InstallStatus Fail(InstallStatus status, const std::string& message) {
  platform::ReportFailure(message);
  return status;
}

InstallStatus CheckLivery(const std::string& liveryPath) {
  const std::string source = profile::EntrySectionName(0);
  switch (platform::ProbeProfileSection(source.c_str(), liveryPath.c_str())) {
    case platform::SectionState::kHasEntries:
      return kInstalled;
    case platform::SectionState::kAmbiguousFile:
      return Fail(kNotUpdated, liveryPath + ": several files match this name in all but case");
    case platform::SectionState::kEmptyOrMissing:
      break;
  }
  return Fail(kNothingToInstall,
              liveryPath + ": nothing to install (missing, unreadable, or no [fltsim.0] entries)");
}

InstallStatus InstallCheckedLivery(const InstallerPaths& paths) {
  platform::ConfigUpdate update;
  const platform::UpdateResult begun = platform::BeginConfigUpdate(paths.configuration, update);
  if (!begun.ok()) return Fail(kNotUpdated, begun.failure);
  InstallLiveryEntries(InstallerPaths{paths.livery, update.workingPath});
  const platform::UpdateResult committed = platform::CommitConfigUpdate(update);
  if (committed.ok()) return kInstalled;
  if (committed.inPlace) {
    return Fail(kUnconfirmed,
                committed.failure + "; do not run the installer again, or the entries will double");
  }
  return Fail(kNotUpdated, committed.failure);
}

}  // namespace

InstallStatus InstallLivery(const InstallerPaths& paths) {
  InstallStatus status = CheckLivery(paths.livery);
  if (status == kInstalled) status = InstallCheckedLivery(paths);
  platform::ForgetProfileFiles();
  return status;
}

int RunInstaller() {
  const std::optional<std::string> executablePath = platform::ExecutablePath();
  const std::optional<InstallerPaths> paths =
      executablePath ? FormInstallerPaths(*executablePath) : std::nullopt;
  if (!paths) {
    return Fail(kNotUpdated, "the installer's own location does not fit the platform's paths");
  }
  return InstallLivery(*paths);
}

}  // namespace installer
