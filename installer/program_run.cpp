// The run that the installer and the uninstaller share, from the program's own path to the
// committed update.
#include "installer/program_run.h"

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

RunStatus CheckLivery(const std::string& liveryPath, const char* nothingToDo) {
  const std::string source = profile::EntrySectionName(0);
  switch (platform::ProbeProfileSection(source.c_str(), liveryPath.c_str())) {
    case platform::SectionState::kHasEntries:
      return kChanged;
    case platform::SectionState::kAmbiguousFile:
      return Fail(kNotUpdated, liveryPath + ": several files match this name in all but case");
    case platform::SectionState::kUtf16BigEndian:
      return Fail(kNothingToDo, liveryPath + ": " + nothingToDo +
                                    " (UTF-16 big-endian text, which is not read: "
                                    "save it as UTF-16 LE, UTF-8 or ANSI text)");
    case platform::SectionState::kEmptyOrMissing:
      break;
  }
  return Fail(kNothingToDo,
              liveryPath + ": " + nothingToDo + " (missing, unreadable, or no [fltsim.0] entries)");
}

RunStatus UpdateConfiguration(const InstallerPaths& paths, const ConfigurationChange& change) {
  platform::ConfigUpdate update;
  update.mode = change.mode;
  const platform::UpdateResult begun = platform::BeginConfigUpdate(paths.configuration, update);
  if (begun.missing) {
    return Fail(change.whenMissing,
                begun.failure + "; a livery folder belongs directly in the aircraft's folder");
  }
  if (!begun.ok()) return Fail(kNotUpdated, begun.failure);
  const RunStatus edited = change.edit(InstallerPaths{paths.livery, update.workingPath});
  if (edited != kChanged) {
    platform::AbandonConfigUpdate(update);
    return edited;
  }
  const platform::UpdateResult committed = platform::CommitConfigUpdate(update);
  if (committed.ok()) return kChanged;
  if (committed.inPlace) {
    return Fail(kUnconfirmed, committed.failure + "; " + change.unconfirmed);
  }
  return Fail(kNotUpdated, committed.failure);
}

}  // namespace

RunStatus Fail(RunStatus status, const std::string& message) {
  platform::ReportFailure(message);
  return status;
}

RunStatus EditForLivery(const InstallerPaths& paths, const ConfigurationChange& change) {
  RunStatus status = CheckLivery(paths.livery, change.nothingToDo);
  if (status == kChanged) status = UpdateConfiguration(paths, change);
  platform::ForgetProfileFiles();
  return status;
}

int RunFromOwnLocation(RunStatus (*run)(const InstallerPaths& paths)) {
  const std::optional<std::string> executablePath = platform::ExecutablePath();
  const std::optional<InstallerPaths> paths =
      executablePath ? FormInstallerPaths(*executablePath) : std::nullopt;
  if (!paths) {
    return Fail(kNotUpdated, "the program's own location does not fit the platform's paths");
  }
  return run(*paths);
}

}  // namespace installer
