// Where the livery file and the configuration file lie, from the installer's own path.
#include "installer/installer_paths.h"

namespace installer {

namespace {

// Length of the directory part of `path` from `start`: up to and including the last separator.
std::size_t DirectoryLength(const std::string& path, std::size_t start, LeadByteTest isLeadByte) {
  std::size_t end = start;
  for (std::size_t i = start; i < path.size(); ++i) {
    const auto byte = static_cast<unsigned char>(path[i]);
    if (isLeadByte(byte) && i + 1 < path.size()) {
      ++i;  // the trail byte may be 0x5C, the backslash, without being a separator
    } else if (byte == '\\' || byte == '/') {
      end = i + 1;
    }
  }
  return end - start;
}

// The drive, the directory and `rest`, as the platform's format "%s%s" followed by `rest` prints
// them, or nothing when that exceeds the platform's path buffer. Joined by hand rather than
// printed: the Windows runtime's formatted printing would be a tenth of each program.
std::optional<std::string> FormatPath(const std::string& drive, const std::string& directory,
                                      const char* rest) {
  std::string path = drive + directory + rest;
  if (path.size() >= platform::kPathBufferSize) return std::nullopt;
  return path;
}

}  // namespace

DriveAndDirectory SplitDriveAndDirectory(const std::string& path, LeadByteTest isLeadByte) {
  DriveAndDirectory parts;
  const bool hasDrive = path.size() >= 2 && path[1] == ':';
  if (hasDrive) parts.drive = path.substr(0, 2);
  const std::size_t start = parts.drive.size();
  parts.directory = path.substr(start, DirectoryLength(path, start, isLeadByte));
  return parts;
}

std::optional<InstallerPaths> FormWindowsInstallerPaths(const DriveAndDirectory& parts) {
  std::optional<std::string> livery = FormatPath(parts.drive, parts.directory, "\\livery.ini");
  std::optional<std::string> configuration =
      FormatPath(parts.drive, parts.directory, "\\..\\aircraft.cfg");
  if (!livery || !configuration) return std::nullopt;
  return InstallerPaths{*livery, *configuration};
}

InstallerPaths FormPosixInstallerPaths(const std::string& executablePath) {
  // The running executable's path is absolute and free of "." and "..", so the parent directory
  // is the lexical one: the folder a linked livery folder stands in, as the user reached it. An
  // empty directory stands for the root, its own parent.
  const std::size_t lastSlash = executablePath.rfind('/');
  const std::string directory =
      lastSlash == std::string::npos ? "." : executablePath.substr(0, lastSlash);
  const std::size_t parentSlash = directory.rfind('/');
  std::string parent;
  if (directory == ".") {
    parent = "..";
  } else if (parentSlash != std::string::npos) {
    parent = directory.substr(0, parentSlash);
  } else if (!directory.empty()) {
    parent = ".";
  }
  return InstallerPaths{directory + "/livery.ini", parent + "/aircraft.cfg"};
}

}  // namespace installer
