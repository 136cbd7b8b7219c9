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
  std::string cfgPath() const { return files.aircraft + "/aircraft.cfg"; }

  // Puts aircraft.cfg back as a run starts from it, readable by its owner alone.
  void Reset(const std::string& start) const {
    WriteFile(cfgPath(), start);
    chmod(cfgPath().c_str(), 0600);
  }
  bool KeptPrivate() const {
    struct stat status {};
    return stat(cfgPath().c_str(), &status) == 0 && (status.st_mode & 07777) == 0600;
  }
  bool Clean() const {
    return ListFolder(files.aircraft) == std::vector<std::string>{"Livery", "aircraft.cfg"};
  }
};

test_support::ProcessResult RunTraced(const std::string& program,
                                      const std::vector<std::string>& options) {
  std::vector<std::string> arguments{"-f", "-qq"};
  arguments.insert(arguments.end(), options.begin(), options.end());
  arguments.push_back(program);
  return test_support::RunProgram(kStrace, arguments);
}

// How often the program makes each system call on the tree, in a run that succeeds.
std::map<std::string, int> CallsMade(const Tree& tree, const std::string& program) {
  const std::string log = tree.folder.path + "/calls.log";
  EXPECT_EQ(RunTraced(program, {"-o", log}).status, 0);
  std::map<std::string, int> calls;
  std::istringstream lines(ReadFile(log));
  for (std::string line; std::getline(lines, line);) {
    const std::size_t open = line.find('(');
    const std::size_t start = line.find(' ') + 1;  // after the process id
    if (open == std::string::npos || start == 0 || open <= start) continue;
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

// Fails the occurrence of `call` and checks what the run left and said.
void ExpectFailureHandled(const Tree& tree, const Job& job, const std::string& call,
                          int occurrence) {
  const std::string where = job.program + ": " + call + " #" + std::to_string(occurrence);
  tree.Reset(job.start);
  const test_support::ProcessResult failed = RunTraced(
      job.program,
      {"-o", "/dev/null", "-e", "trace=" + call, "-e",
       "inject=" + call + ":error=" + ErrorFor(call) + ":when=" + std::to_string(occurrence)});
  const std::string afterFault = ReadFile(tree.cfgPath());
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
void ExpectKillHandled(const Tree& tree, const Job& job, const std::string& call, int occurrence) {
  const std::string where = job.program + ": " + call + " #" + std::to_string(occurrence);
  tree.Reset(job.start);
  RunTraced(job.program, {"-o", "/dev/null", "-e", "trace=" + call, "-e",
                          "inject=" + call + ":signal=SIGKILL:when=" + std::to_string(occurrence)});
  const std::string afterKill = ReadFile(tree.cfgPath());
  EXPECT_TRUE(afterKill == job.start || afterKill == job.complete) << where << " killed: mixed";
  // Nothing a killed run leaves behind may stop or spoil the next one.
  const int next = test_support::RunProgram(job.program, {}).status;
  if (job.program == tree.files.setup) {
    EXPECT_EQ(next, 0) << where << " killed";
    EXPECT_EQ(EntryTitles(ReadFile(tree.cfgPath())).size(), EntryTitles(afterKill).size() + 4)
        << where << " killed";
  } else {
    EXPECT_EQ(next, afterKill == job.start ? 0 : 1) << where << " killed";
    EXPECT_EQ(ReadFile(tree.cfgPath()), job.complete) << where << " killed";
  }
  EXPECT_TRUE(tree.Clean()) << where << " killed: the next run left a file behind";
}

TEST(FaultInjection, EveryFailedOrKilledCallLeavesTheOldFileOrTheWholeNewOne) {
  ASSERT_TRUE(std::filesystem::exists(kStrace)) << "strace is needed";
  const Tree tree;
  ASSERT_EQ(test_support::RunProgram(tree.files.setup, {}).status, 0);
  const std::string installed = ReadFile(tree.cfgPath());
  ASSERT_EQ(EntryTitles(installed).size(), 7u);

  for (const Job& job : {Job{tree.files.setup, tree.cfg, installed},
                         Job{tree.files.uninstall, installed, tree.cfg}}) {
    tree.Reset(job.start);
    int points = 0;
    for (const auto& [call, count] : CallsMade(tree, job.program)) {
      for (int occurrence = 1; occurrence <= count; ++occurrence) {
        // The kernel's brk fails by giving back the old break, never an error, which the C
        // library would take for a new break and write past its heap: only a kill is made there.
        if (call != "brk") ExpectFailureHandled(tree, job, call, occurrence);
        ExpectKillHandled(tree, job, call, occurrence);
        ++points;
      }
    }
    std::printf("%s: %d calls each made to fail and to kill\n", job.program.c_str(), points);
    EXPECT_GT(points, 50);
  }
}

}  // namespace
