// The Windows installer and uninstaller as files: graphical-subsystem programs (32-bit as they
// ship) that run on a stock machine (they import only the system's own libraries), small, carrying
// the icon twice, the release's manifest, which asks for elevation, and a version resource.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <tuple>

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

TEST(WindowsBuild, AreGuiProgramsImportingOnlyTheSystemLibraries) {
  const char* const objdump = wine_support::kTesting64BitBuild
                                  ? "/usr/bin/x86_64-w64-mingw32-objdump"
                                  : "/usr/bin/i686-w64-mingw32-objdump";
  const char* const format =
      wine_support::kTesting64BitBuild ? "file format pei-x86-64" : "file format pei-i386";
  for (const std::string& program : kPrograms) {
    const std::string headers = Output(objdump, {"-p", program});
    EXPECT_NE(headers.find(format), std::string::npos) << program;
    EXPECT_NE(headers.find("(Windows GUI)"), std::string::npos) << program;
    EXPECT_EQ(LinesAfter(headers, "DLL Name:"),
              (std::multiset<std::string>{"ADVAPI32.dll", "KERNEL32.dll", "msvcrt.dll"}))
        << program;
  }
}

TEST(WindowsBuild, ShippedProgramsAreSmall) {
  SKIP_UNLESS_32_BIT_BUILD("the size of the 32-bit programs that ship cannot be measured on it");
  for (const std::string& program : kPrograms) {
    const auto bytes = std::filesystem::file_size(program);
    std::printf("%s: %ju bytes\n", program.c_str(), static_cast<std::uintmax_t>(bytes));
    EXPECT_LT(bytes, 320u * 1024) << program;
  }
}

TEST(WindowsBuild, CarryTheIconItsGeneratorDrawsTwice) {
  Output("/usr/bin/python3", {LIVERY_SOURCE_DIR "/resources/make_icon.py", "--check"});
  const std::string icon = ReadFile(LIVERY_SOURCE_DIR "/resources/livery.ico");
  for (const std::string& program : kPrograms) {
    const std::string resources = Output("/usr/bin/wrestool", {"-l", program});
    EXPECT_EQ(LinesAfter(resources, "[type=group_icon").size(), 2u) << resources;
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

// Resource `type` (a number) under name 1 of `program` as its raw bytes.
std::string Resource(const std::string& program, const std::string& type) {
  const test_support::ScratchFolder folder;
  const std::string extracted = folder.path + "/resource" + type;
  Output("/usr/bin/wrestool", {"-x", "-R", "--type=" + type, "--name=1", "-o", extracted, program});
  return ReadFile(extracted);
}

TEST(WindowsBuild, CarryTheReleaseManifestWhichAsksForElevation) {
  const std::string manifest = Resource(wine_support::BuiltWindowsSetup(), "24");
  EXPECT_EQ(manifest, ReadFile(LIVERY_SOURCE_DIR "/resources/livery.manifest"));
  EXPECT_EQ(Resource(wine_support::BuiltWindowsUninstall(), "24"), manifest);
  EXPECT_NE(manifest.find(R"(<requestedExecutionLevel level="requireAdministrator" )"
                          R"(uiAccess="false"/>)"),
            std::string::npos);
}

// The text of `key` in a version resource's string table. The resource is UTF-16LE; taking every
// other byte gives its ASCII text, with the binary fields as noise. A key is followed by its
// terminator, alignment padding, then its value up to the value's own terminator.
std::string VersionString(const std::string& resource, const std::string& key) {
  std::string text;
  for (std::size_t i = 0; i < resource.size(); i += 2) text += resource[i];
  std::size_t at = text.find(key + '\0');
  if (at == std::string::npos) return "(missing)";
  at = text.find_first_not_of('\0', at + key.size() + 1);
  return at == std::string::npos ? "(missing)" : text.substr(at, text.find('\0', at) - at);
}

// The four numbers of the fixed part's file version (or product version, at `offset` 16), which
// follow its signature and structure version.
std::string FixedVersion(const std::string& resource, std::size_t offset) {
  const std::size_t at = resource.find("\xBD\x04\xEF\xFE");
  if (at == std::string::npos || at + offset + 8 > resource.size()) return "(missing)";
  const auto word = [&](std::size_t from) {
    return static_cast<unsigned char>(resource[from]) |
           static_cast<unsigned char>(resource[from + 1]) << 8;
  };
  const std::size_t ms = at + offset, ls = ms + 4;
  return std::to_string(word(ms + 2)) + "." + std::to_string(word(ms)) + "." +
         std::to_string(word(ls + 2)) + "." + std::to_string(word(ls));
}

TEST(WindowsBuild, VersionResourceNamesEachProgramAndTheProjectVersion) {
  for (const auto& [program, description, name] :
       {std::tuple{wine_support::BuiltWindowsSetup(), "Livery installer", "setup.exe"},
        std::tuple{wine_support::BuiltWindowsUninstall(), "Livery uninstaller", "uninstall.exe"}}) {
    const std::string version = Resource(program, "16");
    EXPECT_EQ(VersionString(version, "FileDescription"), description);
    EXPECT_EQ(VersionString(version, "ProductName"), "Livery installer");
    EXPECT_EQ(VersionString(version, "OriginalFilename"), name);
    EXPECT_EQ(VersionString(version, "FileVersion"), LIVERY_VERSION);
    EXPECT_EQ(VersionString(version, "ProductVersion"), LIVERY_VERSION);
    EXPECT_EQ(FixedVersion(version, 8), LIVERY_VERSION ".0");
    EXPECT_EQ(FixedVersion(version, 16), LIVERY_VERSION ".0");
  }
}

}  // namespace
