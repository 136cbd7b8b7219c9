// The Windows programs under Wine with one read, write or flush of their working copy, or one read
// of livery.ini, made to fail (strace's fault injection, filtered to that file). The platform's
// profile functions report success whatever happens to the file, so this is where a damaged file
// would be put in place: after each fault, aircraft.cfg is the old file with status 2 or the whole
// new one with status 0, and nothing is left beside it. A failed flush of the folder after the
// move leaves the new file in place, and says that it is not confirmed on disk (status 3).
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/test_support.h"
#include "tests/windows/wine_support.h"

namespace {

using test_support::ReadFile;
using test_support::WriteFile;
using wine_support::RunUnderWine;
using wine_support::RunUnderWineTraced;

struct Job {
  std::string program;
  std::string start;     // the file the run starts from
  std::string complete;  // the file a run without faults makes
};

// How often a run of `job` from its start makes `call` on the file at `path`.
int CallsOnFile(const Job& job, const std::string& cfg, const std::string& path,
                const std::string& call, const std::string& log) {
  WriteFile(cfg, job.start);
  EXPECT_EQ(RunUnderWineTraced(job.program, {"-o", log, "-P", path, "-e", "trace=" + call}).status,
            0);
  std::istringstream lines(ReadFile(log));
  int calls = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with(call + "(")) ++calls;
  }
  return calls;
}

// The occurrences to fail: a dozen spread over all of them, the first and the last included.
std::vector<int> Occurrences(int count) {
  std::vector<int> chosen;
  const int step = std::max(1, count / 12);
  for (int occurrence = 1; occurrence <= count; occurrence += step) chosen.push_back(occurrence);
  if (count > 0 && chosen.back() != count) chosen.push_back(count);
  return chosen;
}

TEST(FaultInjection, WindowsBuildCommitsOnlyAWorkingCopyThatReadsBackAsMeant) {
  const test_support::ScratchFolder folder;
  const test_support::AircraftTree tree = wine_support::WindowsTree(folder.path);
  const std::string cfg = tree.cfgPath();
  const std::string copy = cfg + ".installing";
  ASSERT_EQ(RunUnderWine(tree.setup).status, 0);
  const std::string installed = ReadFile(cfg);
  ASSERT_EQ(test_support::EntryTitles(installed).size(), 7u);
  ASSERT_EQ(RunUnderWine(tree.uninstall).status, 0);
  const std::string removed = ReadFile(cfg);
  ASSERT_EQ(test_support::EntryTitles(removed).size(), 3u);

  int points = 0;
  for (const Job& job : {Job{tree.setup, wine_support::kExampleCfg, installed},
                         Job{tree.uninstall, installed, removed}}) {
    // The working copy's reads, writes and flushes, and the reads of livery.ini.
    const std::string liveryIni = tree.livery + "/livery.ini";
    for (const auto& [path, call] : std::vector<std::pair<std::string, std::string>>{
             {copy, "write"}, {copy, "read"}, {copy, "fsync"}, {liveryIni, "read"}}) {
      const int count = CallsOnFile(job, cfg, path, call, folder.path + "/calls.log");
      EXPECT_GT(count, 0) << job.program << " " << path << " " << call;
      for (const int occurrence : Occurrences(count)) {
        const std::string where =
            job.program + ": " + path + " " + call + " #" + std::to_string(occurrence);
        WriteFile(cfg, job.start);
        const std::string error = call == "read" ? "EIO" : "ENOSPC";
        const std::string log = folder.path + "/injected.log";
        const test_support::ProcessResult run = RunUnderWineTraced(
            job.program,
            {"-o", log, "-P", path, "-e", "trace=" + call, "-e",
             "inject=" + call + ":error=" + error + ":when=" + std::to_string(occurrence)});
        // A run that strace refused, or whose calls changed, proves nothing about the fault.
        const bool injected = ReadFile(log).find("(INJECTED)") != std::string::npos;
        EXPECT_TRUE(injected) << where << ": nothing was injected";
        points += injected ? 1 : 0;
        const std::string after = ReadFile(cfg);
        if (after == job.start && path == liveryIni) {
          // A livery.ini that the run's own read of it could not read is nothing to install or
          // remove; one that only a read of the platform's could not is refused, never taken
          // for one without the livery's entries.
          EXPECT_NE(run.errorOutput.find(run.status == 1 ? "(missing, unreadable" : "livery.ini: "),
                    std::string::npos)
              << where << ": " << run.errorOutput;
          EXPECT_TRUE(run.status == 1 || run.status == 2) << where << ": " << run.errorOutput;
        } else if (after == job.start) {
          EXPECT_EQ(run.status, 2) << where << ": " << run.errorOutput;
        } else {
          EXPECT_EQ(after, job.complete) << where << " put a damaged file in place";
          EXPECT_EQ(run.status, 0) << where << ": " << run.errorOutput;
        }
        EXPECT_EQ(test_support::ListFolder(tree.aircraft), test_support::kAircraftFolder)
            << where << " left a file behind";
      }
    }
  }
  std::printf("%d faults injected into the working copy and livery.ini\n", points);
}

TEST(FaultInjection, WindowsFolderFlushThatFailsLeavesTheNewFileUnconfirmed) {
  const test_support::ScratchFolder folder;
  const test_support::AircraftTree tree = wine_support::WindowsTree(folder.path);
  const std::string log = folder.path + "/injected.log";
  for (const auto& [program, titles] : {std::pair{tree.setup, 7u}, {tree.uninstall, 3u}}) {
    const test_support::ProcessResult run = RunUnderWineTraced(
        program,
        {"-o", log, "-P", tree.aircraft, "-e", "trace=fsync", "-e", "inject=fsync:error=EIO"});
    EXPECT_NE(ReadFile(log).find("(INJECTED)"), std::string::npos) << program;
    EXPECT_EQ(run.status, 3) << program << ": " << run.errorOutput;
    // The step, then the system's own words for why, not a bare number.
    EXPECT_NE(run.errorOutput.find("though the new file is in place: "), std::string::npos);
    EXPECT_EQ(run.errorOutput.find("in place: error "), std::string::npos) << run.errorOutput;
    EXPECT_EQ(test_support::EntryTitles(ReadFile(tree.cfgPath())).size(), titles);
    EXPECT_EQ(test_support::ListFolder(tree.aircraft), test_support::kAircraftFolder);
  }
}

}  // namespace
