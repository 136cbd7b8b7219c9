// The Windows installer and uninstaller as files: 32-bit graphical-subsystem programs that run on a
// stock machine (they import only the system's own libraries), small, carrying the icon twice, and
// shipped in a zip with the text for livery authors.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>

#include "tests/test_support.h"
#include "tests/windows/wine_support.h"

namespace {

using test_support::ReadFile;
using test_support::RunProgram;

std::string Output(const std::string& program, const std::vector<std::string>& arguments) {
  const test_support::ProcessResult result = RunProgram(program, arguments);
  EXPECT_EQ(result.status, 0) << program << ": " << result.errorOutput;
  return result.output;
}

// The values of the lines of `text` that start with `prefix`, trimmed.
std::multiset<std::string> LinesAfter(const std::string& text, const std::string& prefix) {
  std::multiset<std::string> values;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t at = line.find(prefix);
    if (at != std::string::npos) {
      std::string value = line.substr(at + prefix.size());
      value.erase(0, value.find_first_not_of(" \t"));
      values.insert(value);
    }
  }
  return values;
}

const std::vector<std::string> kPrograms = {wine_support::BuiltWindowsSetup(),
                                            wine_support::BuiltWindowsUninstall()};

TEST(WindowsBuild, AreSmall32BitGuiProgramsImportingOnlyTheSystemLibraries) {
  for (const std::string& program : kPrograms) {
    const std::string headers = Output("/usr/bin/i686-w64-mingw32-objdump", {"-p", program});
    EXPECT_NE(headers.find("file format pei-i386"), std::string::npos) << program;
    EXPECT_NE(headers.find("(Windows GUI)"), std::string::npos) << program;
    EXPECT_EQ(LinesAfter(headers, "DLL Name:"),
              (std::multiset<std::string>{"KERNEL32.dll", "msvcrt.dll"}))
        << program;
    const auto bytes = std::filesystem::file_size(program);
    std::printf("%s: %ju bytes\n", program.c_str(), static_cast<std::uintmax_t>(bytes));
    EXPECT_LT(bytes, 300u * 1024) << program;
  }
}

TEST(WindowsBuild, CarryTheIconTwiceAsTwoIdenticalGroupsOfEightImages) {
  const std::string icon = ReadFile(LIVERY_SOURCE_DIR "/resources/livery.ico");
  for (const std::string& program : kPrograms) {
    const std::string resources = Output("/usr/bin/wrestool", {"-l", program});
    EXPECT_EQ(LinesAfter(resources, "[type=group_icon").size(), 2u) << resources;
    EXPECT_EQ(LinesAfter(resources, "[type=icon ").size(), 16u) << resources;
    const test_support::ScratchFolder folder;
    for (const char* group : {"1", "2"}) {
      const std::string extracted = folder.path + "/group" + group + ".ico";
      Output("/usr/bin/wrestool",
             {"-x", "--type=14", std::string("--name=") + group, "-o", extracted, program});
      // The tool rebuilds the icon file from the group and its images, then appends the group
      // resource itself; the rebuilt part must be the icon as drawn.
      const std::string rebuilt = ReadFile(extracted).substr(0, icon.size());
      EXPECT_TRUE(rebuilt == icon)
          << program << ": icon group " << group << " differs from resources/livery.ico";
    }
  }
}

TEST(WindowsBuild, IconHoldsTheEightImagesItsGeneratorDraws) {
  const std::string listing =
      Output("/usr/bin/icotool", {"-l", LIVERY_SOURCE_DIR "/resources/livery.ico"});
  for (const char* image :
       {"--width=16 --height=16 --bit-depth=4", "--width=32 --height=32 --bit-depth=4",
        "--width=16 --height=16 --bit-depth=8", "--width=32 --height=32 --bit-depth=8",
        "--width=48 --height=48 --bit-depth=8", "--width=16 --height=16 --bit-depth=32",
        "--width=32 --height=32 --bit-depth=32", "--width=48 --height=48 --bit-depth=32"}) {
    EXPECT_NE(listing.find(image), std::string::npos) << image;
  }
  EXPECT_EQ(LinesAfter(listing, "--icon").size(), 8u);
  Output("/usr/bin/python3", {LIVERY_SOURCE_DIR "/resources/make_icon.py", "--check"});
}

TEST(WindowsBuild, ReleaseZipHoldsBothProgramsAndTheAuthorsText) {
  const test_support::ScratchFolder folder;
  const test_support::ProcessResult unpacked =
      RunProgram(LIVERY_CMAKE_COMMAND, {"-E", "tar", "xf", wine_support::BuiltReleaseZip()},
                 {.workingDirectory = folder.path, .userId = -1, .environment = {}});
  ASSERT_EQ(unpacked.status, 0) << unpacked.errorOutput;
  EXPECT_EQ(test_support::ListFolder(folder.path),
            (std::vector<std::string>{"README-livery-authors.txt", "setup.exe", "uninstall.exe"}));
  EXPECT_EQ(ReadFile(folder.path + "/setup.exe"), ReadFile(wine_support::BuiltWindowsSetup()));
  EXPECT_EQ(ReadFile(folder.path + "/uninstall.exe"),
            ReadFile(wine_support::BuiltWindowsUninstall()));
  EXPECT_NE(ReadFile(folder.path + "/README-livery-authors.txt").find("livery.ini"),
            std::string::npos);
}

}  // namespace
