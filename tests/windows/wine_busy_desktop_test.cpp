// The Windows programs under Wine on a busy desktop: a stand-in for a virus scanner, the search
// indexer or a cloud-sync client (hold_file --scan) opens each new or changed file of the aircraft
// folder the moment it sees it and holds it, and another program holds livery.ini. A short hold is
// waited out, a long one ends the run with the file as it was, and nothing stays beside the file
// that the next run does not replace.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/test_support.h"
#include "tests/windows/wine_support.h"

namespace {

using test_support::EntryTitles;
using test_support::kAircraftFolder;
using test_support::ListFolder;
using test_support::ReadFile;
using test_support::WaitUntil;
using wine_support::RunUnderWine;

using wine_support::kExampleCfg;

// Starts the stand-in scanner on `folder`, holding each file `milliseconds`, shared as `sharing`
// says, and returns once it watches; it logs the name of each file it held to `log`.
std::thread StartScanner(const std::string& folder, int milliseconds, const std::string& sharing,
                         const std::string& log) {
  std::thread scanner([=] {
    RunUnderWine(wine_support::BuiltFileHolder(),
                 {"--scan", wine_support::WindowsPath(folder), std::to_string(milliseconds),
                  sharing, wine_support::WindowsPath(log)});
  });
  EXPECT_TRUE(WaitUntil([&] { return test_support::Exists(log); })) << "the scanner did not start";
  return scanner;
}

// Lets the scanner end its hold and stop; the names of the files it held, one a line.
std::string StopScanner(std::thread& scanner, const std::string& log) {
  test_support::WriteFile(log + ".stop", "");
  scanner.join();
  return ReadFile(log);
}

TEST(WindowsBusyDesktop, BothProgramsWaitOutAScannerAndLeaveNothingBehind) {
  // A scanner that shares the file for reading and writing (and deleting) may hold the working copy
  // from the instant it appears; one that shares it only for reading cannot open it while the run
  // holds it, and holds aircraft.cfg after each change instead, when the next run wants it. One
  // that holds only a mapped view stops the profile writer's replacement of the copy
  // (ERROR_USER_MAPPED_FILE) and the move over aircraft.cfg (access denied) while it holds it; as
  // it maps the copy again after each of the writer's 76 saves, its hold is brief.
  struct Scanner {
    const char* sharing;
    int milliseconds;
  };
  for (const Scanner& scanner :
       {Scanner{"rw", 300}, Scanner{"rwd", 1000}, Scanner{"r", 2500}, Scanner{"m", 40}}) {
    const test_support::ScratchFolder folder;
    const test_support::AircraftTree tree = wine_support::WindowsTree(folder.path);
    const std::string cfg = tree.cfgPath();
    const std::string log = folder.path + "/held";
    std::thread scanning = StartScanner(tree.aircraft, scanner.milliseconds, scanner.sharing, log);
    EXPECT_EQ(RunUnderWine(tree.setup).status, 0) << scanner.sharing;
    EXPECT_EQ(EntryTitles(ReadFile(cfg)).size(), 7u) << scanner.sharing;
    EXPECT_EQ(RunUnderWine(tree.uninstall).status, 0) << scanner.sharing;
    EXPECT_EQ(EntryTitles(ReadFile(cfg)).size(), 3u) << scanner.sharing;
    const std::string held = StopScanner(scanning, log);
    EXPECT_NE(held.find("aircraft.cfg\n"), std::string::npos) << scanner.sharing;
    EXPECT_EQ(held.find("aircraft.cfg.installing\n") != std::string::npos,
              std::string(scanner.sharing) != "r")
        << scanner.sharing << " held: " << held;
    EXPECT_EQ(ListFolder(tree.aircraft), kAircraftFolder) << scanner.sharing;
  }
}

TEST(WindowsBusyDesktop, HoldPastTheBackOffChangesNothingAndTheNextRunReplacesItsCopy) {
  // The scanner holds the working copy, not sharing it for deletion, for longer than the run waits
  // in all: the move cannot be made, nor the copy deleted. The file is as it was, the copy stays
  // hidden, and the next run, once the scanner has let go, replaces it.
  const test_support::ScratchFolder folder;
  const test_support::AircraftTree tree = wine_support::WindowsTree(folder.path);
  const std::string cfg = tree.cfgPath();
  const std::string log = folder.path + "/held";
  std::thread scanning = StartScanner(tree.aircraft, 13000, "rw", log);
  const test_support::ProcessResult run = RunUnderWine(tree.setup);
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.errorOutput.find("another program keeps it"), std::string::npos) << run.errorOutput;
  EXPECT_EQ(ReadFile(cfg), kExampleCfg);
  EXPECT_TRUE(wine_support::HiddenUnderWine(cfg + ".installing"));
  EXPECT_NE(StopScanner(scanning, log).find("aircraft.cfg.installing\n"), std::string::npos);
  EXPECT_EQ(RunUnderWine(tree.setup).status, 0);
  EXPECT_EQ(EntryTitles(ReadFile(cfg)).size(), 7u);
  EXPECT_EQ(ListFolder(tree.aircraft), kAircraftFolder);
}

TEST(WindowsBusyDesktop, CopyHeldBeforeItIsMadeOrChangedWhileTheMoveWaitsIsHandled) {
  // A copy that a killed run left, which a scanner still holds, sharing it for deletion: deleted,
  // it keeps its name until the scanner lets go, and the run waits for that to make its own.
  const test_support::ScratchFolder folder;
  const test_support::AircraftTree tree = wine_support::WindowsTree(folder.path);
  const std::string cfg = tree.cfgPath();
  test_support::WriteFile(cfg + ".installing", "left by a killed run");
  std::thread holder([&] {
    RunUnderWine(wine_support::BuiltFileHolder(),
                 {wine_support::WindowsPath(cfg + ".installing"), "1500", "rwd"});
  });
  EXPECT_TRUE(WaitUntil([&] { return test_support::Exists(cfg + ".installing.held"); }));
  std::filesystem::remove(cfg + ".installing.held");
  const test_support::ProcessResult replaced = RunUnderWine(tree.setup);
  holder.join();
  EXPECT_EQ(replaced.status, 0) << replaced.errorOutput;
  EXPECT_EQ(EntryTitles(ReadFile(cfg)).size(), 7u);
  EXPECT_EQ(ListFolder(tree.aircraft), kAircraftFolder);
  // A program holds aircraft.cfg, not sharing it for deletion, so that the move waits; meanwhile
  // another changes the completed copy: once the hold ends, the copy is not what the run
  // confirmed, and it is not moved in.
  const std::string installed = ReadFile(cfg);
  std::thread blocker([&] {
    RunUnderWine(wine_support::BuiltFileHolder(), {wine_support::WindowsPath(cfg), "4000", "rw"});
  });
  EXPECT_TRUE(WaitUntil([&] { return test_support::Exists(cfg + ".held"); }));
  test_support::ProcessResult moved;
  std::thread run([&] { moved = RunUnderWine(tree.setup); });
  // The copy is complete once it stops growing while the move waits.
  std::string copy;
  for (std::string seen; WaitUntil([&] { return test_support::Exists(cfg + ".installing"); });
       copy = seen) {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    seen = test_support::Exists(cfg + ".installing") ? ReadFile(cfg + ".installing") : "";
    if (!seen.empty() && seen == copy) break;
  }
  std::ofstream(cfg + ".installing", std::ios::app) << "[changed.meanwhile]\r\nk=v\r\n";
  run.join();
  blocker.join();
  EXPECT_EQ(moved.status, 2) << moved.errorOutput;
  EXPECT_NE(moved.errorOutput.find("aircraft.cfg: cannot put the new copy in place"),
            std::string::npos)
      << moved.errorOutput;
  EXPECT_EQ(ReadFile(cfg), installed);
  std::filesystem::remove(cfg + ".held");
  EXPECT_EQ(ListFolder(tree.aircraft), kAircraftFolder);
}

TEST(WindowsBusyDesktop, RunRefusedForAnotherCauseDeletesItsCopyOnceTheScannerLetsGo) {
  // A UTF-8 byte order mark and a byte that is not UTF-8, which Wine's profile functions replace:
  // setup.exe refuses once its copy was written, while the scanner holds that copy, and waits to
  // delete it.
  const std::string cfg = "\xEF\xBB\xBF[fltsim.0]\r\ntitle=A\xFF\r\n";
  const test_support::ScratchFolder folder;
  const test_support::AircraftTree tree = wine_support::WindowsTree(folder.path, &cfg);
  const std::string log = folder.path + "/held";
  std::thread scanning = StartScanner(tree.aircraft, 1000, "rw", log);
  EXPECT_EQ(RunUnderWine(tree.setup).status, 2);
  EXPECT_EQ(ReadFile(tree.cfgPath()), cfg);
  EXPECT_EQ(ListFolder(tree.aircraft), kAircraftFolder);
  EXPECT_NE(StopScanner(scanning, log).find("aircraft.cfg.installing\n"), std::string::npos);
}

TEST(WindowsBusyDesktop, LiveryIniThatAnotherProgramHoldsIsWaitedFor) {
  // Another program holds livery.ini open, sharing it with nobody, for a moment as each program
  // starts: setup.exe adds the entries, uninstall.exe removes them. Held past the run's allowance,
  // it is held by another program (status 2), not missing: for uninstall.exe that would tell the
  // user that the livery is not installed.
  const test_support::ScratchFolder folder;
  const test_support::AircraftTree tree = wine_support::WindowsTree(folder.path);
  const std::string livery = tree.livery + "/livery.ini";
  for (const std::string& program : {tree.setup, tree.uninstall}) {
    int held = -1;
    std::thread holder([&] {
      held = RunUnderWine(wine_support::BuiltFileHolder(),
                          {wine_support::WindowsPath(livery), "1500", "-"})
                 .status;
    });
    EXPECT_TRUE(WaitUntil([&] { return test_support::Exists(livery + ".held"); }));
    EXPECT_EQ(RunUnderWine(program).status, 0) << program;
    holder.join();
    EXPECT_EQ(held, 0);
    std::filesystem::remove(livery + ".held");
  }
  EXPECT_EQ(EntryTitles(ReadFile(tree.cfgPath())).size(), 3u);
  EXPECT_EQ(ListFolder(tree.aircraft), kAircraftFolder);

  std::thread holder([&] {
    RunUnderWine(wine_support::BuiltFileHolder(),
                 {wine_support::WindowsPath(livery), "13000", "-"});
  });
  EXPECT_TRUE(WaitUntil([&] { return test_support::Exists(livery + ".held"); }));
  std::vector<test_support::ProcessResult> runs(2);
  std::thread uninstalling([&] { runs[1] = RunUnderWine(tree.uninstall); });
  runs[0] = RunUnderWine(tree.setup);
  uninstalling.join();
  holder.join();
  for (const test_support::ProcessResult& run : runs) {
    EXPECT_EQ(run.status, 2) << run.errorOutput;
    EXPECT_NE(run.errorOutput.find("livery.ini: is held by another program"), std::string::npos)
        << run.errorOutput;
  }
  EXPECT_EQ(EntryTitles(ReadFile(tree.cfgPath())).size(), 3u);
}

}  // namespace
