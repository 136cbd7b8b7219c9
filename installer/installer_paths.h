// Where the livery file and the configuration file lie, worked out from the installer's own path:
// livery.ini in the executable's directory, aircraft.cfg in that directory's parent.
// Guarantees: the split never takes the second byte of a double-byte character for a separator,
// and a Windows path that would not fit the platform's 260-byte path buffers is refused, never cut.
#pragma once

#include <optional>
#include <string>

#include "platform/platform.h"

namespace installer {

struct InstallerPaths {
  std::string livery;         // the livery's profile file, livery.ini
  std::string configuration;  // the aircraft's configuration file, aircraft.cfg
};

// True for a byte that starts a double-byte character in the active code page.
using LeadByteTest = bool (*)(unsigned char);

struct DriveAndDirectory {
  std::string drive;      // "C:" or empty
  std::string directory;  // up to and including the last separator, or empty
};

// Splits a Windows-style path ("\" or "/" separators) into its drive and its directory.
DriveAndDirectory SplitDriveAndDirectory(const std::string& path, LeadByteTest isLeadByte);

// The two paths with the platform's formats "%s%s\livery.ini" and "%s%s\..\aircraft.cfg";
// nothing when either would exceed 259 characters.
std::optional<InstallerPaths> FormWindowsInstallerPaths(const DriveAndDirectory& parts);

// The two paths for a "/"-separated absolute path of a running executable: no length limit.
InstallerPaths FormPosixInstallerPaths(const std::string& executablePath);

}  // namespace installer
