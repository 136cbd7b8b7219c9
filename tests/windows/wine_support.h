// Running the Windows build under Wine from the Linux tests, and reading profile values through
// the platform's own profile function with the profile_probe helper.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace wine_support {

// Whether this machine's kernel runs 32-bit programs, as Wine's loader for the 32-bit build is.
// A kernel may be built or booted with its 32-bit emulation off; the Windows build's tests then
// cannot run there, and say so as they skip.
bool KernelRuns32BitPrograms();

// Skips the test where the kernel cannot run the 32-bit Windows build under Wine.
#define SKIP_WITHOUT_32_BIT_PROGRAMS()                                                  \
  if (!wine_support::KernelRuns32BitPrograms())                                         \
  GTEST_SKIP() << "this kernel runs no 32-bit programs (its 32-bit emulation is off), " \
                  "so the 32-bit Windows build cannot run under Wine here"

// The Windows spelling of a Linux path: Wine's drive Z: is the Linux root.
std::string WindowsPath(const std::string& linuxPath);

// Runs a Windows program under Wine in the tests' own prefix and waits for it. `environment`
// adds NAME=value settings, such as a locale.
test_support::ProcessResult RunUnderWine(const std::string& program,
                                         const std::vector<std::string>& arguments = {},
                                         const std::vector<std::string>& environment = {});

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

std::string BuiltWindowsSetup();
std::string BuiltWindowsUninstall();
std::string BuiltProfileProbe();
std::string BuiltFileHolder();

}  // namespace wine_support
