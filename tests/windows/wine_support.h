// Running the Windows build under Wine from the Linux tests, and reading profile values through
// the platform's own profile function with the profile_probe helper.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace wine_support {

// Whether the build under test is the x86-64 one, which the tests take on a kernel that runs no
// 32-bit programs; what ships is the 32-bit build.
constexpr bool kTesting64BitBuild = LIVERY_WINDOWS_64_BIT;

// Skips a check that is about the 32-bit program itself, which the x86-64 build cannot show.
#define SKIP_UNLESS_32_BIT_BUILD(why) \
  if (wine_support::kTesting64BitBuild) GTEST_SKIP() << "the x86-64 build is tested here: " << why

// The Windows spelling of a Linux path: Wine's drive Z: is the Linux root.
std::string WindowsPath(const std::string& linuxPath);

// Runs a Windows program, or a program of Wine's such as wineboot, under the loader for the
// build under test, in the tests' own prefix, and waits for it. `environment` adds NAME=value
// settings, such as a locale or another prefix.
test_support::ProcessResult RunUnderWine(const std::string& program,
                                         const std::vector<std::string>& arguments = {},
                                         const std::vector<std::string>& environment = {});

// Runs a Windows program under Wine without arguments, as test_support::ExpectRefused runs one.
inline const test_support::Runner kUnderWine = [](const std::string& program) {
  return RunUnderWine(program);
};

// Runs a Windows program under Wine as RunUnderWine does, traced by strace with `straceOptions`
// (which may inject faults into the calls it traces). Only the program's own process is traced,
// through Wine's exec of it: a Wine server that it starts is not, so strace never waits for one.
test_support::ProcessResult RunUnderWineTraced(const std::string& program,
                                               const std::vector<std::string>& straceOptions);

struct Query {
  std::string section;
  std::string key;
};

// What the platform's profile read gives for each query on the file; nothing where it gives the
// default text.
std::vector<std::optional<std::string>> ReadThroughPlatform(const std::string& file,
                                                            const std::vector<Query>& queries);

// The attributes that Wine keeps for the file in the extended attribute where it stores those that
// a Linux file system lacks (hidden 0x2, system 0x4); 0 where it keeps none.
unsigned DosAttributes(const std::string& path);

// True when Wine keeps the hidden attribute for the file.
inline bool HiddenUnderWine(const std::string& path) {
  return (DosAttributes(path) & 0x2) != 0;
}

// The example aircraft's aircraft.cfg and its livery's livery.ini.
extern const std::string kExampleCfg;
extern const std::string kExampleLivery;

// An aircraft folder below `root` holding `cfg` as aircraft.cfg, with a livery folder holding
// `livery` as livery.ini and the built Windows programs; null for either file leaves it out.
test_support::AircraftTree WindowsTree(const std::string& root,
                                       const std::string* cfg = &kExampleCfg,
                                       const std::string* livery = &kExampleLivery);

std::string BuiltWindowsSetup();
std::string BuiltWindowsUninstall();
std::string BuiltProfileProbe();
std::string BuiltFileHolder();
std::string BuiltSecurityProbe();

}  // namespace wine_support
