// Running the Windows build under Wine from the Linux tests.
#include "tests/windows/wine_support.h"

#include <sys/xattr.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace wine_support {

std::string WindowsPath(const std::string& linuxPath) {
  std::string path = "Z:" + linuxPath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

namespace {

test_support::RunOptions WineOptions(const std::vector<std::string>& environment) {
  test_support::RunOptions options;
  options.environment = {"WINEPREFIX=" LIVERY_WINE_PREFIX, "WINEDEBUG=-all"};
  // The 64-bit loader starts Wine's own programs through itself only when told to.
  if (kTesting64BitBuild) options.environment.push_back("WINELOADER=" LIVERY_WINE_LOADER);
  options.environment.insert(options.environment.end(), environment.begin(), environment.end());
  return options;
}

}  // namespace

test_support::ProcessResult RunUnderWine(const std::string& program,
                                         const std::vector<std::string>& arguments,
                                         const std::vector<std::string>& environment) {
  std::vector<std::string> words{program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  return test_support::RunProgram(LIVERY_WINE_LOADER, words, WineOptions(environment));
}

test_support::ProcessResult RunUnderWineTraced(const std::string& program,
                                               const std::vector<std::string>& straceOptions) {
  std::vector<std::string> words{"-qq"};
  words.insert(words.end(), straceOptions.begin(), straceOptions.end());
  words.insert(words.end(), {LIVERY_WINE_LOADER, program});
  return test_support::RunProgram("/usr/bin/strace", words, WineOptions({}));
}

std::vector<std::optional<std::string>> ReadThroughPlatform(const std::string& file,
                                                            const std::vector<Query>& queries) {
  const test_support::ScratchFolder folder;
  std::string text;
  for (const Query& query : queries)
    text += test_support::Hex(query.section) + " " + test_support::Hex(query.key) + "\n";
  test_support::WriteFile(folder.path + "/queries", text);
  // The locale gives the probe code page 1252, which the Linux engine takes for the active one.
  const test_support::ProcessResult result =
      RunUnderWine(BuiltProfileProbe(),
                   {WindowsPath(file), WindowsPath(folder.path + "/queries"),
                    WindowsPath(folder.path + "/results")},
                   {"LC_ALL=C.UTF-8"});
  EXPECT_EQ(result.status, 0) << result.errorOutput;
  std::istringstream lines(test_support::ReadFile(folder.path + "/results"));
  std::vector<std::optional<std::string>> values;
  for (std::string line; std::getline(lines, line);) {
    values.push_back(line == "default" ? std::nullopt
                                       : std::optional<std::string>(test_support::FromHex(line)));
  }
  EXPECT_EQ(values.size(), queries.size());
  values.resize(queries.size());
  return values;
}

unsigned DosAttributes(const std::string& path) {
  char value[16] = {};
  const ssize_t length = getxattr(path.c_str(), "user.DOSATTRIB", value, sizeof value - 1);
  return length > 0 ? static_cast<unsigned>(std::strtoul(value, nullptr, 16)) : 0;
}

const std::string kExampleCfg =
    test_support::ReadFile(LIVERY_SOURCE_DIR "/examples/Heron/aircraft.cfg");
const std::string kExampleLivery =
    test_support::ReadFile(LIVERY_SOURCE_DIR "/examples/Heron/Tidewater_Air/livery.ini");

test_support::AircraftTree WindowsTree(const std::string& root, const std::string* cfg,
                                       const std::string* livery) {
  return test_support::MakeAircraftTree(root, cfg, livery, BuiltWindowsSetup(),
                                        BuiltWindowsUninstall());
}

std::string BuiltWindowsSetup() {
  return LIVERY_WINDOWS_BUILD_DIR "/setup.exe";
}
std::string BuiltWindowsUninstall() {
  return LIVERY_WINDOWS_BUILD_DIR "/uninstall.exe";
}
std::string BuiltProfileProbe() {
  return LIVERY_WINDOWS_BUILD_DIR "/profile_probe.exe";
}
std::string BuiltFileHolder() {
  return LIVERY_WINDOWS_BUILD_DIR "/hold_file.exe";
}
std::string BuiltSecurityProbe() {
  return LIVERY_WINDOWS_BUILD_DIR "/security_probe.exe";
}

}  // namespace wine_support
