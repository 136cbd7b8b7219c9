// The Windows installer and uninstaller run under Wine as a user runs them: the same entries as the
// Linux build, the same exit statuses for what they refuse, runs that wait for each other, paths
// that do not fit the platform's buffers, and a double-byte code page.
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "installer/livery_entries.h"
#include "profile/entry_numbering.h"
#include "tests/test_support.h"
#include "tests/windows/wine_support.h"

namespace {

using test_support::AircraftTree;
using test_support::EntryTitles;
using test_support::ExpectRefused;
using test_support::kAircraftFolder;
using test_support::ListFolder;
using test_support::MakeAircraftTree;
using test_support::ReadFile;
using test_support::ScratchFolder;
using test_support::WriteFile;
using wine_support::RunUnderWine;

using wine_support::kExampleCfg;
using wine_support::kExampleLivery;
using wine_support::WindowsTree;

// Every key of every entry, and of the [General] section, as the platform reads it.
std::vector<std::optional<std::string>> EntryValues(const std::string& cfg, int entries) {
  std::vector<wine_support::Query> queries;
  for (int i = 0; i < entries; ++i) {
    for (const char* key : installer::EntryKeys)
      queries.push_back({profile::EntrySectionName(i), key});
  }
  for (const char* key : {"atc_type", "atc_model", "editable", "performance"}) {
    queries.push_back({"General", key});
  }
  return wine_support::ReadThroughPlatform(cfg, queries);
}

// Runs `program` of the Windows or the Linux build, as the tree holds.
int RunEither(const std::string& program) {
  return program.ends_with(".exe") ? RunUnderWine(program, {"any", "arguments"}).status
                                   : test_support::RunProgram(program, {}).status;
}

// A livery folder below the aircraft of `tree`, named `name` (UTF-8, as Linux holds it), with
// `livery` and the two Windows programs in it; its path.
std::string LiveryFolder(const AircraftTree& tree, const std::string& name,
                         const std::string& livery) {
  const std::string folder = tree.aircraft + "/" + name;
  std::filesystem::create_directory(folder);
  WriteFile(folder + "/livery.ini", livery);
  std::filesystem::copy_file(wine_support::BuiltWindowsSetup(), folder + "/setup.exe");
  std::filesystem::copy_file(wine_support::BuiltWindowsUninstall(), folder + "/uninstall.exe");
  return folder;
}

TEST(WineInstall, GivesTheSameValuesAsTheLinuxBuild) {
  ScratchFolder folder;
  const AircraftTree windows = WindowsTree(folder.path + "/windows");
  const AircraftTree linux =
      MakeAircraftTree(folder.path + "/linux", &kExampleCfg, &kExampleLivery);
  for (const AircraftTree& tree : {windows, linux}) EXPECT_EQ(RunEither(tree.setup), 0);
  const std::vector<std::string> titles = EntryTitles(ReadFile(windows.cfgPath()));
  ASSERT_EQ(titles.size(), 7u);
  EXPECT_EQ(titles[6], "Aerolynx AL-40 Heron Tidewater Air 2D");
  EXPECT_EQ(EntryTitles(ReadFile(linux.cfgPath())), titles);
  EXPECT_EQ(EntryValues(windows.cfgPath(), 8), EntryValues(linux.cfgPath(), 8));
  EXPECT_EQ(ListFolder(windows.aircraft), kAircraftFolder);

  // A second livery after the first, whose entries the removal of the first renumbers.
  for (const AircraftTree& tree : {windows, linux}) {
    const std::string other = tree.aircraft + "/Other";
    std::filesystem::create_directory(other);
    WriteFile(other + "/livery.ini", test_support::LiveryIni("Other", "o", "u"));
    const std::string setup = other + "/" + std::filesystem::path(tree.setup).filename().string();
    std::filesystem::copy_file(tree.setup, setup);
    EXPECT_EQ(RunEither(setup), 0);
    EXPECT_EQ(RunEither(tree.uninstall), 0);
    EXPECT_EQ(RunEither(tree.uninstall), 1);
  }
  const std::vector<std::string> renumbered = EntryTitles(ReadFile(windows.cfgPath()));
  ASSERT_EQ(renumbered.size(), 7u);
  EXPECT_EQ(renumbered[3], "Other full");
  EXPECT_EQ(EntryTitles(ReadFile(linux.cfgPath())), renumbered);
  EXPECT_EQ(EntryValues(windows.cfgPath(), 12), EntryValues(linux.cfgPath(), 12));
  EXPECT_EQ(ListFolder(windows.aircraft),
            (std::vector<std::string>{"Livery", "Other", "aircraft.cfg"}));
}

TEST(WineInstall, UninstallKeepsEveryByteAsTheLinuxBuildDoes) {
  // The native setup installs two liveries; removing the first renumbers the second's entries.
  // uninstall.exe must write what the Linux uninstall writes, byte for byte, and removing the
  // second too must give back the file as it was: comments, header notes, spacing, blank lines,
  // LF breaks and UTF-8 letters outside the code page included. In the last file a later,
  // hand-written section shares the name of an entry that moves, and moves with it.
  const std::string handWritten =
      "; my aircraft\n[General]\natc_type = HERON ; keep\n\n[fltsim.0] ; the first\n"
      "title = Heron Factory\n  texture =  factory  \n# note without equals\n";
  const std::string utf8 =
      "\xEF\xBB\xBF[fltsim.0]\r\ntitle=Heron \xC5\x81\xC3\xB3\x64\xC5\xBA\r\n"
      "description=\xD0\x9F\xD0\xBE\xD0\xB1\xD0\xB5\xD0\xB4\xD0\xB0 \xE6\x97\xA5\r\n";
  ScratchFolder folder;
  int run = 0;
  for (const std::string* original : {&kExampleCfg, &handWritten, &utf8, &handWritten}) {
    const bool duplicated = run == 3;
    const AircraftTree tree =
        MakeAircraftTree(folder.path + "/" + std::to_string(run++), original, &kExampleLivery);
    std::filesystem::copy_file(wine_support::BuiltWindowsUninstall(),
                               tree.livery + "/uninstall.exe");
    const std::string other = tree.aircraft + "/Other";
    std::filesystem::create_directory(other);
    WriteFile(other + "/livery.ini", test_support::LiveryIni("Other", "o", "u"));
    for (const std::string program : {"setup", "uninstall"}) {
      std::filesystem::copy_file(tree.livery + "/" + program, other + "/" + program);
    }
    std::filesystem::copy_file(wine_support::BuiltWindowsUninstall(), other + "/uninstall.exe");
    ASSERT_EQ(RunEither(tree.setup), 0);
    ASSERT_EQ(RunEither(other + "/setup"), 0);
    std::string both = ReadFile(tree.cfgPath());
    if (duplicated) both += "[FltSim.7] ; a later one of the same name\nnote=moves along\n";
    WriteFile(tree.cfgPath(), both);

    EXPECT_EQ(RunEither(tree.uninstall), 0);
    const std::string removedByLinux = ReadFile(tree.cfgPath());
    WriteFile(tree.cfgPath(), both);
    EXPECT_EQ(RunEither(tree.livery + "/uninstall.exe"), 0);
    EXPECT_EQ(ReadFile(tree.cfgPath()), removedByLinux) << *original;
    if (duplicated) continue;
    EXPECT_EQ(RunEither(other + "/uninstall.exe"), 0);
    EXPECT_EQ(ReadFile(tree.cfgPath()), *original);
    EXPECT_EQ(ListFolder(tree.aircraft),
              (std::vector<std::string>{"Livery", "Other", "aircraft.cfg"}));
  }
}

TEST(WineInstall, NothingToInstallOrToRemoveWritesNothing) {
  ScratchFolder folder;
  // A livery folder one level too deep: its parent holds no aircraft.cfg, and none is created.
  // Each says why in one line on its redirected standard error, its paths as the user knows them.
  const AircraftTree misplaced = WindowsTree(folder.path + "/misplaced", nullptr);
  EXPECT_EQ(RunUnderWine(misplaced.setup).status, 2);
  const test_support::ProcessResult noCfg = RunUnderWine(misplaced.uninstall);
  EXPECT_EQ(noCfg.status, 1);
  EXPECT_EQ(noCfg.errorOutput, wine_support::WindowsPath(misplaced.aircraft) +
                                   ": holds no aircraft.cfg; a livery folder belongs directly in "
                                   "the aircraft's folder\r\n");
  EXPECT_EQ(ListFolder(misplaced.aircraft), (std::vector<std::string>{"Livery"}));

  const AircraftTree missing = WindowsTree(folder.path + "/missing", nullptr, nullptr);
  const test_support::ProcessResult noLivery = RunUnderWine(missing.setup);
  EXPECT_EQ(noLivery.status, 1);
  EXPECT_EQ(
      noLivery.errorOutput,
      wine_support::WindowsPath(missing.livery) +
          "\\livery.ini: nothing to install (missing, unreadable, or no [fltsim.0] entries)\r\n");
  EXPECT_EQ(RunUnderWine(missing.uninstall).status, 1);
  EXPECT_EQ(ListFolder(missing.aircraft), (std::vector<std::string>{"Livery"}));
  const AircraftTree notInstalled = WindowsTree(folder.path + "/not-installed");
  EXPECT_EQ(RunUnderWine(notInstalled.uninstall).status, 1);
  EXPECT_EQ(ReadFile(notInstalled.cfgPath()), kExampleCfg);
  EXPECT_EQ(ListFolder(notInstalled.aircraft), kAircraftFolder);

  // UTF-16 BE text, which Wine's profile functions would read but the Linux build does not.
  const std::string bigEndian("\xFE\xFF\0[\0f\0l\0t\0s\0i\0m\0.\0\x30\0]\0\r\0\n\0t\0=\0x", 32);
  const AircraftTree unread = WindowsTree(folder.path + "/big-endian", &kExampleCfg, &bigEndian);
  EXPECT_EQ(RunUnderWine(unread.setup).status, 1);
  EXPECT_EQ(ReadFile(unread.cfgPath()), kExampleCfg);

  // No entries, a [fltsim.0] of nothing but a comment (which Wine's profile functions hand out),
  // or a folder named livery.ini: nothing to install or remove, at once, and said so.
  for (const std::string& livery :
       {std::string("title=loose\r\n[fltsim.0]\r\n\r\n[fltsim.1]\r\ntitle=x\r\n"),
        std::string("[fltsim.0]\r\n; only a note\r\n"), std::string()}) {
    const AircraftTree tree = WindowsTree(folder.path + "/empty" + std::to_string(livery.size()),
                                          &kExampleCfg, livery.empty() ? nullptr : &livery);
    if (livery.empty()) std::filesystem::create_directory(tree.livery + "/livery.ini");
    for (const std::string& program : {tree.setup, tree.uninstall}) {
      const test_support::ProcessResult run = RunUnderWine(program);
      EXPECT_EQ(run.status, 1) << program;
      EXPECT_NE(run.errorOutput.find("(missing, unreadable, or no [fltsim.0] entries)"),
                std::string::npos)
          << run.errorOutput;
    }
    EXPECT_EQ(ReadFile(tree.cfgPath()), kExampleCfg);
  }
}

TEST(WineInstall, RefusesFilesItCannotUpdateWithoutDamage) {
  for (const test_support::Refusal& refusal : test_support::kRefusals) {
    SCOPED_TRACE(refusal.what);
    const ScratchFolder folder;
    const AircraftTree tree = WindowsTree(folder.path);
    refusal.make(tree.cfgPath());
    ExpectRefused(tree, refusal.says, wine_support::kUnderWine);
  }
  ScratchFolder folder;
  // Another user's file that may not be written (immutable, so that root may not either): its
  // security says so, and the run says so at once, without waiting as for another program's hold.
  const AircraftTree others = WindowsTree(folder.path + "/others");
  ASSERT_EQ(chown(others.cfgPath().c_str(), 2000, 2000), 0);
  if (test_support::RunProgram("/usr/bin/chattr", {"+i", others.cfgPath()}).status != 0) {
    GTEST_SKIP() << "this file system takes no immutable mark (chattr +i)";
  }
  ExpectRefused(others, "aircraft.cfg: this user may not write it", wine_support::kUnderWine);
  test_support::RunProgram("/usr/bin/chattr", {"-i", others.cfgPath()});
}

// What a +file trace of Wine shows of a run: each open that replaces a hidden or system file
// (CREATE_ALWAYS or TRUNCATE_EXISTING) without naming those attributes, which the platform
// documents as failing with access denied and Wine lets pass. Each file's attributes are followed
// from `attributes` (the files before the run, by their Windows paths as AttributesIn spells
// them) through every creation, attribute change, move and deletion that the trace shows.
std::vector<std::string> HiddenFilesReplacedBlindly(const std::string& trace,
                                                    std::map<std::string, unsigned> attributes) {
  constexpr unsigned kHiddenOrSystem = 0x6;
  constexpr int kCreateNew = 1, kCreateAlways = 2, kTruncateExisting = 5;
  // A name as the trace quotes it, its backslashes escaped, spelled one way.
  const auto name = [](const std::string& line, std::size_t& at) {
    const std::size_t start = line.find("L\"", at) + 2;
    at = line.find('"', start);
    std::string path;
    for (std::size_t i = start; i < at; ++i) {
      if (line[i] == '\\' && line[i + 1] == '\\') ++i;
      if (line[i] == '\\' && !path.empty() && path.back() == '\\') continue;
      path += static_cast<char>(std::tolower(static_cast<unsigned char>(line[i])));
    }
    return path;
  };
  std::vector<std::string> replaced;
  std::string opening;
  unsigned requested = 0;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    std::size_t at = 0;
    if (line.find(":CreateFileW L\"") != std::string::npos) {
      opening = name(line, at);
      const std::size_t creation = line.find("creation ", at);
      const int disposition = std::stoi(line.substr(creation + 9));
      requested = std::stoul(line.substr(line.find("attributes ", creation) + 11), nullptr, 16);
      if ((disposition == kCreateAlways || disposition == kTruncateExisting) &&
          (attributes[opening] & kHiddenOrSystem & ~requested) != 0) {
        replaced.push_back(line);
      }
      if (disposition != kCreateNew && disposition != kCreateAlways) opening.clear();
    } else if (line.find(":CreateFileW returning ") != std::string::npos && !opening.empty()) {
      if (line.find("returning FFFFFFFF") == std::string::npos) {
        attributes[opening] = requested & kHiddenOrSystem;
      }
      opening.clear();
    } else if (line.find(":SetFileAttributesW L\"") != std::string::npos) {
      const std::string path = name(line, at);
      attributes[path] = std::stoul(line.substr(at + 1), nullptr, 16) & kHiddenOrSystem;
    } else if (line.find(":MoveFileWithProgressW (L\"") != std::string::npos) {
      const std::string from = name(line, at);
      attributes[name(line, at)] = attributes[from];
      attributes.erase(from);
    } else if (line.find(":DeleteFileW L\"") != std::string::npos) {
      attributes.erase(name(line, at));
    }
  }
  return replaced;
}

// The attributes of the files of `folder` as Wine keeps them, by their Windows paths spelled as
// HiddenFilesReplacedBlindly spells the trace's.
std::map<std::string, unsigned> AttributesIn(const std::string& folder) {
  std::map<std::string, unsigned> attributes;
  for (const std::string& file : ListFolder(folder)) {
    std::string path = wine_support::WindowsPath(folder + "/" + file);
    for (char& c : path) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    attributes[path] = wine_support::DosAttributes(folder + "/" + file);
  }
  return attributes;
}

TEST(WineInstall, NewFileIsTheSameFileToEveryoneOrNothingChanges) {
  // Wine gives a new file this user's ownership and the usual mode, whatever the old file had:
  // where that would change who may do what with the file, the run refuses.
  ScratchFolder folder;
  const auto statusOf = [](const std::string& path) {
    struct stat status {};
    EXPECT_EQ(stat(path.c_str(), &status), 0);
    return status;
  };
  for (const auto& [mode, owner, group] : std::vector<std::tuple<mode_t, uid_t, gid_t>>{
           {0600, 0, 0}, {0660, 0, 4242}, {0644, 2000, 0}}) {
    const AircraftTree tree =
        WindowsTree(folder.path + "/" + std::to_string(mode) + "-" + std::to_string(owner));
    ASSERT_EQ(chown(tree.cfgPath().c_str(), owner, group), 0);
    ASSERT_EQ(chmod(tree.cfgPath().c_str(), mode), 0);
    const test_support::ProcessResult run = RunUnderWine(tree.setup);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.errorOutput.find("its owner or permissions on Linux would change"),
              std::string::npos)
        << run.errorOutput;
    EXPECT_EQ(ReadFile(tree.cfgPath()), kExampleCfg);
    EXPECT_EQ(ListFolder(tree.aircraft), kAircraftFolder);
    EXPECT_EQ(statusOf(tree.cfgPath()).st_mode & 07777, mode);
    EXPECT_EQ(statusOf(tree.cfgPath()).st_uid, owner);
  }
  // The common case, the user's own file with the usual mode, changes in nothing but its bytes; a
  // hidden and system file stays so. Beside a hidden copy that an earlier run left, traced, no
  // run replaces a hidden or system file without its attributes: the platform's profile writer,
  // which replaces the copy on every write, is given a plain copy.
  const AircraftTree own = WindowsTree(folder.path + "/own");
  ASSERT_EQ(chmod(own.cfgPath().c_str(), 0644), 0);
  ASSERT_EQ(setxattr(own.cfgPath().c_str(), "user.DOSATTRIB", "0x6", 3, 0), 0);
  for (const std::string& program : {own.setup, own.uninstall}) {
    WriteFile(own.cfgPath() + ".installing", "left by an earlier run");
    ASSERT_EQ(setxattr((own.cfgPath() + ".installing").c_str(), "user.DOSATTRIB", "0x2", 3, 0), 0);
    const std::map<std::string, unsigned> before = AttributesIn(own.aircraft);
    // The reading of the trace sees an open that would replace the file as it was.
    std::string escaped;
    for (const char c : before.begin()->first) escaped += c == '\\' ? "\\\\" : std::string(1, c);
    const std::string blind =
        "0024:trace:file:CreateFileW L\"" + escaped + "\" GENERIC_WRITE creation 2 attributes 0x80";
    EXPECT_EQ(HiddenFilesReplacedBlindly(blind, before), std::vector<std::string>{blind});
    const test_support::ProcessResult run = RunUnderWine(program, {}, {"WINEDEBUG=-all,+file"});
    EXPECT_EQ(run.status, 0) << program;
    EXPECT_NE(run.errorOutput.find(":CreateFileW returning"), std::string::npos);
    EXPECT_EQ(HiddenFilesReplacedBlindly(run.errorOutput, before), std::vector<std::string>{})
        << program;
    EXPECT_EQ(statusOf(own.cfgPath()).st_mode & 07777, 0644u);
    EXPECT_EQ(wine_support::DosAttributes(own.cfgPath()) & 0x6, 0x6u) << program;
    EXPECT_EQ(ListFolder(own.aircraft), kAircraftFolder);
  }
}

// What the decisions on a file's security decide for each case (security_probe's lines).
std::vector<std::string> SecurityDecisions(const std::vector<std::string>& cases) {
  const ScratchFolder folder;
  std::string text;
  for (const std::string& line : cases) text += line + "\n";
  WriteFile(folder.path + "/cases", text);
  const test_support::ProcessResult run = RunUnderWine(
      wine_support::BuiltSecurityProbe(), {wine_support::WindowsPath(folder.path + "/cases"),
                                           wine_support::WindowsPath(folder.path + "/results")});
  EXPECT_EQ(run.status, 0) << run.errorOutput;
  std::vector<std::string> decisions;
  std::istringstream lines(ReadFile(folder.path + "/results"));
  for (std::string line; std::getline(lines, line);) decisions.push_back(line);
  return decisions;
}

TEST(WineInstall, SecurityDecisionsTakeWindowsAnswers) {
  // Wine gives every file a descriptor made of its Unix owner and mode, so the decisions are handed
  // descriptors as Windows gives them. Access denied to an open for writing is this user's only
  // where the file's security denies this process (Everyone holds it) reading and writing it;
  // otherwise it is waited for as another program's hold.
  EXPECT_EQ(SecurityDecisions({"writes|O:BAG:BAD:(A;;FR;;;WD)", "writes|O:BAG:BAD:(A;;FA;;;WD)",
                               "writes|O:BAG:BAD:(D;;FW;;;WD)(A;;FA;;;WD)",
                               "writes|O:BAG:BAD:", "writes|O:BAG:BA",
                               "reads|O:BAG:BAD:(A;;FR;;;WD)", "reads|O:BAG:BAD:(A;;FW;;;WD)"}),
            (std::vector<std::string>{"denied", "allowed", "denied", "denied", "allowed", "allowed",
                                      "denied"}));

  // An elevated run's new copy belongs to the administrators and inherits its folder's entries;
  // aircraft.cfg may belong to the user who saved it, hold an explicit entry ("Users: Modify", so
  // that the simulator may save it) or a deny entry, or not inherit at all.
  const std::string inherited = "O:BAG:SYD:AI(A;ID;FA;;;BA)(A;ID;FA;;;SY)(A;ID;0x1200a9;;;BU)";
  const std::string user = "S-1-5-21-1-2-3-1001";
  const std::string own = "O:" + user + "G:SYD:AI(A;ID;FA;;;BA)(A;ID;FA;;;SY)(A;ID;0x1200a9;;;BU)";
  const std::string modify = "O:BAG:SYD:AI(A;;0x1301bf;;;BU)(A;ID;FA;;;BA)(A;ID;FA;;;SY)";
  const std::string denied = "O:BAG:SYD:AI(D;;FW;;;WD)(A;ID;FA;;;BA)(A;ID;FA;;;SY)";
  const std::string closed = "O:BAG:SYD:PAI(A;;FA;;;BA)(A;;FA;;;SY)(A;;0x1200a9;;;BU)";
  const std::string opened = "O:BAG:SYD:AI(A;;FA;;;BA)(A;;FA;;;SY)(A;;0x1200a9;;;BU)";
  const std::string otherGroup = "O:BAG:BUD:AI(A;ID;FA;;;BA)(A;ID;FA;;;SY)(A;ID;0x1200a9;;;BU)";
  EXPECT_EQ(SecurityDecisions(
                {"gives|" + inherited + "|" + inherited, "gives|" + own + "|" + inherited,
                 "gives|" + modify + "|" + inherited, "gives|" + denied + "|" + inherited,
                 "gives|" + closed + "|" + opened, "gives|" + otherGroup + "|" + inherited}),
            (std::vector<std::string>{"nothing", "owner", "access list", "access list",
                                      "access list", "nothing"}));
  // Given, the copy must carry owner, access list and protection, or the run refuses, naming what
  // and what to do; an owner that this user may not give (no privilege to restore files) is named.
  const std::vector<std::string> carried = SecurityDecisions(
      {"carries|" + modify + "|" + modify + "|0", "carries|" + own + "|" + inherited + "|1307",
       "carries|" + own + "|" + inherited + "|0", "carries|" + modify + "|" + inherited + "|5",
       "carries|" + closed + "|" + opened + "|0"});
  ASSERT_EQ(carried.size(), 5u);
  EXPECT_EQ(carried[0], "carried");
  EXPECT_EQ(carried[1], "its owner, " + user +
                            ", cannot be given to a new file by this user: run the installer as " +
                            user + ", or as an administrator");
  EXPECT_NE(carried[2].find("would not keep its owner,"), std::string::npos) << carried[2];
  EXPECT_NE(carried[3].find("would not keep its access list,"), std::string::npos) << carried[3];
  EXPECT_NE(carried[4].find("would not keep its access list's protection from inheritance,"),
            std::string::npos)
      << carried[4];
  EXPECT_NE(carried[4].find("Properties, Security"), std::string::npos) << carried[4];
}

TEST(WineInstall, CopyLeftByAKilledRunIsNeitherReadNorKept) {
  ScratchFolder folder;
  const AircraftTree tree = WindowsTree(folder.path);
  const std::string copy = tree.cfgPath() + ".installing";
  wine_support::RunUnderWineTraced(tree.setup, {"-o", "/dev/null", "-P", copy, "-e", "trace=fsync",
                                                "-e", "inject=fsync:signal=SIGKILL"});
  EXPECT_EQ(ReadFile(tree.cfgPath()), kExampleCfg);
  // The copy is plain while it is written, so that the platform's profile writer may replace it.
  EXPECT_FALSE(wine_support::HiddenUnderWine(copy));
  WriteFile(copy, "[fltsim.0]\r\ntitle=half-written\r\n");
  chmod(copy.c_str(), 0444);  // read-only, it is still the program's own
  EXPECT_EQ(RunUnderWine(tree.setup).status, 0);
  EXPECT_EQ(EntryTitles(ReadFile(tree.cfgPath())).size(), 7u);
  EXPECT_EQ(ReadFile(tree.cfgPath()).find("half-written"), std::string::npos);
  EXPECT_EQ(ListFolder(tree.aircraft), kAircraftFolder);

  // A link or a folder of the copy's name is another program's, and the run says which stands
  // there: a link, which Wine shows as the file it names, is neither written through nor deleted.
  WriteFile(folder.path + "/other.txt", "someone's file\n");
  std::filesystem::create_symlink(folder.path + "/other.txt", copy);
  const std::string before = ReadFile(tree.cfgPath());
  for (const std::string& program : {tree.setup, tree.uninstall}) {
    const test_support::ProcessResult run = RunUnderWine(program);
    EXPECT_EQ(run.status, 2) << program;
    EXPECT_NE(run.errorOutput.find("a link of that name"), std::string::npos) << run.errorOutput;
    EXPECT_EQ(ReadFile(folder.path + "/other.txt"), "someone's file\n") << program;
    EXPECT_EQ(ReadFile(tree.cfgPath()), before) << program;
  }
  std::filesystem::remove(copy);
  std::filesystem::create_directory(copy);
  const test_support::ProcessResult run = RunUnderWine(tree.setup);
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.errorOutput.find("a folder of that name"), std::string::npos) << run.errorOutput;
  EXPECT_EQ(ReadFile(tree.cfgPath()), before);
}

TEST(WineInstall, ConcurrentRunsWaitForEachOtherHoweverTheFolderIsReached) {
  // Half the runs reach the aircraft through a folder link, as a second spelling of its path; they
  // must still wait for the others, or one deletes another's working copy mid-install. All install
  // at once; then the even ones are removed while the odd ones install again.
  ScratchFolder folder;
  constexpr int kLiveries = 8;
  const AircraftTree first = WindowsTree(folder.path + "/Mods");
  std::filesystem::create_directory_symlink(folder.path + "/Mods", folder.path + "/Community");
  WriteFile(folder.path + "/original.cfg", kExampleCfg);
  std::vector<std::string> liveries;  // as each run reaches its livery folder
  for (int i = 0; i < kLiveries; ++i) {
    const std::string livery = test_support::LiveryIni("Livery " + std::to_string(i), "m", "u");
    const std::string folderName = first.aircraft + "/Livery" + std::to_string(i);
    std::filesystem::create_directory(folderName);
    WriteFile(folderName + "/livery.ini", livery);
    std::filesystem::copy_file(wine_support::BuiltWindowsSetup(), folderName + "/setup.exe");
    std::filesystem::copy_file(wine_support::BuiltWindowsUninstall(),
                               folderName + "/uninstall.exe");
    const std::string reached = i % 2 == 0 ? folder.path + "/Mods" : folder.path + "/Community";
    liveries.push_back(reached + folderName.substr(folder.path.size() + 5));
  }
  for (int round = 1; round <= 2; ++round) {
    std::vector<int> statuses(kLiveries, -1);
    std::vector<std::thread> runs;
    for (std::size_t i = 0; i < liveries.size(); ++i) {
      const bool removes = round == 2 && i % 2 == 0;
      const std::string program = liveries[i] + (removes ? "/uninstall.exe" : "/setup.exe");
      runs.emplace_back([&, i, program] { statuses[i] = RunUnderWine(program).status; });
    }
    for (std::thread& run : runs) run.join();
    for (std::size_t i = 0; i < liveries.size(); ++i) {
      EXPECT_EQ(statuses[i], 0) << "round " << round << ", livery " << i;
    }
    const std::vector<std::string> titles = EntryTitles(ReadFile(first.cfgPath()));
    ASSERT_EQ(titles.size(), 3u + 4 * kLiveries) << "round " << round;
    std::map<std::string, int> perLivery;
    for (std::size_t i = 3; i < titles.size(); ++i)
      ++perLivery[titles[i].substr(0, titles[i].rfind(' '))];
    EXPECT_EQ(perLivery.size(), static_cast<std::size_t>(round == 1 ? kLiveries : kLiveries / 2));
    for (const auto& [livery, count] : perLivery) EXPECT_EQ(count, 4 * round) << livery;
  }
  EXPECT_EQ(EntryValues(first.cfgPath(), 3), EntryValues(folder.path + "/original.cfg", 3));
}

TEST(WineInstall, RunsUnderTwoWineServersWaitForEachOther) {
  // Programs of two Wine prefixes share no mutex: they must still wait for each other on the file.
  ScratchFolder folder;
  const AircraftTree first = WindowsTree(folder.path);
  const std::string prefix = folder.path + "/prefix";
  std::filesystem::create_directory(prefix);
  ASSERT_EQ(RunUnderWine("wineboot", {"-i"}, {"WINEPREFIX=" + prefix}).status, 0);
  constexpr int kEach = 3;
  std::vector<std::string> setups;
  for (int i = 0; i < 2 * kEach; ++i) {
    setups.push_back(LiveryFolder(first, "Livery" + std::to_string(i),
                                  test_support::LiveryIni("L" + std::to_string(i), "m", "u")) +
                     "/setup.exe");
  }
  std::vector<int> statuses(setups.size(), -1);
  std::vector<std::thread> runs;
  for (std::size_t i = 0; i < setups.size(); ++i) {
    const std::vector<std::string> own =
        i % 2 == 0 ? std::vector<std::string>{} : std::vector<std::string>{"WINEPREFIX=" + prefix};
    runs.emplace_back([&, i, own] { statuses[i] = RunUnderWine(setups[i], {}, own).status; });
  }
  for (std::thread& run : runs) run.join();
  test_support::RunProgram("/usr/bin/wineserver", {"-k"},
                           {.workingDirectory = "/",
                            .userId = -1,
                            .memberOfGroup = -1,
                            .environment = {"WINEPREFIX=" + prefix}});
  EXPECT_EQ(std::count(statuses.begin(), statuses.end(), 0), 2 * kEach);
  EXPECT_EQ(EntryTitles(ReadFile(first.cfgPath())).size(), 3u + 8 * kEach);
}

TEST(WineInstall, WaitsForAProgramInTheMiddleOfSavingTheFile) {
  // Another program empties aircraft.cfg and writes it anew, pausing half-way: the install waits
  // until the save is whole, and both land.
  ScratchFolder folder;
  const AircraftTree tree = WindowsTree(folder.path);
  const std::string held = tree.cfgPath() + ".held";
  int saved = -1;
  std::thread saver([&] {
    saved = RunUnderWine(wine_support::BuiltFileHolder(),
                         {"--save", wine_support::WindowsPath(tree.cfgPath()), "1500"})
                .status;
  });
  EXPECT_TRUE(test_support::WaitUntil([&] { return test_support::Exists(held); }));
  const test_support::ProcessResult installed = RunUnderWine(tree.setup);
  saver.join();
  EXPECT_EQ(saved, 0);
  EXPECT_EQ(installed.status, 0);
  // The platform's writes lay the file out anew, so the values are compared.
  WriteFile(folder.path + "/original.cfg", kExampleCfg);
  EXPECT_EQ(EntryValues(tree.cfgPath(), 3), EntryValues(folder.path + "/original.cfg", 3));
  const std::string after = ReadFile(tree.cfgPath());
  EXPECT_NE(after.find("[saved.by.another.program]\r\nk=v\r\n"), std::string::npos);
  EXPECT_EQ(EntryTitles(after).size(), 7u);
  std::filesystem::remove(held);
  EXPECT_EQ(ListFolder(tree.aircraft), kAircraftFolder);
}

TEST(WineInstall, NoOtherProgramWritesTheFileWhileARunHoldsIt) {
  // While setup.exe works on aircraft.cfg, another Windows program cannot open it to save it; and
  // a run that waits for one that is killed then goes on.
  ScratchFolder folder;
  const AircraftTree tree = WindowsTree(folder.path);
  const std::string copy = tree.cfgPath() + ".installing";
  std::vector<int> statuses(2, -1);
  std::thread held([&] {
    statuses[0] = wine_support::RunUnderWineTraced(
                      tree.setup, {"-o", "/dev/null", "-P", copy, "-e", "trace=fsync", "-e",
                                   "inject=fsync:delay_enter=1500000:when=1"})
                      .status;
  });
  EXPECT_TRUE(test_support::WaitUntil([&] { return test_support::Exists(copy); }));
  EXPECT_EQ(RunUnderWine(wine_support::BuiltFileHolder(),
                         {"--save", wine_support::WindowsPath(tree.cfgPath()), "0"})
                .status,
            1);
  held.join();
  EXPECT_EQ(statuses[0], 0);
  EXPECT_EQ(ReadFile(tree.cfgPath()).find("saved.by.another.program"), std::string::npos);
  EXPECT_EQ(EntryTitles(ReadFile(tree.cfgPath())).size(), 7u);

  std::thread killed([&] {
    wine_support::RunUnderWineTraced(
        tree.setup,
        {"-o", "/dev/null", "-P", copy, "-e", "trace=read,fsync", "-e",
         "inject=read:delay_enter=1000000:when=1", "-e", "inject=fsync:signal=SIGKILL:when=1"});
  });
  EXPECT_TRUE(test_support::WaitUntil([&] { return test_support::Exists(copy); }));
  statuses[1] = RunUnderWine(tree.setup).status;
  killed.join();
  EXPECT_EQ(statuses[1], 0);
  EXPECT_EQ(EntryTitles(ReadFile(tree.cfgPath())).size(), 11u);
  EXPECT_EQ(ListFolder(tree.aircraft), kAircraftFolder);
}

TEST(WineInstall, BothBuildsStartedTogetherWaitForEachOther) {
  // Eight setup.exe and, half a second later while they are at work, eight native setup on one
  // aircraft: every install lands.
  constexpr int kEach = 8;
  ScratchFolder folder;
  const AircraftTree first = WindowsTree(folder.path);
  std::vector<std::string> programs;
  for (int i = 0; i < 2 * kEach; ++i) {
    const std::string livery = first.aircraft + "/Livery" + std::to_string(i);
    std::filesystem::create_directory(livery);
    WriteFile(livery + "/livery.ini", test_support::LiveryIni("L" + std::to_string(i), "m", "u"));
    const bool windows = i < kEach;
    programs.push_back(livery + (windows ? "/setup.exe" : "/setup"));
    std::filesystem::copy_file(
        windows ? wine_support::BuiltWindowsSetup() : test_support::BuiltSetupPath(),
        programs.back());
  }
  std::vector<int> statuses(programs.size(), -1);
  std::vector<std::thread> runs;
  for (std::size_t i = 0; i < programs.size(); ++i) {
    if (i == kEach) std::this_thread::sleep_for(std::chrono::milliseconds(500));
    runs.emplace_back([&, i] { statuses[i] = RunEither(programs[i]); });
  }
  for (std::thread& run : runs) run.join();
  EXPECT_EQ(std::count(statuses.begin(), statuses.end(), 0), 2 * kEach);
  const std::vector<std::string> titles = EntryTitles(ReadFile(first.cfgPath()));
  ASSERT_EQ(titles.size(), 3u + 8 * kEach);
  std::map<std::string, int> perLivery;
  for (std::size_t i = 3; i < titles.size(); ++i)
    ++perLivery[titles[i].substr(0, titles[i].rfind(' '))];
  EXPECT_EQ(perLivery.size(), static_cast<std::size_t>(2 * kEach));
  for (const auto& [livery, count] : perLivery) EXPECT_EQ(count, 4) << livery;
}

TEST(WineInstall, LinkedFileGetsTheEntriesAndTheLinkStays) {
  ScratchFolder folder;
  const AircraftTree tree = WindowsTree(folder.path, nullptr);
  WriteFile(folder.path + "/master.cfg", kExampleCfg);
  std::filesystem::create_symlink(folder.path + "/master.cfg", tree.cfgPath());
  EXPECT_EQ(RunUnderWine(tree.setup).status, 0);
  EXPECT_TRUE(std::filesystem::is_symlink(tree.cfgPath()));
  EXPECT_EQ(EntryTitles(ReadFile(folder.path + "/master.cfg")).size(), 7u);
  EXPECT_EQ(ListFolder(tree.aircraft), kAircraftFolder);
}

// A folder below `root` whose Windows path is exactly `length` characters long.
std::string FolderWithWindowsPathLength(const std::string& root, std::size_t length) {
  std::string path = root;
  while (wine_support::WindowsPath(path).size() + 101 < length) path += "/" + std::string(100, 'p');
  path += "/" + std::string(length - wine_support::WindowsPath(path).size() - 1, 'q');
  std::filesystem::create_directories(path);
  return path;
}

TEST(WineInstall, PathsThatDoNotFitThePlatformBuffersWriteNothing) {
  ScratchFolder folder;
  // The executable's own path does not fit 260 bytes, so the platform would hand back a cut one.
  // Then: its path fits, but aircraft.cfg's, 16 characters longer than the folder, would not.
  for (const std::size_t folderLength : {std::size_t{252}, std::size_t{245}}) {
    const std::string aircraft =
        FolderWithWindowsPathLength(folder.path + "/" + std::to_string(folderLength), folderLength);
    const std::string livery = aircraft + "/L";
    std::filesystem::create_directory(livery);
    WriteFile(livery + "/livery.ini", kExampleLivery);
    std::filesystem::copy_file(wine_support::BuiltWindowsSetup(), livery + "/setup.exe");
    EXPECT_EQ(RunUnderWine(livery + "/setup.exe").status, 2) << folderLength;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder.path)) {
      EXPECT_EQ(entry.path().filename().string().find("aircraft"), std::string::npos)
          << entry.path();
    }
  }
}

TEST(WineInstall, FolderWhose8BitPathNamesAnotherIsLeftAlone) {
  // The platform's 8-bit path of "Łoś Air" is "Los Air", its best fit, here the folder of another
  // livery; that of a Cyrillic name is all "?". Neither program may act on what it names.
  ScratchFolder folder;
  const AircraftTree tree = WindowsTree(folder.path);
  const std::vector<std::string> utf8{"LC_ALL=C.UTF-8"};
  const std::string twin =
      LiveryFolder(tree, "Los Air", test_support::LiveryIni("Los Air", "m", "u"));
  ASSERT_EQ(RunUnderWine(twin + "/setup.exe", {}, utf8).status, 0);
  const std::string before = ReadFile(tree.cfgPath());
  for (const std::string& name :
       {std::string("\xC5\x81o\xC5\x9B Air"), std::string("\xD0\x90\xD1\x8D\xD1\x80\xD0\xBE")}) {
    const std::string livery =
        LiveryFolder(tree, name, test_support::LiveryIni("Los Air", "m", "u"));
    for (const char* program : {"/uninstall.exe", "/setup.exe"}) {
      const test_support::ProcessResult run = RunUnderWine(livery + program, {}, utf8);
      EXPECT_EQ(run.status, 2) << name << program;
      EXPECT_NE(run.errorOutput.find("characters that the system's code page cannot represent"),
                std::string::npos)
          << run.errorOutput;
      EXPECT_EQ(ReadFile(tree.cfgPath()), before) << name << program;
    }
  }
  EXPECT_EQ(ListFolder(tree.aircraft).size(), 5u);  // the folders and aircraft.cfg, nothing else

  // The same for the final path of a linked aircraft.cfg: "Łoś.cfg" would be read as "Los.cfg".
  const std::string linked = folder.path + "/\xC5\x81o\xC5\x9B.cfg";
  WriteFile(linked, kExampleCfg);
  WriteFile(folder.path + "/Los.cfg", kExampleCfg);
  std::filesystem::remove(tree.cfgPath());
  std::filesystem::create_symlink(linked, tree.cfgPath());
  const test_support::ProcessResult run = RunUnderWine(tree.setup, {}, utf8);
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.errorOutput.find("characters that the system's code page cannot represent"),
            std::string::npos)
      << run.errorOutput;
  EXPECT_EQ(ReadFile(linked), kExampleCfg);
  EXPECT_EQ(ReadFile(folder.path + "/Los.cfg"), kExampleCfg);
}

TEST(WineInstall, FileTooLargeToHoldIsRefusedBeforeAnythingIsWritten) {
  // A sparse file beyond what either build takes (128 MiB for a 32-bit program, 1 GiB for a 64-bit
  // one): status 2, said why, nothing written.
  ScratchFolder folder;
  const AircraftTree tree = WindowsTree(folder.path);
  const off_t tooLarge = off_t{3} << 29;
  ASSERT_EQ(truncate(tree.cfgPath().c_str(), tooLarge), 0);
  for (const std::string& program : {tree.setup, tree.uninstall}) {
    const test_support::ProcessResult run = RunUnderWine(program);
    EXPECT_EQ(run.status, 2) << program;
    EXPECT_NE(run.errorOutput.find("is too large"), std::string::npos) << run.errorOutput;
    EXPECT_EQ(std::filesystem::file_size(tree.cfgPath()), static_cast<std::uintmax_t>(tooLarge));
    EXPECT_EQ(ListFolder(tree.aircraft), kAircraftFolder);
  }
  EXPECT_EQ(ReadFile(tree.cfgPath()).substr(0, kExampleCfg.size()), kExampleCfg);
  // A livery.ini beyond what either build takes is refused for its size before the platform's
  // profile functions read any of it.
  WriteFile(tree.cfgPath(), kExampleCfg);
  ASSERT_EQ(truncate((tree.livery + "/livery.ini").c_str(), tooLarge), 0);
  for (const std::string& program : {tree.setup, tree.uninstall}) {
    const test_support::ProcessResult run = RunUnderWine(program);
    EXPECT_EQ(run.status, 2) << program;
    EXPECT_NE(run.errorOutput.find("livery.ini: is too large"), std::string::npos)
        << run.errorOutput;
    EXPECT_EQ(ReadFile(tree.cfgPath()), kExampleCfg);
  }
}

TEST(WineInstall, EitherBuildRemovesWhatEitherInstalledOfATitleTheCodePageLacks) {
  // "Łoś Аэрофлот" in a UTF-8 livery.ini: each build writes the platform's best fit for what
  // code page 1252 lacks, so each build's uninstall finds the other's entries.
  const std::string livery =
      "\xEF\xBB\xBF" + test_support::LiveryIni(
                           "\xC5\x81o\xC5\x9B \xD0\x90\xD1\x8D\xD1\x80\xD0\xBE"
                           "\xD1\x84\xD0\xBB\xD0\xBE\xD1\x82",
                           "m", "u");
  ScratchFolder folder;
  const AircraftTree tree = MakeAircraftTree(folder.path, &kExampleCfg, &livery);
  std::filesystem::copy_file(wine_support::BuiltWindowsSetup(), tree.livery + "/setup.exe");
  std::filesystem::copy_file(wine_support::BuiltWindowsUninstall(), tree.livery + "/uninstall.exe");
  for (const auto& [setup, uninstall] : {std::pair{tree.setup, tree.livery + "/uninstall.exe"},
                                         std::pair{tree.livery + "/setup.exe", tree.uninstall}}) {
    WriteFile(tree.cfgPath(), kExampleCfg);
    ASSERT_EQ(RunEither(setup), 0) << setup;
    const std::vector<std::string> titles = EntryTitles(ReadFile(tree.cfgPath()));
    ASSERT_EQ(titles.size(), 7u);
    EXPECT_EQ(titles[3], "Los ???????? full") << setup;
    EXPECT_EQ(RunEither(uninstall), 0) << uninstall;
    EXPECT_EQ(EntryTitles(ReadFile(tree.cfgPath())).size(), 3u) << uninstall;
  }
}

TEST(WineInstall, DoubleByteNameWhoseTrailByteIsABackslash) {
  // In code page 932 the character U+8868 is 0x95 0x5C; 0x5C is also the path separator.
  const test_support::ProcessResult locales = test_support::RunProgram("/usr/bin/locale", {"-a"});
  ASSERT_NE(locales.output.find("ja_JP.utf8"), std::string::npos)
      << "the ja_JP.UTF-8 locale is needed";
  ScratchFolder folder;
  const std::string aircraft = folder.path + "/Aircraft";
  const std::string livery =
      aircraft + "/\xE8\xA1\xA8";  // the folder and the program share the name
  std::filesystem::create_directories(livery);
  WriteFile(livery + "/livery.ini", kExampleLivery);
  const std::string setup = livery + "/\xE8\xA1\xA8.exe";
  std::filesystem::copy_file(wine_support::BuiltWindowsSetup(), setup);
  WriteFile(aircraft + "/aircraft.cfg", "[fltsim.0]\r\ntitle=Heron\r\n");
  EXPECT_EQ(RunUnderWine(setup, {}, {"LC_ALL=ja_JP.UTF-8"}).status, 0);
  EXPECT_EQ(EntryTitles(ReadFile(aircraft + "/aircraft.cfg")).size(), 5u);

  // 8-bit text that this code page reads as double-byte characters: the platform's rewrite of the
  // file would change it, so the run refuses rather than put that in place.
  const std::string eightBit = "[fltsim.0]\r\ntitle=Soci\xE9t\xE9 A\xE9rienne\r\n";
  WriteFile(aircraft + "/aircraft.cfg", eightBit);
  EXPECT_EQ(RunUnderWine(setup, {}, {"LC_ALL=ja_JP.UTF-8"}).status, 2);
  EXPECT_EQ(ReadFile(aircraft + "/aircraft.cfg"), eightBit);
}

}  // namespace
