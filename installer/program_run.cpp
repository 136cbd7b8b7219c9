// The steps that the installer's and the uninstaller's runs share.
#include "installer/program_run.h"

#include <chrono>
#include <exception>
#include <new>
#include <thread>

#include "platform/platform.h"
#include "platform/profile_checks.h"
#include "platform/run_files.h"
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

std::optional<RunStatus> RefuseLivery(const std::string& path, const char* nothingToDo) {
  const std::string source = profile::EntrySectionName(0);
  const std::string liveryPath = platform::ShownPath(path);
  switch (platform::ProbeProfileSection(source.c_str(), path.c_str())) {
    case platform::SectionState::kHasEntries:
      return std::nullopt;
    case platform::SectionState::kAmbiguousFile:
      return Fail(kNotUpdated, liveryPath + ": several files match this name in all but case");
    case platform::SectionState::kTooLarge:
      return Fail(kNotUpdated, liveryPath + ": " + platform::TooLargeCause());
    case platform::SectionState::kHeld:
      return Fail(kNotUpdated, liveryPath + ": " + platform::HeldCause());
    case platform::SectionState::kMarkNotRead:
      return Fail(kNothingToDo, liveryPath + ": " + nothingToDo + ": " +
                                    platform::MisreadCause(platform::Misread::kByteOrderMark));
    case platform::SectionState::kMisread:
      return Fail(kNotUpdated,
                  liveryPath + ": " + platform::MisreadCause(platform::Misread::kOther));
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

// The two files, found from the program's own location; nothing, reported, when that location
// cannot be had whole or does not fit the platform's paths.
std::optional<InstallerPaths> LocateFiles() {
  bool notInCodePage = false;
  const std::optional<std::string> executablePath = platform::ExecutablePath(notInCodePage);
  std::optional<InstallerPaths> paths =
      executablePath ? FormInstallerPaths(*executablePath) : std::nullopt;
  if (notInCodePage) {
    platform::Report(
        "the folder's path holds characters that the system's code page cannot represent");
  } else if (!paths) {
    platform::Report("the program's own location does not fit the platform's paths");
  }
  return paths;
}

}  // namespace

RunStatus Fail(RunStatus status, const std::string& message) {
  platform::Report(message);
  return status;
}

std::optional<RunStatus> CheckLiveryAndBegin(const InstallerPaths& paths, const Program& program,
                                             platform::ConfigUpdate& update) {
  platform::ForgetProfileFiles();
  if (const std::optional<RunStatus> refused = RefuseLivery(paths.livery, program.nothingToDo)) {
    return refused;
  }
  const platform::UpdateResult begun =
      platform::BeginConfigUpdate(paths.configuration, program.mode, update);
  if (begun.ok()) return std::nullopt;
  if (begun.missing) {
    return Fail(program.whenMissing,
                begun.failure + "; a livery folder belongs directly in the aircraft's folder");
  }
  return Fail(kNotUpdated, begun.failure);
}

bool StartsOver(const platform::UpdateResult& committed) {
  static int changes = 0;  // per process, and so per run
  if (!committed.changedMeanwhile) return false;
  constexpr int kMostAttempts = 6;
  if (++changes >= kMostAttempts) return false;
  // 25 ms, doubling, so that a program that saves the file often, or slowly, gets ever more time
  // to finish between two attempts.
  std::this_thread::sleep_for(std::chrono::milliseconds(25 << (changes - 1)));
  return true;
}

RunStatus StatusOfCommit(const platform::UpdateResult& committed, const Program& program) {
  if (committed.ok()) return kChanged;
  if (committed.unreadable) return Fail(kNothingToDo, committed.failure);
  if (committed.inPlace) return Fail(kUnconfirmed, committed.failure + "; " + program.unconfirmed);
  return Fail(kNotUpdated, committed.failure);
}

RunStatus StatusAfterException(const Program& program) {
  const bool inPlace = platform::EndUpdateForCrash();
  const RunStatus status = inPlace ? kUnconfirmed : kNotUpdated;
  try {
    std::string cause = "an unexpected failure";
    try {
      throw;
    } catch (const std::bad_alloc&) {
      cause = "not enough memory";
    } catch (const std::exception& exception) {
      cause = exception.what();
    } catch (...) {
    }
    platform::Report("the run stopped: " + cause + "; " +
                     (inPlace ? program.unconfirmed : "nothing was changed"));
  } catch (...) {
    // Not even the report could be made; the status says it all.
  }
  return status;
}

int RunWhole(const Program& program, RunStatus (*onLivery)(const InstallerPaths&)) {
  try {
    const std::optional<InstallerPaths> paths = LocateFiles();
    return paths ? onLivery(*paths) : kNotUpdated;
  } catch (...) {
    return StatusAfterException(program);
  }
}

}  // namespace installer
