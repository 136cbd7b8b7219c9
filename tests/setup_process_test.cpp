// The built installer and uninstaller run as a user runs them: copied into a livery folder below an
// aircraft folder, started from elsewhere with arguments. Covers the exit statuses, the files they
// refuse to damage, file names in any case, links, concurrent runs and runs that are killed.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "installer/program_run.h"
#include "tests/test_support.h"

namespace {

using test_support::AircraftTree;
using test_support::EntryTitles;
using test_support::ExpectRefused;
using test_support::kAircraftFolder;
using test_support::ListFolder;
using test_support::MakeAircraftTree;
using test_support::ReadFile;
using test_support::RunProgram;
using test_support::ScratchFolder;
using test_support::WaitUntil;
using test_support::WriteFile;

const std::string kAircraftCfg =
    "; kept as it is\r\n[General]\r\natc_type = HERON\r\n\r\n[fltsim.0]\r\ntitle = Factory\r\n"
    "model =\r\n";

test_support::ProcessResult RunSetup(const AircraftTree& tree) {
  return RunProgram(tree.setup, {"--ignored", "arguments"});
}

int LineCount(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

// How often `part` stands in `text` (a trace of system calls, say).
std::size_t Occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

struct Tree {
  ScratchFolder folder;
  AircraftTree files;
  explicit Tree(const std::string* cfg = &kAircraftCfg,
                const std::string& livery = test_support::LiveryIni("Tidewater", "m", "u"),
                const std::string& installer = test_support::BuiltSetupPath())
      : files(MakeAircraftTree(folder.path, cfg, &livery, installer)) {}
};

// Runs `program` under strace, which makes system calls fail, wait or kill the process: `faults`
// are its inject settings ("renameat2:error=EINVAL:when=1"), one for each call. `before` is a
// command that starts the tracer, as setpriv dropping a capability.
// `log`, where given, receives the trace of those calls and of every open.
test_support::ProcessResult RunWithInjectedFaults(const std::string& program,
                                                  const std::vector<std::string>& faults,
                                                  std::vector<std::string> before = {},
                                                  const std::string& log = "") {
  std::string calls = log.empty() ? "" : ",openat";
  for (const std::string& fault : faults) calls += "," + fault.substr(0, fault.find(':'));
  std::vector<std::string> arguments{
      "/usr/bin/strace",         "-f", "-o", log.empty() ? "/dev/null" : log, "-e",
      "trace=" + calls.substr(1)};
  for (const std::string& fault : faults)
    arguments.insert(arguments.end(), {"-e", "inject=" + fault});
  arguments.push_back(program);
  before.insert(before.end(), arguments.begin(), arguments.end());
  const std::string command = before.front();
  before.erase(before.begin());
  // LeakSanitizer cannot run under a tracer; the rest of the checks stay on.
  return RunProgram(
      command, before,
      {.workingDirectory = "/", .userId = -1, .environment = {"ASAN_OPTIONS=detect_leaks=0"}});
}

// Runs the installer under strace with one fault for the calls `calls`.
test_support::ProcessResult RunWithInjectedFault(const AircraftTree& tree, const std::string& calls,
                                                 const std::string& fault) {
  return RunWithInjectedFaults(tree.setup, {calls + ":" + fault});
}

// Root without the capability to take leases on files of others: on another user's file the run
// gets none, as on a file system that has none.
const std::vector<std::string> kWithoutLeases{"/usr/bin/setpriv", "--bounding-set", "-lease"};

// Whether the kernel lists a lease on the file at `path` (/proc/locks names it by its inode).
bool LeaseListedOn(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return false;
  const std::string inode = ":" + std::to_string(status.st_ino) + " ";
  std::istringstream locks(ReadFile("/proc/locks"));
  for (std::string line; std::getline(locks, line);) {
    if (line.find("LEASE") != std::string::npos && line.find(inode) != std::string::npos) {
      return true;
    }
  }
  return false;
}

TEST(SetupProcess, InstallsFromAnyWorkingDirectorySilentlyKeepingEveryEarlierByte) {
  Tree tree;
  const test_support::ProcessResult result = RunSetup(tree.files);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.errorOutput, "");
  EXPECT_EQ(result.output, "");
  const std::string after = ReadFile(tree.files.cfgPath());
  EXPECT_EQ(after.substr(0, kAircraftCfg.size()), kAircraftCfg);
  EXPECT_EQ(EntryTitles(after),
            (std::vector<std::string>{"Factory", "Tidewater full", "Tidewater wing", "Tidewater VC",
                                      "Tidewater 2D"}));
  EXPECT_EQ(ListFolder(tree.files.aircraft), kAircraftFolder);
}

TEST(SetupProcess, UninstallRemovesWhatSetupAddedOrSaysWhyItRemovesNothing) {
  Tree tree;
  ASSERT_EQ(RunSetup(tree.files).status, 0);
  ASSERT_EQ(RunSetup(tree.files).status, 0);
  const test_support::ProcessResult removed = RunProgram(tree.files.uninstall, {"--ignored"});
  EXPECT_EQ(removed.status, 0);
  EXPECT_EQ(removed.errorOutput + removed.output, "");
  EXPECT_EQ(ReadFile(tree.files.cfgPath()), kAircraftCfg);

  const test_support::ProcessResult again = RunProgram(tree.files.uninstall, {});
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(LineCount(again.errorOutput), 1) << again.errorOutput;
  EXPECT_NE(again.errorOutput.find("uninstall: "), std::string::npos) << again.errorOutput;
  EXPECT_NE(again.errorOutput.find("aircraft.cfg"), std::string::npos) << again.errorOutput;
  std::filesystem::remove(tree.files.livery + "/livery.ini");
  const test_support::ProcessResult noLivery = RunProgram(tree.files.uninstall, {});
  EXPECT_EQ(noLivery.status, 1);
  EXPECT_NE(noLivery.errorOutput.find("livery.ini"), std::string::npos) << noLivery.errorOutput;
  EXPECT_EQ(ReadFile(tree.files.cfgPath()), kAircraftCfg);
  EXPECT_EQ(ListFolder(tree.files.aircraft), kAircraftFolder);

  // An entry of the aircraft's own titled as the livery's, with another texture, stays and is
  // named by the index it has once the removal is done, whether or not the livery's own entries
  // are there to remove, after it or before it.
  const std::string own = "title=Tidewater VC\r\ntexture=factory\r\n";
  const std::string sameTitle = kAircraftCfg + "\r\n[fltsim.1]\r\n" + own;
  WriteFile(tree.files.livery + "/livery.ini", test_support::LiveryIni("Tidewater", "m", "u"));
  for (const std::string installed : {"nowhere", "after it", "before it"}) {
    WriteFile(tree.files.cfgPath(), installed == "before it" ? kAircraftCfg : sameTitle);
    if (installed != "nowhere") {
      ASSERT_EQ(RunSetup(tree.files).status, 0);
    }
    if (installed == "before it")
      WriteFile(tree.files.cfgPath(), ReadFile(tree.files.cfgPath()) + "[fltsim.5]\r\n" + own);
    const test_support::ProcessResult kept = RunProgram(tree.files.uninstall, {});
    EXPECT_EQ(kept.status, installed == "nowhere" ? 1 : 0) << installed;
    EXPECT_EQ(LineCount(kept.errorOutput), 1) << kept.errorOutput;
    EXPECT_NE(kept.errorOutput.find("[fltsim.1] \"Tidewater VC\""), std::string::npos)
        << kept.errorOutput;
    EXPECT_EQ(ReadFile(tree.files.cfgPath()), sameTitle);
  }
  // However many stay, the line names the first five.
  std::string six = kAircraftCfg;
  for (int i = 1; i <= 6; ++i) six += "[fltsim." + std::to_string(i) + "]\r\n" + own;
  WriteFile(tree.files.cfgPath(), six);
  const test_support::ProcessResult many = RunProgram(tree.files.uninstall, {});
  EXPECT_EQ(many.status, 1);
  EXPECT_NE(many.errorOutput.find("kept 6 entries"), std::string::npos) << many.errorOutput;
  EXPECT_NE(many.errorOutput.find("[fltsim.5] \"Tidewater VC\", and 1 more\n"), std::string::npos)
      << many.errorOutput;
}

TEST(SetupProcess, StatusHoldsWhenNobodyReadsTheErrorStream) {
  // A script that closed the reading end of the error stream must still get the status.
  Tree tree(nullptr);
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  close(ends[0]);
  const pid_t child = fork();
  if (child == 0) {
    dup2(ends[1], 2);
    execl(tree.files.setup.c_str(), tree.files.setup.c_str(), nullptr);
    _exit(127);
  }
  close(ends[1]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 2);
}

TEST(SetupProcess, FindsFileNamesRegardlessOfCase) {
  Tree tree(nullptr);
  std::filesystem::rename(tree.files.livery + "/livery.ini", tree.files.livery + "/Livery.INI");
  WriteFile(tree.files.aircraft + "/Aircraft.cfg", kAircraftCfg);
  EXPECT_EQ(RunSetup(tree.files).status, 0);
  EXPECT_EQ(ListFolder(tree.files.aircraft), (std::vector<std::string>{"Aircraft.cfg", "Livery"}));
  EXPECT_EQ(EntryTitles(ReadFile(tree.files.aircraft + "/Aircraft.cfg")).size(), 5u);

  // Among several matches the exact lower-case name is the one used...
  WriteFile(tree.files.aircraft + "/aircraft.cfg", kAircraftCfg);
  EXPECT_EQ(RunSetup(tree.files).status, 0);
  EXPECT_EQ(EntryTitles(ReadFile(tree.files.aircraft + "/aircraft.cfg")).size(), 5u);
  // ...and without it the run refuses to guess.
  std::filesystem::rename(tree.files.aircraft + "/aircraft.cfg",
                          tree.files.aircraft + "/AIRCRAFT.CFG");
  const std::string before = ReadFile(tree.files.aircraft + "/Aircraft.cfg");
  const std::string beforeUpper = ReadFile(tree.files.aircraft + "/AIRCRAFT.CFG");
  const test_support::ProcessResult refused = RunSetup(tree.files);
  EXPECT_EQ(refused.status, 2);
  EXPECT_EQ(ReadFile(tree.files.aircraft + "/Aircraft.cfg"), before);
  EXPECT_EQ(ReadFile(tree.files.aircraft + "/AIRCRAFT.CFG"), beforeUpper);
}

TEST(SetupProcess, MissingOrEmptyLiveryWritesNothingAndSaysSo) {
  Tree tree(nullptr);
  std::filesystem::remove(tree.files.livery + "/livery.ini");
  test_support::ProcessResult result = RunSetup(tree.files);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(LineCount(result.errorOutput), 1);
  EXPECT_NE(result.errorOutput.find("livery.ini"), std::string::npos);
  EXPECT_EQ(ListFolder(tree.files.aircraft), (std::vector<std::string>{"Livery"}));

  WriteFile(tree.files.livery + "/livery.ini", "[fltsim.1]\r\ntitle=wrong section\r\n");
  EXPECT_EQ(RunSetup(tree.files).status, 1);
  EXPECT_EQ(ListFolder(tree.files.aircraft), (std::vector<std::string>{"Livery"}));
}

TEST(SetupProcess, MisplacedLiveryFolderCreatesNothingAndSaysWhere) {
  // A livery folder one level too deep, as an extraction into a folder of its own leaves it.
  Tree tree(nullptr);
  for (const std::string& program : {tree.files.setup, tree.files.uninstall}) {
    const test_support::ProcessResult result = RunProgram(program, {});
    EXPECT_EQ(result.status, program == tree.files.setup ? 2 : 1);
    EXPECT_EQ(LineCount(result.errorOutput), 1) << result.errorOutput;
    EXPECT_NE(result.errorOutput.find(tree.files.aircraft + ": holds no aircraft.cfg"),
              std::string::npos)
        << result.errorOutput;
    EXPECT_NE(result.errorOutput.find("belongs directly in the aircraft's folder"),
              std::string::npos);
    EXPECT_EQ(ListFolder(tree.files.aircraft), (std::vector<std::string>{"Livery"}));
  }
}

TEST(SetupProcess, RefusesFilesItCannotUpdateWithoutDamage) {
  for (const test_support::Refusal& refusal : test_support::kRefusals) {
    SCOPED_TRACE(refusal.what);
    Tree tree;
    refusal.make(tree.files.cfgPath());
    ExpectRefused(tree.files, refusal.says);
  }
  {
    // Another program keeps it open for writing, through a descriptor or only a shared writable
    // mapping: its later save would go into the old file once that had no name. One that keeps
    // it open only to read is no obstacle. The livery is installed, so that both programs have
    // something to write.
    const std::string installed =
        kAircraftCfg + "[fltsim.1]\r\ntitle=Tidewater full\r\ntexture=tidewater\r\n";
    Tree tree(&installed);
    const int fd = open(tree.files.cfgPath().c_str(), O_RDWR | O_CLOEXEC);
    ExpectRefused(tree.files, "another program has it open for writing; close it");
    // It is refused after the ninety turns of one file, not the 1,200 of a queue of files: the
    // lock is taken once, then once a turn.
    const std::string log = tree.folder.path + "/locks.log";
    EXPECT_EQ(
        RunProgram(
            "/usr/bin/strace", {"-f", "-o", log, "-e", "trace=flock", tree.files.setup},
            {.workingDirectory = "/", .userId = -1, .environment = {"ASAN_OPTIONS=detect_leaks=0"}})
            .status,
        2);
    EXPECT_EQ(Occurrences(ReadFile(log), "LOCK_EX"), 91u);
    void* mapping = mmap(nullptr, installed.size(), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ASSERT_NE(mapping, MAP_FAILED);
    close(fd);
    ExpectRefused(tree.files, "another program has it open for writing; close it");
    munmap(mapping, installed.size());
    const int reader = open(tree.files.cfgPath().c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(RunSetup(tree.files).status, 0);
    close(reader);
  }
  {
    // Opening a FIFO for reading waits for a writer: the run must neither wait nor keep its lock.
    Tree tree(nullptr);
    ASSERT_EQ(mkfifo(tree.files.cfgPath().c_str(), 0666), 0);
    EXPECT_EQ(RunSetup(tree.files).status, 2);
    std::filesystem::remove(tree.files.livery + "/livery.ini");
    ASSERT_EQ(mkfifo((tree.files.livery + "/livery.ini").c_str(), 0666), 0);
    EXPECT_EQ(RunSetup(tree.files).status, 1);
    EXPECT_TRUE(std::filesystem::is_fifo(tree.files.cfgPath()));
  }
}

TEST(SetupProcess, KeepsPermissionBitsAndUpdatesTheTargetOfALink) {
  Tree tree(nullptr);
  const std::string target = tree.folder.path + "/shared.cfg";
  WriteFile(target, kAircraftCfg);
  // Root installing into another user's file keeps its owner and group.
  ASSERT_EQ(geteuid() == 0 ? chown(target.c_str(), 65534, 65534) : 0, 0);
  chmod(target.c_str(), 01640);  // the sticky bit too
  struct stat before {};
  ASSERT_EQ(stat(target.c_str(), &before), 0);
  std::filesystem::create_symlink(target, tree.files.cfgPath());
  EXPECT_EQ(RunSetup(tree.files).status, 0);
  EXPECT_TRUE(std::filesystem::is_symlink(tree.files.cfgPath()));
  EXPECT_EQ(EntryTitles(ReadFile(target)).size(), 5u);
  struct stat status {};
  ASSERT_EQ(stat(target.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 01640u);
  EXPECT_EQ(status.st_uid, before.st_uid);
  EXPECT_EQ(status.st_gid, before.st_gid);

  std::filesystem::remove(target);  // now the link names nothing
  const test_support::ProcessResult dangling = RunSetup(tree.files);
  EXPECT_EQ(dangling.status, 2);
  EXPECT_FALSE(std::filesystem::exists(target));
  if (geteuid() != 0) GTEST_SKIP() << "not root: the file's owner was this user's own";
}

TEST(SetupProcess, LinkedLiveryFolderInstallsIntoTheAircraftItWasStartedFrom) {
  // A mod manager's layout: the livery lives elsewhere, linked into the aircraft folder.
  Tree tree;
  const std::string elsewhere = tree.folder.path + "/Downloads/Tidewater";
  std::filesystem::create_directories(tree.folder.path + "/Downloads");
  std::filesystem::rename(tree.files.livery, elsewhere);
  std::filesystem::create_directory_symlink(elsewhere, tree.files.livery);
  EXPECT_EQ(RunSetup(tree.files).status, 0);
  const test_support::ProcessResult relative = RunProgram(
      "./Livery/./setup", {}, {.workingDirectory = tree.files.aircraft, .environment = {}});
  EXPECT_EQ(relative.status, 0) << relative.errorOutput;
  // A link to the program itself, as a shortcut elsewhere, leads to where the link says.
  std::filesystem::create_symlink(tree.files.setup, tree.folder.path + "/shortcut");
  EXPECT_EQ(RunProgram(tree.folder.path + "/shortcut", {}).status, 0);
  EXPECT_EQ(EntryTitles(ReadFile(tree.files.cfgPath())).size(), 13u);
  EXPECT_FALSE(test_support::Exists(tree.folder.path + "/Downloads/aircraft.cfg"));
}

// An access ACL in the kernel's form: user rw, user 1000 rw, group r, mask rw, other r.
std::string AccessAclGrantingUser1000Write() {
  std::string acl("\x02\0\0\0", 4);
  const auto entry = [&](std::uint16_t tag, std::uint16_t permissions, std::uint32_t id) {
    acl.append(reinterpret_cast<const char*>(&tag), 2);
    acl.append(reinterpret_cast<const char*>(&permissions), 2);
    acl.append(reinterpret_cast<const char*>(&id), 4);
  };
  entry(0x01, 6, ~0u);
  entry(0x02, 6, 1000);
  entry(0x04, 4, ~0u);
  entry(0x10, 6, ~0u);
  entry(0x20, 4, ~0u);
  return acl;
}

// Root gives files other owners: each test sets up aircraft.cfg of a fresh tree, and the new file
// must be the same file to everyone, or nothing changes.
class SetupProcessAsRoot : public testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give files other owners";
  }
  struct stat CfgStatus() const {
    struct stat status {};
    EXPECT_EQ(stat(cfg.c_str(), &status), 0);
    return status;
  }
  void ExpectUnchanged() const {
    EXPECT_EQ(ReadFile(cfg), kAircraftCfg);
    EXPECT_EQ(ListFolder(tree.files.aircraft), kAircraftFolder);
  }
  Tree tree;
  const std::string cfg = tree.files.cfgPath();
};

TEST_F(SetupProcessAsRoot, KeepsAnotherUsersOwnerGroupSetIdBitsAndAcl) {
  const std::string acl = AccessAclGrantingUser1000Write();
  ASSERT_EQ(chown(cfg.c_str(), 2000, 4242), 0);
  ASSERT_EQ(chmod(cfg.c_str(), 06664), 0);
  ASSERT_EQ(setxattr(cfg.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0), 0);
  EXPECT_EQ(RunSetup(tree.files).status, 0);
  EXPECT_EQ(CfgStatus().st_uid, 2000u);
  EXPECT_EQ(CfgStatus().st_gid, 4242u);
  EXPECT_EQ(CfgStatus().st_mode & 07777, 06664u);
  std::string kept(64, '\0');
  kept.resize(static_cast<std::size_t>(std::max<ssize_t>(
      0, getxattr(cfg.c_str(), "system.posix_acl_access", kept.data(), kept.size()))));
  EXPECT_EQ(kept, acl);
  EXPECT_EQ(EntryTitles(ReadFile(cfg)).size(), 5u);
}

TEST_F(SetupProcessAsRoot, GivesTheNewFileNoAclFromTheFolderThatTheOldOneLacked) {
  const std::string acl = AccessAclGrantingUser1000Write();
  ASSERT_EQ(
      setxattr(tree.files.aircraft.c_str(), "system.posix_acl_default", acl.data(), acl.size(), 0),
      0);
  ASSERT_EQ(chmod(cfg.c_str(), 0660), 0);
  EXPECT_EQ(RunSetup(tree.files).status, 0);
  EXPECT_LT(getxattr(cfg.c_str(), "system.posix_acl_access", nullptr, 0), 0);
  EXPECT_EQ(CfgStatus().st_mode & 07777, 0660u);
}

TEST_F(SetupProcessAsRoot, OwnersOwnRunKeepsTheSetUserIdBit) {
  // The write into a set-user-ID file by its owner does not clear the bit.
  ASSERT_EQ(chown(tree.files.aircraft.c_str(), 65534, 65534), 0);
  ASSERT_EQ(chown(cfg.c_str(), 65534, 65534), 0);
  ASSERT_EQ(chmod(cfg.c_str(), 06664), 0);
  chmod(tree.folder.path.c_str(), 0755);
  const test_support::ProcessResult run = RunProgram(
      tree.files.setup, {},
      {.workingDirectory = "/", .userId = 65534, .memberOfGroup = -1, .environment = {}});
  EXPECT_EQ(run.status, 0) << run.errorOutput;
  EXPECT_EQ(CfgStatus().st_mode & 07777, 06664u);
}

TEST_F(SetupProcessAsRoot, RefusesAFileWhoseOwnerTheRunCannotGiveTheNewOne) {
  // However the user may write the file, a new copy that would have another owner is refused.
  struct Case {
    const char* what;
    std::uint32_t owner;
    mode_t mode;
    mode_t folderMode;
    std::vector<std::string> runner;  // setpriv's settings
    const char* says;
    std::uint32_t folderOwner = 0;
  };
  const std::vector<std::string> member{"--reuid=2000", "--regid=2000", "--groups=4242"};
  for (const Case& refused : std::vector<Case>{
           {"another user's, writable through the group, set-user-ID", 2001, 04464, 0775, member,
            "belongs to user pilot (2001), and a new file would be this user's"},
           {"root's, writable through the group", 0, 0664, 0775, member,
            "belongs to user root (0), and a new file would be this user's"},
           {"another user's, in a folder with the sticky bit", 2001, 0666, 01777, member,
            "belongs to user pilot (2001) in a folder with the sticky bit"},
           {"another user's, in this user's folder with the sticky bit", 2001, 0666, 01777, member,
            "belongs to user pilot (2001), and a new file would be this user's", 2000},
           {"another user's, to root without the capability to give files away",
            2001,
            0644,
            0755,
            {"--bounding-set=-chown"},
            "lacks the capabilities to give a new file to another user"},
           {"another user's, to root without the capability to set its permissions",
            2001,
            0644,
            0755,
            {"--bounding-set=-fowner"},
            "(CAP_CHOWN, CAP_FOWNER): run the installer with them, or as user pilot (2001)"}}) {
    SCOPED_TRACE(refused.what);
    Tree each;
    const std::string path = each.files.cfgPath();
    chmod(each.folder.path.c_str(), 0755);
    ASSERT_EQ(chown(each.files.aircraft.c_str(), refused.folderOwner, 4242), 0);
    ASSERT_EQ(chmod(each.files.aircraft.c_str(), refused.folderMode), 0);
    ASSERT_EQ(chown(path.c_str(), refused.owner, 4242), 0);
    ASSERT_EQ(chmod(path.c_str(), refused.mode), 0);
    // The accounts are the test's own, in a mount namespace of the run's.
    const std::string passwd = each.folder.path + "/passwd";
    WriteFile(passwd, "root:x:0:0::/root:/bin/sh\npilot:x:2001:4242::/:/bin/sh\n");
    std::vector<std::string> arguments{"-m",   "sh",
                                       "-c",   "mount --bind \"$0\" /etc/passwd && exec \"$@\"",
                                       passwd, "/usr/bin/setpriv"};
    arguments.insert(arguments.end(), refused.runner.begin(), refused.runner.end());
    arguments.push_back(each.files.setup);
    const test_support::ProcessResult run = RunProgram("/usr/bin/unshare", arguments);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.errorOutput.find(refused.says), std::string::npos) << run.errorOutput;
    struct stat status {};
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, refused.owner);
    EXPECT_EQ(status.st_mode & 07777, refused.mode);
    EXPECT_EQ(ReadFile(path), kAircraftCfg);
    EXPECT_EQ(ListFolder(each.files.aircraft), kAircraftFolder);
  }
}

TEST_F(SetupProcessAsRoot, RefusesACopyThatDidNotTakeTheOwner) {
  // The change of owner fails, as on a vfat or root-squashed mount: the copy is checked.
  ASSERT_EQ(chown(cfg.c_str(), 2000, 0), 0);
  const test_support::ProcessResult run =
      RunWithInjectedFaults(tree.files.setup, {"fchown:error=EPERM"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.errorOutput.find("did not take what the file carries (its owner)"),
            std::string::npos)
      << run.errorOutput;
  ExpectUnchanged();
}

TEST_F(SetupProcessAsRoot, RefusesAReadOnlyFileSystemAndAFolderThatIsAppendOnly) {
  // Neither lets the file be replaced.
  const test_support::ProcessResult readOnly = RunProgram(
      "/usr/bin/unshare", {"-m", "sh", "-c",
                           "mount --bind \"$0\" \"$0\" && mount -o remount,ro,bind \"$0\" "
                           "\"$0\" && exec \"$1\"",
                           tree.files.aircraft, tree.files.setup});
  EXPECT_EQ(readOnly.status, 2);
  EXPECT_NE(readOnly.errorOutput.find("its file system is mounted read-only"), std::string::npos)
      << readOnly.errorOutput;
  ExpectUnchanged();
  if (RunProgram("/usr/bin/chattr", {"+a", tree.files.aircraft}).status != 0) {
    GTEST_SKIP() << "this file system takes no append-only mark (chattr +a)";
  }
  const test_support::ProcessResult appendOnly = RunSetup(tree.files);
  RunProgram("/usr/bin/chattr", {"-a", tree.files.aircraft});
  EXPECT_EQ(appendOnly.status, 2);
  EXPECT_NE(appendOnly.errorOutput.find("append-only"), std::string::npos)
      << appendOnly.errorOutput;
  ExpectUnchanged();
}

TEST(SetupProcess, NewFileKeepsTheGroupOfTheOldForItsOtherMembers) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to set up a shared group";
  constexpr int kGroup = 4242;
  constexpr int kMember = 65534;
  Tree tree;
  chmod(tree.folder.path.c_str(), 0755);
  ASSERT_EQ(chown(tree.files.aircraft.c_str(), 0, kGroup), 0);
  chmod(tree.files.aircraft.c_str(), 0775);
  ASSERT_EQ(chown(tree.files.cfgPath().c_str(), kMember, kGroup), 0);
  chmod(tree.files.cfgPath().c_str(), 0664);
  const test_support::ProcessResult result = RunProgram(
      tree.files.setup, {},
      {.workingDirectory = "/", .userId = kMember, .memberOfGroup = kGroup, .environment = {}});
  EXPECT_EQ(result.status, 0) << result.errorOutput;
  struct stat status {};
  ASSERT_EQ(stat(tree.files.cfgPath().c_str(), &status), 0);
  EXPECT_EQ(status.st_gid, static_cast<gid_t>(kGroup));
  EXPECT_EQ(status.st_mode & 07777, 0664u);
  EXPECT_EQ(EntryTitles(ReadFile(tree.files.cfgPath())).size(), 5u);
  // The file's owner outside its group: a new copy would have the owner's group, so it stands
  // only where being in the old group or the new one makes no difference, which it does to a
  // file that sets its group's ID.
  for (const mode_t mode : {0640, 0604, 0620, 0654, 02644, 0644}) {
    SCOPED_TRACE(mode);
    Tree outside;
    ASSERT_EQ(chown(outside.files.aircraft.c_str(), kMember, kMember), 0);
    ASSERT_EQ(chown(outside.files.cfgPath().c_str(), kMember, kGroup), 0);
    chmod(outside.files.cfgPath().c_str(), mode);
    chmod(outside.folder.path.c_str(), 0755);
    const test_support::ProcessResult run = RunProgram(
        outside.files.setup, {}, {.workingDirectory = "/", .userId = kMember, .environment = {}});
    ASSERT_EQ(stat(outside.files.cfgPath().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, mode);
    if (mode != 0644) {
      EXPECT_EQ(run.status, 2);
      EXPECT_NE(run.errorOutput.find("keep its group"), std::string::npos) << run.errorOutput;
      EXPECT_EQ(status.st_gid, static_cast<gid_t>(kGroup));
      EXPECT_EQ(ReadFile(outside.files.cfgPath()), kAircraftCfg);
    } else {
      EXPECT_EQ(run.status, 0) << run.errorOutput;
      EXPECT_EQ(EntryTitles(ReadFile(outside.files.cfgPath())).size(), 5u);
    }
  }
}

TEST(SetupProcess, UnwritableFileOrFolderLeavesTheFileAsItWas) {
  Tree tree;
  chmod(tree.folder.path.c_str(), 0755);
  // Root may write anywhere, so the installer runs as an ordinary user here. A file with write
  // bits that this user may not write is not read-only, and the message must not send the user
  // looking for a read-only mark that is not there.
  const test_support::Runner asUser = [](const std::string& program) {
    return RunProgram(
        program, {},
        {.workingDirectory = "/", .userId = geteuid() == 0 ? 65534 : -1, .environment = {}});
  };
  if (geteuid() == 0) {
    chmod(tree.files.cfgPath().c_str(), 0464);
    ExpectRefused(tree.files, "this user may not write it", asUser);
  }
  // The entry that the uninstaller keeps for its texture is not named when nothing was removed.
  const std::string installed = kAircraftCfg + "[fltsim.1]\r\ntitle=Tidewater VC\r\ntexture=f\r\n" +
                                "[fltsim.2]\r\ntitle=Tidewater full\r\ntexture=tidewater\r\n";
  WriteFile(tree.files.cfgPath(), installed);
  chmod(tree.files.cfgPath().c_str(), 0666);
  ASSERT_EQ(geteuid() == 0 ? chown(tree.files.cfgPath().c_str(), 65534, 65534) : 0, 0);
  chmod(tree.files.aircraft.c_str(), 0555);
  ExpectRefused(tree.files, "create a new copy", asUser);
  if (geteuid() != 0) GTEST_SKIP() << "not root: no file with write bits this user may not write";
}

// Holds the aircraft folder's lock the way a running installer does.
int HoldFolderLock(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  EXPECT_EQ(flock(fd, LOCK_EX), 0);
  return fd;
}

TEST(SetupProcess, FolderReplacedWhileWaitingForItsLockIsNotWrittenBehind) {
  // The shared file's folder is moved away while the run waits for its lock, and a new one takes
  // its place: the entries belong in the file that the link leads to now.
  Tree tree(nullptr);
  const std::string store = tree.folder.path + "/store";
  std::filesystem::create_directory(store);
  WriteFile(store + "/master.cfg", kAircraftCfg);
  std::filesystem::create_symlink("../store/master.cfg", tree.files.cfgPath());
  const int lock = HoldFolderLock(store);
  test_support::ProcessResult result;
  std::thread run([&] { result = RunSetup(tree.files); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::filesystem::rename(store, store + "_old");
  std::filesystem::create_directory(store);
  WriteFile(store + "/master.cfg", kAircraftCfg);
  close(lock);
  run.join();
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(EntryTitles(ReadFile(store + "/master.cfg")).size(), 5u);
  EXPECT_EQ(ReadFile(store + "_old/master.cfg"), kAircraftCfg);
}

// Holds the lock of the byte of aircraft.cfg that runs of either build lock, as a run of the other
// build does, through `fd` when one is given.
struct flock SharedByteRange(short type) {
  struct flock range {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = off_t{1} << 62;
  range.l_len = 1;
  return range;
}

int HoldSharedByte(const std::string& path, short type = F_WRLCK, int fd = -1) {
  if (fd < 0) fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  struct flock range = SharedByteRange(type);
  EXPECT_EQ(fcntl(fd, F_OFD_SETLK, &range), 0);
  return fd;
}

// The lock another program holds on that byte of the file at `path`: F_UNLCK for none.
short SharedByteLock(const std::string& path) {
  struct flock probe = SharedByteRange(F_WRLCK);
  const int reader = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  EXPECT_EQ(fcntl(reader, F_OFD_GETLK, &probe), 0);
  close(reader);
  return probe.l_type;
}

TEST(SetupProcess, FileReplacedWhileWaitingForItsLockIsLockedAnew) {
  // A run of the other build holds aircraft.cfg's lock, replaces the file, holds the new file's
  // lock and saves into it: the waiting run must wait for the new file's lock too, not take the
  // old file's for the new one's, and so keep that save.
  Tree tree;
  const int oldLock = HoldSharedByte(tree.files.cfgPath());
  test_support::ProcessResult result;
  std::thread run([&] { result = RunProgram("/usr/bin/timeout", {"20", tree.files.setup}); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  WriteFile(tree.files.cfgPath() + ".new", kAircraftCfg);
  std::filesystem::rename(tree.files.cfgPath() + ".new", tree.files.cfgPath());
  const int newLock = HoldSharedByte(tree.files.cfgPath());
  close(oldLock);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const std::string saved = "; saved while the other run held the lock\r\n";
  ASSERT_EQ(pwrite(newLock, saved.data(), saved.size(), static_cast<off_t>(kAircraftCfg.size())),
            static_cast<ssize_t>(saved.size()));
  close(newLock);
  run.join();
  EXPECT_EQ(result.status, 0) << result.errorOutput;
  const std::string after = ReadFile(tree.files.cfgPath());
  EXPECT_EQ(after.substr(0, kAircraftCfg.size() + saved.size()), kAircraftCfg + saved);
  EXPECT_EQ(EntryTitles(after).size(), 5u);
}

TEST(SetupProcess, FileThatKeepsChangingEndsTheRunAfterSixAttempts) {
  // Another program changes aircraft.cfg all along while every attempt takes a while: the run
  // gives up after six, says why, and the file holds every change, with nothing beside it. Between
  // two attempts it waits 25 ms, then ever longer, doubling, for the other program to finish.
  if (!std::filesystem::exists("/usr/bin/strace")) GTEST_SKIP() << "strace is not installed";
  Tree tree;
  const std::string log = tree.folder.path + "/calls.log";
  std::atomic<bool> done = false;
  int changes = 0;
  std::thread changer([&] {
    for (; !done; ++changes) {
      const std::string line = "; change " + std::to_string(changes) + "\r\n";
      WriteFile(tree.files.cfgPath(), ReadFile(tree.files.cfgPath()) + line);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  const test_support::ProcessResult result = RunProgram(
      "/usr/bin/strace",
      {"-f", "-o", log, "-e", "trace=writev,openat", "-e", "inject=writev:delay_enter=300000",
       tree.files.setup},
      {.workingDirectory = "/", .userId = -1, .environment = {"ASAN_OPTIONS=detect_leaks=0"}});
  done = true;
  changer.join();
  EXPECT_EQ(result.status, 2);
  EXPECT_NE(result.errorOutput.find("another program keeps changing it"), std::string::npos)
      << result.errorOutput;
  // Each attempt makes its working copy anew.
  EXPECT_EQ(Occurrences(ReadFile(log), ".aircraft.cfg.installing\", O_RDWR|O_CREAT|O_EXCL"), 6u);
  const std::string after = ReadFile(tree.files.cfgPath());
  EXPECT_NE(after.find("; change " + std::to_string(changes - 1) + "\r\n"), std::string::npos);
  EXPECT_EQ(EntryTitles(after).size(), 1u);
  std::filesystem::remove(log);
  EXPECT_EQ(ListFolder(tree.files.aircraft), kAircraftFolder);
}

TEST(SetupProcess, RunKilledWhileWaitingLeavesNothingAndBlocksNobody) {
  Tree tree;
  const int lock = HoldFolderLock(tree.files.aircraft);
  const pid_t child = fork();
  if (child == 0) {
    execl(tree.files.setup.c_str(), tree.files.setup.c_str(), nullptr);
    _exit(127);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  int status = 0;
  EXPECT_EQ(waitpid(child, &status, WNOHANG), 0) << "the run should wait for the lock";
  kill(child, SIGKILL);
  waitpid(child, &status, 0);
  close(lock);
  EXPECT_EQ(ReadFile(tree.files.cfgPath()), kAircraftCfg);
  EXPECT_EQ(ListFolder(tree.files.aircraft), kAircraftFolder);
  EXPECT_EQ(RunSetup(tree.files).status, 0);
  EXPECT_EQ(EntryTitles(ReadFile(tree.files.cfgPath())).size(), 5u);
}

TEST(SetupProcess, RunKilledJustBeforeItsCommitLeavesTheOldFileAndNothingThatBlocks) {
  if (!std::filesystem::exists("/usr/bin/strace")) GTEST_SKIP() << "strace is not installed";
  Tree tree;
  const test_support::ProcessResult killed =
      RunWithInjectedFault(tree.files, "rename,renameat,renameat2", "signal=SIGKILL");
  EXPECT_NE(killed.status, 0);
  EXPECT_EQ(ReadFile(tree.files.cfgPath()), kAircraftCfg);
  EXPECT_EQ(RunSetup(tree.files).status, 0);
  EXPECT_EQ(EntryTitles(ReadFile(tree.files.cfgPath())).size(), 5u);
  EXPECT_EQ(ListFolder(tree.files.aircraft), kAircraftFolder);
  // A run killed while it put the old file back, on a file system that cannot swap two files,
  // leaves the copy's name as a second name of the file, and the old file, which may hold another
  // program's save, under the second name it had: the next run removes the one and keeps the
  // other beside, never deletes it.
  const std::string installed = ReadFile(tree.files.cfgPath());
  ASSERT_EQ(link(tree.files.cfgPath().c_str(),
                 (tree.files.aircraft + "/.aircraft.cfg.installing").c_str()),
            0);
  WriteFile(tree.files.aircraft + "/.aircraft.cfg.replaced", kAircraftCfg + "; a save\r\n");
  EXPECT_EQ(RunSetup(tree.files).status, 0);
  EXPECT_EQ(EntryTitles(ReadFile(tree.files.cfgPath())).size(), 9u);
  EXPECT_EQ(ReadFile(tree.files.cfgPath() + ".saved-meanwhile"), kAircraftCfg + "; a save\r\n");
  EXPECT_EQ(ListFolder(tree.files.aircraft),
            (std::vector<std::string>{"Livery", "aircraft.cfg", "aircraft.cfg.saved-meanwhile"}));
}

TEST(SetupProcess, RunOfTheOtherBuildWaitingForTheLockIsNoWriterToRefuse) {
  // A run of the Windows build opens aircraft.cfg for writing, then waits for the lock of its
  // shared byte, which this run holds: the file is open for writing while this run commits, but
  // only to wait for it. This run lets go and starts over, so that both land.
  if (!std::filesystem::exists("/usr/bin/strace")) GTEST_SKIP() << "strace is not installed";
  Tree tree;
  test_support::ProcessResult result;
  std::thread run(
      [&] { result = RunWithInjectedFault(tree.files, "writev", "delay_enter=1000000:when=1"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::thread other([&] {
    const int fd = open(tree.files.cfgPath().c_str(), O_RDWR | O_CLOEXEC);
    struct flock range = SharedByteRange(F_WRLCK);
    EXPECT_EQ(fcntl(fd, F_OFD_SETLKW, &range), 0);
    const std::string section = "[fltsim.9]\r\ntitle=Other build\r\n";
    EXPECT_EQ(pwrite(fd, section.data(), section.size(), lseek(fd, 0, SEEK_END)),
              static_cast<ssize_t>(section.size()));
    close(fd);
  });
  run.join();
  other.join();
  EXPECT_EQ(result.status, 0) << result.errorOutput;
  const std::string after = ReadFile(tree.files.cfgPath());
  EXPECT_NE(after.find("title=Other build"), std::string::npos);
  EXPECT_EQ(EntryTitles(after).size(), 5u);
}

TEST(SetupProcess, QueueOfWritersThatEachPutAFileInPlaceIsWaitedForPastOneFilesTurns) {
  // Programs keep aircraft.cfg open for writing one after another for 15 s, each putting a new
  // file in place before the last lets go, as runs of the Windows build queued on this run's lock
  // do: longer than the turns a run gives one file (about five seconds), but each file put in
  // place starts them anew, so the run waits for the last and lands. They come two at a time, so
  // that a file system that gives a freed identity to the next new file would make the second
  // pass for the file before the first.
  Tree tree;
  const std::string cfg = tree.files.cfgPath();
  int held = open(cfg.c_str(), O_RDWR | O_CLOEXEC);
  const auto putInPlace = [&](const std::string& line) {
    WriteFile(cfg + ".next", ReadFile(cfg) + line);
    const int next = open((cfg + ".next").c_str(), O_RDWR | O_CLOEXEC);
    std::filesystem::rename(cfg + ".next", cfg);
    close(held);
    held = next;
  };
  std::thread queue([&] {
    for (int writer = 0; writer < 6; ++writer) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2500));
      putInPlace("; writer " + std::to_string(writer) + "\r\n");
      putInPlace("; and the next\r\n");
    }
    close(held);
  });
  const test_support::ProcessResult result = RunSetup(tree.files);
  queue.join();
  EXPECT_EQ(result.status, 0) << result.errorOutput;
  const std::string after = ReadFile(cfg);
  EXPECT_NE(after.find("; writer 5\r\n"), std::string::npos);
  EXPECT_EQ(EntryTitles(after).size(), 5u);
}

TEST(SetupProcess, FileRewrittenByAnotherProgramMidRunIsKeptAndTheRunStartsOver) {
  // Another program rewrites aircraft.cfg in place while the run writes its copy, once to a longer
  // text and once to one of the same size, puts a new file with the same bytes and other
  // permissions in its place, or only changes its permissions (empty): the run must neither mix
  // the two nor put its copy of the old file over the new one, nor undo the change, but start
  // over from it.
  if (!std::filesystem::exists("/usr/bin/strace")) GTEST_SKIP() << "strace is not installed";
  std::string sameSize = kAircraftCfg;
  sameSize.replace(sameSize.find("Factory"), 7, "Foundry");
  for (const std::string& rewritten :
       {std::string("; rewritten\n[other]\nkey = a longer value than before\n"), sameSize,
        kAircraftCfg, std::string()}) {
    Tree tree;
    test_support::ProcessResult result;
    std::thread run(
        [&] { result = RunWithInjectedFault(tree.files, "writev", "delay_enter=1000000:when=1"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const std::string written =
        rewritten == kAircraftCfg ? tree.files.cfgPath() + ".new" : tree.files.cfgPath();
    if (!rewritten.empty()) WriteFile(written, rewritten);
    chmod(written.c_str(), 0604);
    std::filesystem::rename(written, tree.files.cfgPath());
    run.join();
    EXPECT_EQ(result.status, 0) << result.errorOutput;
    const std::string after = ReadFile(tree.files.cfgPath());
    EXPECT_EQ(after.substr(0, rewritten.size()), rewritten);
    EXPECT_EQ(EntryTitles(after).size(), rewritten.find("[other]") == std::string::npos ? 5u : 4u);
    struct stat status {};
    ASSERT_EQ(stat(tree.files.cfgPath().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0604u);
    EXPECT_EQ(ListFolder(tree.files.aircraft), kAircraftFolder);
  }
  // A link aircraft.cfg made to name another file meanwhile: the entries go where it leads now.
  Tree linked(nullptr);
  const std::string store = linked.folder.path + "/store";
  std::filesystem::create_directory(store);
  WriteFile(store + "/a.cfg", kAircraftCfg);
  WriteFile(store + "/b.cfg", kAircraftCfg);
  std::filesystem::create_symlink(store + "/a.cfg", linked.files.cfgPath());
  test_support::ProcessResult result;
  std::thread run(
      [&] { result = RunWithInjectedFault(linked.files, "writev", "delay_enter=1000000:when=1"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  std::filesystem::remove(linked.files.cfgPath());
  std::filesystem::create_symlink(store + "/b.cfg", linked.files.cfgPath());
  run.join();
  EXPECT_EQ(result.status, 0) << result.errorOutput;
  EXPECT_EQ(ReadFile(store + "/a.cfg"), kAircraftCfg);
  EXPECT_EQ(EntryTitles(ReadFile(store + "/b.cfg")).size(), 5u);
}

TEST(SetupProcess, WaitsWhileARunOfTheWindowsBuildMovesItsCopyIn) {
  // A run of the Windows build lets go of aircraft.cfg for its move, holding the shared byte of
  // its copy instead. A native run started meanwhile waits for the move, however long a busy
  // system holds it up, and then for the byte of the file moved in, which the next Windows run
  // holds; a copy that a killed run left holds no lock and is not waited for.
  Tree tree;
  const std::string copy = tree.files.cfgPath() + ".installing";
  WriteFile(copy, "left by a killed run");
  test_support::ProcessResult result = RunSetup(tree.files);
  EXPECT_EQ(result.status, 0) << result.errorOutput;
  EXPECT_EQ(ReadFile(copy), "left by a killed run");
  const std::string moved = ReadFile(tree.files.cfgPath()) + "[fltsim.5]\r\ntitle=Windows run\r\n";
  WriteFile(copy, moved);
  const int held = HoldSharedByte(copy);
  std::thread run([&] { result = RunSetup(tree.files); });
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  // A move that another program's hold stopped has the Windows run take the file's byte again
  // while it waits, which the waiting native run has let go of.
  close(HoldSharedByte(tree.files.cfgPath()));
  ASSERT_EQ(rename(copy.c_str(), tree.files.cfgPath().c_str()), 0);
  HoldSharedByte(tree.files.cfgPath(), F_WRLCK, held);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(ReadFile(tree.files.cfgPath()), moved);
  close(held);
  run.join();
  EXPECT_EQ(result.status, 0) << result.errorOutput;
  const std::vector<std::string> titles = EntryTitles(ReadFile(tree.files.cfgPath()));
  EXPECT_EQ(titles.size(), 10u);
  EXPECT_EQ(std::count(titles.begin(), titles.end(), "Windows run"), 1);
  // The copy's name as a link to the file, or another name of it, holds this run's own lock,
  // which is no move to wait for; a lock held far longer than a move is refused, not waited out.
  const auto runBounded = [&] { return RunProgram("/usr/bin/timeout", {"30", tree.files.setup}); };
  for (const bool symbolic : {true, false}) {
    std::filesystem::remove(copy);
    if (symbolic) {
      std::filesystem::create_symlink("aircraft.cfg", copy);
    } else {
      std::filesystem::create_hard_link(tree.files.cfgPath(), copy);
    }
    // A second name of the file is refused for its own sake: a new file would separate them.
    const test_support::ProcessResult bounded = runBounded();
    EXPECT_EQ(bounded.status, symbolic ? 0 : 2) << bounded.errorOutput;
  }
  std::filesystem::remove(copy);
  WriteFile(copy, "held by some program");
  const std::string before = ReadFile(tree.files.cfgPath());
  const int stuck = HoldSharedByte(copy);
  result = runBounded();
  close(stuck);
  EXPECT_EQ(result.status, 2);
  EXPECT_NE(result.errorOutput.find("aircraft.cfg.installing, locked for longer"),
            std::string::npos)
      << result.errorOutput;
  EXPECT_EQ(ReadFile(tree.files.cfgPath()), before);
}

TEST(SetupProcess, SaveIntoTheNewFileBeforeItIsSwappedBackIsKeptBesideIt) {
  // One program changes aircraft.cfg before the run swaps its copy in, another writes into the
  // copy while it stands in place: the run swaps the first back and keeps the second beside it,
  // under the first name that saves kept by earlier runs leave free, or, where the file's name
  // leaves no room for a longer one (-1), under the copy's name, which the run must not delete.
  // The run gets no lease (root without the capability, on another user's file), which would
  // hold the first one back.
  if (!std::filesystem::exists("/usr/bin/strace")) GTEST_SKIP() << "strace is not installed";
  for (const int earlier : {0, 9, -1}) {
    SCOPED_TRACE(earlier);
    Tree tree;
    const std::string name = earlier < 0 ? std::string(240, 'a') : "aircraft.cfg";
    if (earlier < 0) {
      std::filesystem::rename(tree.files.cfgPath(), tree.files.aircraft + "/" + name);
      std::filesystem::create_symlink(name, tree.files.cfgPath());
    }
    const std::string base = tree.files.aircraft + "/" + name + ".saved-meanwhile";
    for (int number = 1; number <= earlier; ++number) {
      WriteFile(number == 1 ? base : base + "-" + std::to_string(number), "an earlier save");
    }
    ASSERT_EQ(chown(tree.files.cfgPath().c_str(), 2000, 2000), 0);
    test_support::ProcessResult result;
    std::thread run([&] {
      result = RunWithInjectedFaults(tree.files.setup,
                                     {"renameat2:delay_enter=1000000:delay_exit=1000000:when=1"},
                                     kWithoutLeases);
    });
    const auto append = [&](const char* line) {
      const int fd = open(tree.files.cfgPath().c_str(), O_WRONLY | O_APPEND);
      ASSERT_GE(fd, 0);
      ASSERT_EQ(write(fd, line, std::strlen(line)), static_cast<ssize_t>(std::strlen(line)));
      close(fd);
    };
    // The copy stands beside the file once the run commits, and a moment later the swap waits a
    // second, and so does the look after it: each save lands in its second.
    const std::string copy = tree.files.aircraft + "/." + name + ".installing";
    const auto inode = [&] {
      struct stat status {};
      stat(tree.files.cfgPath().c_str(), &status);
      return status.st_ino;
    };
    const ino_t before = inode();
    WaitUntil([&] { return test_support::Exists(copy); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // into the swap's second
    // The first save keeps the file's size where earlier saves were kept, and its time of
    // modification to the second, as a program that restores that time in whole seconds does:
    // only the fraction of a second tells.
    std::string first = kAircraftCfg + "; the first save\r\n";
    if (earlier == 9) {
      first = kAircraftCfg;
      first.replace(first.find("Factory"), 7, "Foundry");
      const int fd = open(tree.files.cfgPath().c_str(), O_WRONLY);
      struct stat old {};
      EXPECT_EQ(fstat(fd, &old), 0);
      EXPECT_EQ(pwrite(fd, first.data(), first.size(), 0), static_cast<ssize_t>(first.size()));
      const struct timespec wholeSecond[2] = {{0, UTIME_OMIT}, {old.st_mtim.tv_sec, 0}};
      EXPECT_EQ(futimens(fd, wholeSecond), 0);
      close(fd);
    } else {
      append("; the first save\r\n");
    }
    WaitUntil([&] { return inode() != before; });
    append("; the second save\r\n");
    run.join();
    const std::string keptPath = earlier < 0    ? tree.files.aircraft + "/." + name + ".installing"
                                 : earlier == 0 ? base
                                                : base + "-" + std::to_string(earlier + 1);
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.errorOutput.find(keptPath.substr(keptPath.rfind('/') + 1)), std::string::npos)
        << result.errorOutput;
    EXPECT_EQ(ReadFile(tree.files.cfgPath()), first);
    const std::string kept = ReadFile(keptPath);
    EXPECT_EQ(EntryTitles(kept).size(), 5u);
    EXPECT_NE(kept.find("; the second save\r\n"), std::string::npos);
  }
  // A program that only reads the file while the run holds its lease, which the kernel lists,
  // changes nothing: the run makes one copy and does not start over.
  Tree tree;
  {
    const std::string log = tree.folder.path + "/trace";
    test_support::ProcessResult read;
    std::thread run([&] {
      read = RunWithInjectedFaults(
          tree.files.setup, {"renameat2:delay_enter=1000000:delay_exit=1000000:when=1"}, {}, log);
    });
    WaitUntil(
        [&] { return test_support::Exists(tree.files.aircraft + "/.aircraft.cfg.installing"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(ReadFile(tree.files.cfgPath()), kAircraftCfg);
    EXPECT_TRUE(LeaseListedOn(tree.files.cfgPath()));
    // The byte that runs of either build lock stays locked, for reading now, under the lease;
    // once swapped in, the new file's byte is locked for writing, so that a run through another
    // view of the folder waits for this one to end.
    EXPECT_EQ(SharedByteLock(tree.files.cfgPath()), F_RDLCK);
    WaitUntil([&] { return ReadFile(tree.files.cfgPath()) != kAircraftCfg; });
    EXPECT_EQ(SharedByteLock(tree.files.cfgPath()), F_WRLCK);
    run.join();
    EXPECT_EQ(read.status, 0) << read.errorOutput;
    EXPECT_EQ(Occurrences(ReadFile(log), ".installing\", O_RDWR|O_CREAT|O_EXCL"), 1u);
    std::filesystem::remove(log);
    WriteFile(tree.files.cfgPath(), kAircraftCfg);
  }
  // With the lease, the first program's open waits for the run, which sees it, swaps back and
  // starts over: the save and the entries are in the file, nothing beside it.
  test_support::ProcessResult result;
  std::thread run([&] {
    result = RunWithInjectedFault(tree.files, "renameat2",
                                  "delay_enter=1000000:delay_exit=1000000:when=1");
  });
  WaitUntil(
      [&] { return test_support::Exists(tree.files.aircraft + "/.aircraft.cfg.installing"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(LeaseListedOn(tree.files.cfgPath()));
  const int fd = open(tree.files.cfgPath().c_str(), O_WRONLY | O_APPEND);
  EXPECT_EQ(write(fd, "; saved\r\n", 9), 9);
  close(fd);
  run.join();
  EXPECT_EQ(result.status, 0) << result.errorOutput;
  const std::string after = ReadFile(tree.files.cfgPath());
  EXPECT_EQ(after.substr(0, kAircraftCfg.size() + 9), kAircraftCfg + "; saved\r\n");
  EXPECT_EQ(EntryTitles(after).size(), 5u);
  EXPECT_EQ(ListFolder(tree.files.aircraft), kAircraftFolder);
}

TEST(SetupProcess, FileSystemThatCannotSwapTwoFilesKeepsTheOldFileUntilItIsLookedAt) {
  // Where the swap fails as on a file system without one, the file gets a second name before the
  // copy is moved over it. A save that the lease held back in that moment is seen, the old file
  // put back for it, and the run starts over: the save and the entries are in the file, and
  // nothing is left beside it.
  if (!std::filesystem::exists("/usr/bin/strace")) GTEST_SKIP() << "strace is not installed";
  Tree tree;
  test_support::ProcessResult result;
  std::thread run([&] {
    result = RunWithInjectedFaults(
        tree.files.setup, {"renameat2:error=EINVAL:when=1", "renameat:delay_enter=1000000:when=1"});
  });
  WaitUntil(
      [&] { return test_support::Exists(tree.files.aircraft + "/.aircraft.cfg.installing"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(LeaseListedOn(tree.files.cfgPath()));
  const int fd = open(tree.files.cfgPath().c_str(), O_WRONLY | O_APPEND);
  EXPECT_EQ(write(fd, "; saved\r\n", 9), 9);
  close(fd);
  run.join();
  EXPECT_EQ(result.status, 0) << result.errorOutput;
  std::string after = ReadFile(tree.files.cfgPath());
  EXPECT_EQ(after.substr(0, kAircraftCfg.size() + 9), kAircraftCfg + "; saved\r\n");
  EXPECT_EQ(EntryTitles(after).size(), 5u);
  EXPECT_EQ(ListFolder(tree.files.aircraft), kAircraftFolder);
  // Where the file cannot have a second name either, nothing would keep the file taken out: the
  // run lets its lease go first, so that a save it held back lands while the file still has its
  // name, and waits for the program to close the file before it compares once more: one that
  // writes a while after its open is seen too, and the run starts over. A rename that the
  // folder's flush cannot confirm is reported as in place; a folder standing under the second
  // name is named.
  std::thread held([&] {
    result = RunWithInjectedFaults(tree.files.setup, {"renameat2:error=EINVAL:when=1",
                                                      "linkat:error=EPERM:delay_enter=1000000"});
  });
  WaitUntil(
      [&] { return test_support::Exists(tree.files.aircraft + "/.aircraft.cfg.installing"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const int again = open(tree.files.cfgPath().c_str(), O_WRONLY | O_APPEND);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(write(again, "; saved again\r\n", 15), 15);
  close(again);
  held.join();
  EXPECT_EQ(result.status, 0) << result.errorOutput;
  after = ReadFile(tree.files.cfgPath());
  EXPECT_NE(after.find("; saved again\r\n"), std::string::npos);
  EXPECT_EQ(EntryTitles(after).size(), 9u);
  // A save whose open the lease holds back in the moment of the rename goes, once let go, into
  // the file replaced, which has no name then: it is kept beside, with the file's owner and
  // permission bits, and the run, whose entries are in place, says so.
  const bool root = geteuid() == 0;
  if (root) {
    EXPECT_EQ(chown(tree.files.cfgPath().c_str(), 2001, 4242), 0);
  }
  chmod(tree.files.cfgPath().c_str(), 0640);
  std::thread moving([&] {
    result = RunWithInjectedFaults(tree.files.setup,
                                   {"renameat2:error=EINVAL:when=1", "linkat:error=EPERM",
                                    "renameat:delay_enter=1500000:when=1"});
  });
  WaitUntil(
      [&] { return test_support::Exists(tree.files.aircraft + "/.aircraft.cfg.installing"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // into the rename's wait
  std::thread saving([&] {
    const int late = open(tree.files.cfgPath().c_str(), O_WRONLY | O_APPEND);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // a save that takes a while
    EXPECT_EQ(write(late, "; saved as it was replaced\r\n", 28), 28);
    close(late);
  });
  moving.join();
  saving.join();
  EXPECT_EQ(result.status, 3) << result.errorOutput;
  EXPECT_NE(result.errorOutput.find("the save is beside it as aircraft.cfg.saved-meanwhile"),
            std::string::npos)
      << result.errorOutput;
  EXPECT_EQ(ReadFile(tree.files.cfgPath() + ".saved-meanwhile"),
            after + "; saved as it was replaced\r\n");
  struct stat kept {};
  EXPECT_EQ(stat((tree.files.cfgPath() + ".saved-meanwhile").c_str(), &kept), 0);
  EXPECT_EQ(kept.st_uid, root ? 2001u : getuid());
  EXPECT_EQ(kept.st_gid, root ? 4242u : getgid());
  EXPECT_EQ(kept.st_mode & 07777, 0640u);
  std::filesystem::remove(tree.files.cfgPath() + ".saved-meanwhile");
  EXPECT_EQ(EntryTitles(ReadFile(tree.files.cfgPath())).size(), 13u);
  const test_support::ProcessResult unconfirmed = RunWithInjectedFaults(
      tree.files.setup, {"renameat2:error=EINVAL:when=1", "fsync:error=EIO:when=2"});
  EXPECT_EQ(unconfirmed.status, 3) << unconfirmed.errorOutput;
  EXPECT_EQ(EntryTitles(ReadFile(tree.files.cfgPath())).size(), 17u);
  EXPECT_EQ(ListFolder(tree.files.aircraft), kAircraftFolder);
  std::filesystem::create_directory(tree.files.aircraft + "/.aircraft.cfg.replaced");
  const test_support::ProcessResult inTheWay =
      RunWithInjectedFaults(tree.files.setup, {"renameat2:error=EINVAL:when=1"});
  EXPECT_EQ(inTheWay.status, 2);
  EXPECT_NE(
      inTheWay.errorOutput.find("a file of the name .aircraft.cfg.replaced stands in the way"),
      std::string::npos)
      << inTheWay.errorOutput;
}

TEST(SetupProcess, RunsThroughTwoViewsOfTheFolderWaitForEachOther) {
  // A FUSE mount that shows the aircraft's folder a second time and forwards locks, as bindfs does,
  // swaps no two files and has no move that replaces nothing, and a lock of the folder taken
  // through it is not the one taken through the folder itself: runs through the two views still
  // wait for each other, on the file's shared byte, and both land.
  if (!std::filesystem::exists("/usr/bin/bindfs") || !std::filesystem::exists("/dev/fuse")) {
    GTEST_SKIP() << "no bindfs or no /dev/fuse: no second view of a folder to test through";
  }
  Tree tree;
  const std::string view = tree.folder.path + "/view";
  std::filesystem::create_directory(view);
  if (RunProgram("/usr/bin/bindfs",
                 {"--multithreaded", "--enable-lock-forwarding", tree.files.aircraft, view})
          .status != 0) {
    GTEST_SKIP() << "bindfs cannot mount here";
  }
  test_support::ProcessResult direct;
  test_support::ProcessResult viewed;
  std::thread first(
      [&] { direct = RunWithInjectedFault(tree.files, "writev", "delay_enter=1000000:when=1"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::thread second([&] { viewed = RunProgram(view + "/Livery/setup", {}); });
  first.join();
  second.join();
  RunProgram("/usr/bin/fusermount", {"-u", view});
  EXPECT_EQ(direct.status, 0) << direct.errorOutput;
  EXPECT_EQ(viewed.status, 0) << viewed.errorOutput;
  EXPECT_EQ(EntryTitles(ReadFile(tree.files.cfgPath())).size(), 9u);
  EXPECT_EQ(ListFolder(tree.files.aircraft), kAircraftFolder);
}

TEST(SetupProcess, FilePutInPlaceByAThirdProgramIsNeverReplacedByTheSwapBack) {
  // One program puts a file of its own in place of aircraft.cfg just before the swap, so that the
  // run swaps it back; a third deletes the new file just before that and puts another in its
  // place just after: the swap back finds no file to swap with, and then a file it must not
  // replace. Both are kept, the second program's beside, and the run says so.
  if (!std::filesystem::exists("/usr/bin/strace")) GTEST_SKIP() << "strace is not installed";
  Tree tree;
  test_support::ProcessResult result;
  std::thread run([&] {
    result = RunWithInjectedFaults(tree.files.setup,
                                   {"renameat2:delay_enter=1000000:delay_exit=1000000:when=1..2"});
  });
  WaitUntil(
      [&] { return test_support::Exists(tree.files.aircraft + "/.aircraft.cfg.installing"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // into the swap's wait
  WriteFile(tree.files.cfgPath() + ".second", "; the second program's file\r\n");
  std::filesystem::rename(tree.files.cfgPath() + ".second", tree.files.cfgPath());
  WaitUntil([&] { return ReadFile(tree.files.cfgPath()) != "; the second program's file\r\n"; });
  std::this_thread::sleep_for(std::chrono::milliseconds(1300));  // into the swap back's wait
  std::filesystem::remove(tree.files.cfgPath());
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));  // past the swap back, not after
  WriteFile(tree.files.cfgPath(), "; the third program's file\r\n");
  run.join();
  EXPECT_EQ(result.status, 2);
  EXPECT_NE(result.errorOutput.find("aircraft.cfg.saved-meanwhile"), std::string::npos)
      << result.errorOutput;
  EXPECT_EQ(ReadFile(tree.files.cfgPath()), "; the third program's file\r\n");
  EXPECT_EQ(ReadFile(tree.files.cfgPath() + ".saved-meanwhile"), "; the second program's file\r\n");
  EXPECT_EQ(ListFolder(tree.files.aircraft),
            (std::vector<std::string>{"Livery", "aircraft.cfg", "aircraft.cfg.saved-meanwhile"}));
}

TEST(SetupProcess, DiskFullOrIoErrorIsReportedAndChangesNothing) {
  if (!std::filesystem::exists("/usr/bin/strace")) GTEST_SKIP() << "strace is not installed";
  for (const auto& [calls, fault] :
       std::vector<std::pair<std::string, std::string>>{{"write,writev", "error=ENOSPC:when=1"},
                                                        {"fsync", "error=ENOSPC:when=1"},
                                                        {"rename,renameat,renameat2", "error=EIO"},
                                                        {"fsync", "error=EIO:when=2"}}) {
    // The installer as users get it: the sanitizers' own writes (made when memory is unmapped)
    // would take the injected fault in its place.
    Tree tree(&kAircraftCfg, test_support::LiveryIni("Tidewater", "m", "u"),
              LIVERY_PLAIN_SETUP_PATH);
    const test_support::ProcessResult result = RunWithInjectedFault(tree.files, calls, fault);
    const std::string after = ReadFile(tree.files.cfgPath());
    // A failed flush of the folder comes after the rename: the new file is whole, but the run
    // cannot promise it is on disk. It must not call the file unchanged, or a second run doubles
    // every entry.
    if (fault == "error=EIO:when=2") {
      EXPECT_EQ(result.status, 3);
      EXPECT_EQ(EntryTitles(after).size(), 5u);
    } else {
      EXPECT_EQ(result.status, 2) << calls << " " << fault;
      EXPECT_EQ(after, kAircraftCfg) << calls << " " << fault;
    }
    EXPECT_EQ(ListFolder(tree.files.aircraft), kAircraftFolder);
  }
}

}  // namespace
