// What the logic of the installer and the uninstaller asks of the operating system: its own
// executable's path, reading and writing single values of profile files, listing, removing and
// renaming their sections, and updating the configuration file as one step.
// Each platform has one implementation of every function declared here (platform/linux,
// platform/windows); the logic above never calls the operating system directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// The full path of the running executable, or nothing when it cannot be had whole (a path cut
// short by a fixed buffer is never returned).
std::optional<std::string> ExecutablePath();

// True for a byte that starts a double-byte character in the active 8-bit code page.
bool IsLeadByte(unsigned char byte);

// Reads one value of one section of a profile file into `buffer`, the way the platform's profile
// read works: the default text when the file, the section or the key does not exist, otherwise the
// value cut to fit; the buffer is zero-terminated in every case. A value written earlier in the run
// with WriteProfileValue is seen.
void ReadProfileValue(const char* section, const char* key, const char* defaultText, char* buffer,
                      std::size_t size, const char* path);

// Writes one value into one section of a profile file, adding the section or the key when needed.
// Writes to a file under a ConfigUpdate take effect on disk only when the update is committed.
void WriteProfileValue(const char* section, const char* key, const char* text, const char* path);

// The names of the sections of a profile file, as spelled and in the file's order; a name that
// heads several sections is listed for each. False when the platform could not list them all.
// These three are served by the profile engine, for the configuration file of a kWholeFile update.
bool ListProfileSections(const char* path, std::vector<std::string>& names);

// Removes the first section named `section` from a profile file, with its lines up to the next
// header, except the comment lines that end it (they are about what follows). False when the
// platform could not.
bool RemoveProfileSection(const char* section, const char* path);

// Gives the first section named `section` the name `newName`, spelled as given, keeping its
// lines. False when the platform could not.
bool RenameProfileSection(const char* section, const char* newName, const char* path);

enum class SectionState { kHasEntries, kEmptyOrMissing, kAmbiguousFile, kUtf16BigEndian };

// Whether `section` of the profile file at `path` holds at least one entry. kAmbiguousFile: the
// file's name matches several files that differ only in case, so none is read. kUtf16BigEndian:
// the file is UTF-16 big-endian text, which the platform's profile functions do not read (the
// Windows build cannot tell it from a file without the section).
SectionState ProbeProfileSection(const char* section, const char* path);

// How a run's edit reaches the configuration file during an update.
// - kValueWrites: the platform's profile reads and writes, one value per call (the installer's
//   calling pattern). On Windows they are the platform's own functions, working on a copy of the
//   file; the engine follows every call on the file as read, and the commit puts the copy in place
//   only when the engine agrees with every read and reads the copy back alike.
// - kWholeFile: the profile engine edits the file held in memory, and the commit writes it whole
//   (the uninstaller's removal and renumbering, which value writes cannot make without moving
//   sections and losing lines).
// The Linux build serves both from the engine.
enum class EditMode { kValueWrites, kWholeFile };

// One all-or-nothing update of the configuration file, held from the first read to the commit.
struct ConfigUpdate {
  EditMode mode = EditMode::kValueWrites;
  std::string targetPath;   // the file that the commit replaces
  std::string workingPath;  // the path that the run's profile reads and writes go to
  std::intptr_t lock = -1;  // the platform's handle of the lock that serializes runs
};

// An empty message means success; otherwise it is one line naming the file and the cause.
struct UpdateResult {
  std::string failure;
  // With a failure: the new file is already in place, but could not be confirmed on disk, so the
  // configuration file must not be reported as unchanged.
  bool inPlace = false;
  // With a failure: there is no configuration file to update (the failure names its folder). The
  // run then creates none: a folder without one is no aircraft's.
  bool missing = false;
  bool ok() const { return failure.empty(); }
};

// Waits for the lock of the file that `configurationPath` finally names (through links, and
// however its path is spelled, every run that would replace the same file waits for the same
// lock), then prepares it for the run's reads and writes. Refuses, without waiting on it, a file
// that cannot be updated without damage (read-only, not a regular file, UTF-16).
UpdateResult BeginConfigUpdate(const std::string& configurationPath, ConfigUpdate& update);

// Puts every write of the run in place at once, durably, then releases the lock. On failure the
// configuration file is left as it was and nothing is left beside it, unless `inPlace` says that
// the new file was put in place and only its confirmation on disk failed.
UpdateResult CommitConfigUpdate(ConfigUpdate& update);

// Drops the run's writes and releases the lock; the configuration file is left as it was.
void AbandonConfigUpdate(ConfigUpdate& update);

// Forgets every profile file read in this run, so that a later run reads them afresh.
void ForgetProfileFiles();

// Tells the user why the run stopped: one line on the error stream where there is one.
void ReportFailure(const std::string& message);

}  // namespace platform
