// Where the livery file and the configuration file lie, from the installer's own path.
#include "installer/installer_paths.h"

#include <cstdio>

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

// The text of `format` with two strings, or nothing when it exceeds the platform's path buffer.
std::optional<std::string> FormatPath(const char* format, const std::string& drive,
                                      const std::string& directory) {
  char buffer[platform::kPathBufferSize];
  const int length = std::snprintf(buffer, sizeof buffer, format, drive.c_str(), directory.c_str());
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof buffer) return std::nullopt;
  return std::string(buffer, static_cast<std::size_t>(length));
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
  std::optional<std::string> livery = FormatPath("%s%s\\livery.ini", parts.drive, parts.directory);
  std::optional<std::string> configuration =
      FormatPath("%s%s\\..\\aircraft.cfg", parts.drive, parts.directory);
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
