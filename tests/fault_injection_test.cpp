// Every system call the installer and the uninstaller make on a realistic tree, made to fail, or to
// kill the process, one occurrence at a time (strace's fault injection, so each program is run
// exactly as built). Whatever happens, aircraft.cfg is the file as it was or the complete result,
// with its permissions kept; a run that left it unchanged does not report success, a run that
// changed it does not report it unchanged, nothing is left beside it, and a later run completes
// the job.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace {

using test_support::AircraftTree;
using test_support::EntryTitles;
using test_support::ListFolder;
using test_support::ReadFile;
using test_support::WriteFile;

const char* const kStrace = "/usr/bin/strace";

struct Tree {
  test_support::ScratchFolder folder;
  std::string cfg = test_support::ReadFile(LIVERY_SOURCE_DIR "/examples/Heron/aircraft.cfg");
  std::string livery =
      test_support::ReadFile(LIVERY_SOURCE_DIR "/examples/Heron/Tidewater_Air/livery.ini");
  AircraftTree files = test_support::MakeAircraftTree(
      folder.path, &cfg, &livery, LIVERY_PLAIN_SETUP_PATH, LIVERY_PLAIN_UNINSTALL_PATH);

  // Puts aircraft.cfg back as a run starts from it, readable by its owner alone.
  void Reset(const std::string& start) const {
    WriteFile(files.cfgPath(), start);
    chmod(files.cfgPath().c_str(), 0600);
  }
  bool KeptPrivate() const {
    struct stat status {};
    return stat(files.cfgPath().c_str(), &status) == 0 && (status.st_mode & 07777) == 0600;
  }
  bool Clean() const { return ListFolder(files.aircraft) == test_support::kAircraftFolder; }
};

// How often the program makes each system call on the tree, in a run that succeeds. A line starts
// with the process id, which strace pads with blanks to five places: the call's name follows
// however many blanks there are.
std::map<std::string, int> CallsMade(const Tree& tree, const std::string& program) {
  const std::string log = tree.folder.path + "/calls.log";
  EXPECT_EQ(test_support::RunProgram(kStrace, {"-f", "-qq", "-o", log, program}).status, 0);
  std::map<std::string, int> calls;
  std::istringstream lines(ReadFile(log));
  for (std::string line; std::getline(lines, line);) {
    const std::size_t start = line.find_first_not_of(' ', line.find_first_not_of("0123456789"));
    const std::size_t open = line.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_", start);
    if (open == std::string::npos || open == start || line[open] != '(') continue;
    const std::string name = line.substr(start, open - start);
    if (name != "execve" && name != "exit_group") ++calls[name];
  }
  std::filesystem::remove(log);
  return calls;
}

// What a failing call reports: a full disk for writes and flushes, an I/O error for the rest.
std::string ErrorFor(const std::string& call) {
  return call == "write" || call == "writev" || call == "fsync" || call == "fdatasync" ? "ENOSPC"
                                                                                       : "EIO";
}

// A program, the file it starts from and the file it makes.
struct Job {
  std::string program;
  std::string start;
  std::string complete;
};

// Runs the job with `fault` made at the occurrence of `call`, and counts in `made` the runs whose
// trace shows the fault made: a point where strace made none would test nothing.
test_support::ProcessResult RunFaulted(const Tree& tree, const Job& job, const std::string& call,
                                       int occurrence, const std::string& fault, int& made) {
  tree.Reset(job.start);
  const std::string trace = tree.folder.path + "/trace.log";
  std::filesystem::remove(trace);  // the last run's, which a run that strace refused would leave
  const test_support::ProcessResult run = test_support::RunProgram(
      kStrace,
      {"-f", "-qq", "-o", trace, "-e", "trace=" + call, "-e",
       "inject=" + call + ":" + fault + ":when=" + std::to_string(occurrence), job.program});
  const bool injected =
      test_support::Exists(trace) &&
      ReadFile(trace).find(fault.starts_with("signal") ? "+++ killed by SIGKILL" : "(INJECTED)") !=
          std::string::npos;
  EXPECT_TRUE(injected) << job.program << ": " << call << " #" << occurrence << ": strace made no "
                        << fault << ": " << run.errorOutput;
  made += injected;
  return run;
}

// Fails the occurrence of `call` and checks what the run left and said.
void ExpectFailureHandled(const Tree& tree, const Job& job, const std::string& call, int occurrence,
                          int& made) {
  const std::string where = job.program + ": " + call + " #" + std::to_string(occurrence);
  const test_support::ProcessResult failed =
      RunFaulted(tree, job, call, occurrence, "error=" + ErrorFor(call), made);
  const std::string afterFault = ReadFile(tree.files.cfgPath());
  EXPECT_TRUE(afterFault == job.start || afterFault == job.complete) << where << " mixed the files";
  if (failed.status == 3) {
    const bool removes = job.program == tree.files.uninstall;
    EXPECT_NE(
        failed.errorOutput.find(removes ? "running this again is safe" : "do not run this again"),
        std::string::npos)
        << where << ": " << failed.errorOutput;
  }
  if (afterFault == job.start) {
    EXPECT_NE(failed.status, 0) << where << " reported success";
  } else {
    EXPECT_TRUE(failed.status == 0 || failed.status == 3)
        << where << " reported a changed file as unchanged: " << failed.status;
  }
  EXPECT_TRUE(tree.Clean()) << where << " left a file behind";
  EXPECT_TRUE(tree.KeptPrivate()) << where << " opened the file to other users";
}

// Kills the run at the occurrence of `call`; then the next run must complete the job.
void ExpectKillHandled(const Tree& tree, const Job& job, const std::string& call, int occurrence,
                       int& made) {
  const std::string where = job.program + ": " + call + " #" + std::to_string(occurrence);
  RunFaulted(tree, job, call, occurrence, "signal=SIGKILL", made);
  const std::string afterKill = ReadFile(tree.files.cfgPath());
  EXPECT_TRUE(afterKill == job.start || afterKill == job.complete) << where << " killed: mixed";
  // Nothing a killed run leaves behind may stop or spoil the next one.
  const int next = test_support::RunProgram(job.program, {}).status;
  if (job.program == tree.files.setup) {
    EXPECT_EQ(next, 0) << where << " killed";
    EXPECT_EQ(EntryTitles(ReadFile(tree.files.cfgPath())).size(), EntryTitles(afterKill).size() + 4)
        << where << " killed";
  } else {
    EXPECT_EQ(next, afterKill == job.start ? 0 : 1) << where << " killed";
    EXPECT_EQ(ReadFile(tree.files.cfgPath()), job.complete) << where << " killed";
  }
  EXPECT_TRUE(tree.Clean()) << where << " killed: the next run left a file behind";
}

TEST(FaultInjection, EveryFailedOrKilledCallLeavesTheOldFileOrTheWholeNewOne) {
  ASSERT_TRUE(std::filesystem::exists(kStrace)) << "strace is needed";
  const Tree tree;
  ASSERT_EQ(test_support::RunProgram(tree.files.setup, {}).status, 0);
  const std::string installed = ReadFile(tree.files.cfgPath());
  ASSERT_EQ(EntryTitles(installed).size(), 7u);

  for (const Job& job : {Job{tree.files.setup, tree.cfg, installed},
                         Job{tree.files.uninstall, installed, tree.cfg}}) {
    tree.Reset(job.start);
    int points = 0, failed = 0, killed = 0;
    for (const auto& [call, count] : CallsMade(tree, job.program)) {
      for (int occurrence = 1; occurrence <= count; ++occurrence, ++points) {
        // The kernel's brk fails by giving back the old break, never an error, which the C
        // library would take for a new break and write past its heap: only a kill is made there.
        if (call != "brk") ExpectFailureHandled(tree, job, call, occurrence, failed);
        ExpectKillHandled(tree, job, call, occurrence, killed);
      }
    }
    std::printf("%s: %d calls, %d made to fail, %d killed\n", job.program.c_str(), points, failed,
                killed);
    EXPECT_GT(points, 50);
  }
}

}  // namespace
