// Where the installer looks for its two files, given its own path, on Windows and on Linux.
#include <gtest/gtest.h>

#include <string>

#include "installer/installer_paths.h"

namespace {

using installer::FormPosixInstallerPaths;
using installer::FormWindowsInstallerPaths;
using installer::SplitDriveAndDirectory;

bool NoLeadBytes(unsigned char) {
  return false;
}

// Shift-JIS lead bytes: 0x81-0x9F and 0xE0-0xFC.
bool ShiftJisLeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

installer::InstallerPaths WindowsPaths(const std::string& executable,
                                       installer::LeadByteTest isLeadByte = NoLeadBytes) {
  return FormWindowsInstallerPaths(SplitDriveAndDirectory(executable, isLeadByte)).value();
}

TEST(WindowsInstallerPaths, SplitsDriveAndDirectoryOfTypicalPaths) {
  const installer::DriveAndDirectory parts =
      SplitDriveAndDirectory("C:\\Sim\\Jet\\Livery\\setup.exe", NoLeadBytes);
  EXPECT_EQ(parts.drive, "C:");
  EXPECT_EQ(parts.directory, "\\Sim\\Jet\\Livery\\");
  const installer::InstallerPaths paths = WindowsPaths("C:\\Sim\\Jet\\Livery\\setup.exe");
  EXPECT_EQ(paths.livery, "C:\\Sim\\Jet\\Livery\\\\livery.ini");
  EXPECT_EQ(paths.configuration, "C:\\Sim\\Jet\\Livery\\\\..\\aircraft.cfg");
}

TEST(WindowsInstallerPaths, HandlesShareRootForwardSlashesAndBarePaths) {
  const installer::InstallerPaths share = WindowsPaths("\\\\server\\sim\\Jet\\Livery\\setup.exe");
  EXPECT_EQ(share.livery, "\\\\server\\sim\\Jet\\Livery\\\\livery.ini");
  EXPECT_EQ(share.configuration, "\\\\server\\sim\\Jet\\Livery\\\\..\\aircraft.cfg");

  const installer::InstallerPaths root = WindowsPaths("C:\\setup.exe");
  EXPECT_EQ(root.livery, "C:\\\\livery.ini");
  EXPECT_EQ(root.configuration, "C:\\\\..\\aircraft.cfg");

  EXPECT_EQ(SplitDriveAndDirectory("D:/Sim/Jet/Livery/setup.exe", NoLeadBytes).directory,
            "/Sim/Jet/Livery/");
  EXPECT_EQ(SplitDriveAndDirectory("C:setup.exe", NoLeadBytes).directory, "");
  EXPECT_EQ(SplitDriveAndDirectory("", NoLeadBytes).drive, "");
}

TEST(WindowsInstallerPaths, TrailByteOfADoubleByteCharacterIsNoSeparator) {
  // "\x95\x5C" is one Shift-JIS character whose second byte is the backslash.
  const std::string executable = "C:\\Sim\\\x95\x5C\\setup.exe";
  EXPECT_EQ(SplitDriveAndDirectory(executable, ShiftJisLeadByte).directory, "\\Sim\\\x95\x5C\\");
  const std::string fileInside = "C:\\Sim\\\x95\x5Csetup.exe";
  EXPECT_EQ(SplitDriveAndDirectory(fileInside, ShiftJisLeadByte).directory, "\\Sim\\");
  EXPECT_EQ(SplitDriveAndDirectory(fileInside, NoLeadBytes).directory, "\\Sim\\\x95\\");
}

TEST(WindowsInstallerPaths, RefusesPathsThatDoNotFitThePlatformBuffer) {
  // The configuration path adds 16 characters to drive and directory, the livery path 11.
  const auto directoryOfLength = [](std::size_t length) {
    return "\\" + std::string(length - 2, 'd') + "\\";
  };
  installer::DriveAndDirectory fits{"C:", directoryOfLength(259 - 2 - 16)};
  EXPECT_EQ(FormWindowsInstallerPaths(fits).value().configuration.size(), 259u);
  installer::DriveAndDirectory tooLong{"C:", directoryOfLength(259 - 2 - 15)};
  EXPECT_FALSE(FormWindowsInstallerPaths(tooLong).has_value());
}

TEST(PosixInstallerPaths, LiveryBesideTheExecutableAndConfigurationInItsParent) {
  const installer::InstallerPaths paths = FormPosixInstallerPaths("/sim/Jet/Livery/setup");
  EXPECT_EQ(paths.livery, "/sim/Jet/Livery/livery.ini");
  EXPECT_EQ(paths.configuration, "/sim/Jet/aircraft.cfg");
  EXPECT_EQ(FormPosixInstallerPaths("/Livery/setup").configuration, "/aircraft.cfg");
  EXPECT_EQ(FormPosixInstallerPaths("/setup").livery, "/livery.ini");
  EXPECT_EQ(FormPosixInstallerPaths("/setup").configuration, "/aircraft.cfg");
  const std::string deep = "/" + std::string(5000, 'x') + "/Livery/setup";
  EXPECT_EQ(FormPosixInstallerPaths(deep).configuration,
            "/" + std::string(5000, 'x') + "/aircraft.cfg");
}

}  // namespace
