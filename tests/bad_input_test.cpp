// The built installer on input nobody should ship but somebody will: binary garbage and NUL bytes,
// huge files, huge lines, a very large number of sections. Each has an expected outcome, and
// nothing that was in aircraft.cfg is lost.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>

#include <random>
#include <string>
#include <tuple>

#include "engine/profile_document.h"
#include "tests/test_support.h"

namespace {

using test_support::AircraftTree;
using test_support::EntryTitles;
using test_support::ReadFile;

const std::string kCfg = "[fltsim.0]\r\ntitle=Factory\r\nmodel=\r\n";

std::string Garbage(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random() & 0xFF);
  return bytes;
}

struct InstallRun {
  test_support::ScratchFolder folder;
  AircraftTree tree;
  test_support::ProcessResult result;
  InstallRun(const std::string* cfg, const std::string& livery)
      : tree(test_support::MakeAircraftTree(folder.path, cfg, &livery)),
        result(test_support::RunProgram(tree.setup, {})) {}
  std::string Cfg() const { return ReadFile(tree.cfgPath()); }
};

// The value of `key` in `section` of the text, as the platform's read would give it.
std::string ValueIn(const std::string& text, const std::string& section, const std::string& key) {
  return engine::FindValue(engine::ParseDocument(text), section, key).value_or("<default>");
}

TEST(BadInput, GarbageLiveryIsNothingToInstall) {
  InstallRun run(&kCfg, Garbage(1 << 16, 1));
  EXPECT_EQ(run.result.status, 1);
  EXPECT_EQ(run.Cfg(), kCfg);
}

TEST(BadInput, GarbageAircraftFileKeepsEveryByteAndTakesTheEntries) {
  std::string garbage = Garbage(1 << 16, 2);
  if (static_cast<unsigned char>(garbage[0]) == 0xFF ||
      static_cast<unsigned char>(garbage[0]) == 0xFE) {
    garbage[0] = 'g';  // not a UTF-16 byte order mark, which is refused
  }
  InstallRun run(&garbage, test_support::LiveryIni("T", "m", "u"));
  EXPECT_EQ(run.result.status, 0);
  const std::string after = run.Cfg();
  EXPECT_TRUE(after.compare(0, garbage.size(), garbage) == 0) << "the garbage was changed";
  EXPECT_EQ(ValueIn(after, "fltsim.3", "title"), "T 2D");
}

TEST(BadInput, NulBytesEndAValueAsThePlatformReadEndsIt) {
  const std::string livery("[fltsim.0]\r\ntitle=ab\0cd\r\nmodel=m\0\r\n", 34);
  const std::string cfg = std::string("[General]\r\nnote=x\0y\r\n", 20) + kCfg;
  InstallRun run(&cfg, livery);
  EXPECT_EQ(run.result.status, 0);
  const std::string after = run.Cfg();
  EXPECT_EQ(after.substr(0, cfg.size()), cfg);
  EXPECT_EQ(ValueIn(after, "fltsim.1", "title"), "ab full");
  EXPECT_EQ(ValueIn(after, "fltsim.2", "model"), "mwing");
}

TEST(BadInput, HundredMegabyteLiveryInstallsItsFirstSection) {
  std::string livery = test_support::LiveryIni("Big", "m", "u") + "[padding]\r\n";
  const std::string line = "filler=" + std::string(90, 'f') + "\r\n";
  while (livery.size() < 100u << 20) livery += line;
  InstallRun run(&kCfg, livery);
  EXPECT_EQ(run.result.status, 0);
  EXPECT_EQ(EntryTitles(run.Cfg()),
            (std::vector<std::string>{"Factory", "Big full", "Big wing", "Big VC", "Big 2D"}));
}

TEST(BadInput, TenMegabyteLinesAreKeptAndCutWhenRead) {
  const std::string huge(10 << 20, 'x');
  const std::string cfg = kCfg + "description=" + huge + "\r\n";
  const std::string livery = "[fltsim.0]\r\ntitle=T\r\ndescription=" + huge;  // no final break
  InstallRun run(&cfg, livery);
  EXPECT_EQ(run.result.status, 0);
  const std::string after = run.Cfg();
  EXPECT_TRUE(after.compare(0, cfg.size(), cfg) == 0) << "the long line was changed";
  EXPECT_EQ(ValueIn(after, "fltsim.1", "description"), std::string(1023, 'x'));
}

TEST(BadInput, HundredThousandSectionsAreNumberedPast) {
  std::string cfg;
  for (int i = 0; i < 100000; ++i) cfg += "[fltsim." + std::to_string(i) + "]\r\ntitle=E\r\n";
  InstallRun run(&cfg, test_support::LiveryIni("New", "m", "u"));
  EXPECT_EQ(run.result.status, 0);
  const std::string after = run.Cfg();
  EXPECT_TRUE(after.compare(0, cfg.size(), cfg) == 0);
  EXPECT_EQ(ValueIn(after, "fltsim.100000", "title"), "New full");
  EXPECT_EQ(ValueIn(after, "fltsim.100003", "title"), "New 2D");
}

TEST(BadInput, FileTooLargeToHoldIsRefusedAndSoIsOneThatMemoryRunsOutFor) {
  // A sparse file beyond what the program takes, and one of exactly the most it takes but beyond
  // the memory the program is given: each is refused with status 2 and its cause, and left as it
  // was. The same for a livery.ini, which is not taken for one without entries.
  test_support::ScratchFolder folder;
  const AircraftTree tree = test_support::MakeAircraftTree(
      folder.path, &kCfg, nullptr, LIVERY_PLAIN_SETUP_PATH, LIVERY_PLAIN_UNINSTALL_PATH);
  test_support::WriteFile(tree.livery + "/livery.ini", test_support::LiveryIni("L", "m", "u"));
  const std::string cfg = tree.cfgPath();
  for (const auto& [size, memory, cause] :
       {std::tuple{std::size_t{3} << 29, std::string("2147483648"), std::string("is too large")},
        std::tuple{std::size_t{1} << 30, std::string("314572800"),
                   std::string("not enough memory")}}) {
    ASSERT_EQ(truncate(cfg.c_str(), static_cast<off_t>(size)), 0);
    for (const std::string& program : {tree.setup, tree.uninstall}) {
      const test_support::ProcessResult result =
          test_support::RunProgram("/usr/bin/prlimit", {"--as=" + memory, program});
      EXPECT_EQ(result.status, 2) << program << " " << size << ": " << result.errorOutput;
      EXPECT_NE(result.errorOutput.find(cause), std::string::npos) << result.errorOutput;
      EXPECT_EQ(test_support::ListFolder(tree.aircraft), test_support::kAircraftFolder);
    }
    struct stat status {};
    ASSERT_EQ(stat(cfg.c_str(), &status), 0);
    EXPECT_EQ(static_cast<std::size_t>(status.st_size), size);
  }
  std::ifstream file(cfg, std::ios::binary);
  std::string start(kCfg.size(), '\0');
  file.read(start.data(), static_cast<std::streamsize>(start.size()));
  EXPECT_EQ(start, kCfg);
  test_support::WriteFile(cfg, kCfg);
  for (const auto& [size, cause] : {std::pair{off_t{3} << 29, "livery.ini: is too large"},
                                    std::pair{off_t{1} << 30, "not enough memory"}}) {
    ASSERT_EQ(truncate((tree.livery + "/livery.ini").c_str(), size), 0);
    for (const std::string& program : {tree.setup, tree.uninstall}) {
      const test_support::ProcessResult result =
          test_support::RunProgram("/usr/bin/prlimit", {"--as=314572800", program});
      EXPECT_EQ(result.status, 2) << program << ": " << result.errorOutput;
      EXPECT_NE(result.errorOutput.find(cause), std::string::npos) << result.errorOutput;
      EXPECT_EQ(test_support::ReadFile(cfg), kCfg);
    }
  }
}

}  // namespace
