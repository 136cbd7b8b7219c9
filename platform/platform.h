// What the logic of the installer and the uninstaller asks of the operating system: its own
// executable's path, reading and writing single values of profile files, listing, removing and
// renaming their sections, and telling the user why a run stopped. Each platform has one
// implementation of every function declared here (platform/linux, platform/windows); the update
// of the configuration file as one step is the same on both (config_update.h). The logic above
// never calls the operating system directly.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// The platform's path limit: a path buffer of 260 bytes holds at most 259 characters.
inline constexpr std::size_t kPathBufferSize = 260;

// The full path of the running executable, or nothing when it cannot be had whole and exact: a
// path cut short by a fixed buffer is never returned, nor one that the 8-bit code page cannot
// represent (`notInCodePage` then says so), whose 8-bit spelling may name another folder.
std::optional<std::string> ExecutablePath(bool& notInCodePage);

// True for a byte that starts a double-byte character in the active 8-bit code page.
bool IsLeadByte(unsigned char byte);

// Reads one value of one section of a profile file into `buffer`, the way the platform's profile
// read works: the default text when the file, the section or the key does not exist, otherwise the
// value cut to fit; the buffer is zero-terminated in every case. A value written earlier in the run
// with WriteProfileValue is seen.
void ReadProfileValue(const char* section, const char* key, const char* defaultText, char* buffer,
                      std::size_t size, const char* path);

// Writes one value into one section of a profile file, adding the section or the key when needed.
// Writes to the file of a configuration update take effect on disk only when it is committed.
void WriteProfileValue(const char* section, const char* key, const char* text, const char* path);

// The names of the sections of a profile file, as spelled and in the file's order; a name that
// heads several sections is listed for each. False when the platform could not list them all.
// These three are served by the profile engine, for the configuration file of an update.
bool ListProfileSections(const char* path, std::vector<std::string>& names);

// Removes the first section named `section` from a profile file, with its lines up to the next
// header, except the comment lines that end it (they are about what follows). False when the
// platform could not.
bool RemoveProfileSection(const char* section, const char* path);

// Gives the first section named `section` the name `newName`, spelled as given, keeping its
// lines. False when the platform could not.
bool RenameProfileSection(const char* section, const char* newName, const char* path);

enum class SectionState {
  kHasEntries,
  kEmptyOrMissing,
  kAmbiguousFile,
  kUtf16BigEndian,
  kTooLarge,
  kHeld,
  kMarkNotRead,
  kMisread
};

// Whether `section` of the profile file at `path` holds at least one entry. kAmbiguousFile: the
// file's name matches several files that differ only in case, so none is read. kUtf16BigEndian:
// the file is UTF-16 big-endian text, which the platform's profile functions do not read (the
// Windows build cannot tell it from a file without the section). kTooLarge: the file is larger
// than a run takes (TooLargeCause), and none of it is read. kHeld: another program held the file
// for longer than the run may wait (HeldCause). kMarkNotRead, kMisread: where the system has
// profile functions of its own, they found no entries where the engine finds some, as a reader that
// does not know the file's UTF-8 byte order mark would, or otherwise (profile_checks.h).
SectionState ProbeProfileSection(const char* section, const char* path);

// Why a file larger than a run takes is refused.
std::string TooLargeCause();

// Why a file that another program held for longer than the run may wait is not read or updated.
std::string HeldCause();

// The path as the user is shown it. The Windows programs form their two paths by joining their
// folder, which ends in a separator, and the name with a separator of its own
// ("...\Livery\\livery.ini", "...\Livery\\..\aircraft.cfg"), which the platform reads as one and
// which the profile calls keep using; shown, the two are one.
std::string ShownPath(std::string path);

// Tells the user one line: why the run stopped, or what it left alone. It goes to the error stream
// where there is one.
void Report(const std::string& message);

}  // namespace platform
