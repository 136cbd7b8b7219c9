// Many installers started at once, round after round on one aircraft, and on two aircraft whose
// aircraft.cfg links to one shared file: every livery lands four times per round at distinct
// indices, earlier entries stay as they were, every run succeeds and nothing is left beside the
// file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/test_support.h"

namespace {

using test_support::EntryTitles;
using test_support::ReadFile;

// Makes `count` livery folders below `aircraft`, each with its own livery and the installer, and
// returns the installers' paths. `firstLivery` numbers the liveries' titles.
std::vector<std::string> LiveryFolders(const std::string& aircraft, int count, int firstLivery) {
  std::vector<std::string> setups;
  for (int i = firstLivery; i < firstLivery + count; ++i) {
    const std::string livery = aircraft + "/Livery" + std::to_string(i);
    std::filesystem::create_directories(livery);
    test_support::WriteFile(livery + "/livery.ini",
                            test_support::LiveryIni("L" + std::to_string(i), "m", "u"));
    std::filesystem::copy_file(LIVERY_PLAIN_SETUP_PATH, livery + "/setup");
    setups.push_back(livery + "/setup");
  }
  return setups;
}

// Starts every installer at once and returns how many exited 0.
long RunAllAtOnce(const std::vector<std::string>& setups) {
  std::vector<int> statuses(setups.size(), -1);
  std::vector<std::thread> runs;
  for (std::size_t i = 0; i < setups.size(); ++i) {
    runs.emplace_back([&, i] { statuses[i] = test_support::RunProgram(setups[i], {}).status; });
  }
  for (std::thread& run : runs) run.join();
  return std::count(statuses.begin(), statuses.end(), 0);
}

// Every livery has `times` times four entries after the first `kept` entries.
void ExpectEachLiveryInstalled(const std::string& cfgText, std::size_t kept, int liveries,
                               int times) {
  const std::vector<std::string> titles = EntryTitles(cfgText);
  ASSERT_EQ(titles.size(), kept + 4u * static_cast<std::size_t>(liveries * times));
  std::map<std::string, int> perLivery;
  for (std::size_t i = kept; i < titles.size(); ++i)
    ++perLivery[titles[i].substr(0, titles[i].rfind(' '))];
  ASSERT_EQ(perLivery.size(), static_cast<std::size_t>(liveries));
  for (const auto& [livery, count] : perLivery) EXPECT_EQ(count, 4 * times) << livery;
}

TEST(ConcurrencyStress, AircraftSharingOneFileThroughLinksNeverLoseAnInstall) {
  constexpr int kPerAircraft = 12;
  test_support::ScratchFolder folder;
  const std::string shared = folder.path + "/store/master.cfg";
  std::filesystem::create_directories(folder.path + "/store");
  test_support::WriteFile(shared, "[fltsim.0]\r\ntitle=Factory\r\n");
  std::vector<std::string> setups;
  for (const char* aircraft : {"/A", "/B"}) {
    std::filesystem::create_directories(folder.path + aircraft);
    std::filesystem::create_symlink("../store/master.cfg",
                                    folder.path + aircraft + "/aircraft.cfg");
    const std::vector<std::string> more =
        LiveryFolders(folder.path + aircraft, kPerAircraft, static_cast<int>(setups.size()));
    setups.insert(setups.end(), more.begin(), more.end());
  }
  EXPECT_EQ(RunAllAtOnce(setups), 2 * kPerAircraft);
  ExpectEachLiveryInstalled(ReadFile(shared), 1, 2 * kPerAircraft, 1);
  EXPECT_TRUE(std::filesystem::is_symlink(folder.path + "/A/aircraft.cfg"));
  EXPECT_EQ(test_support::ListFolder(folder.path + "/store"),
            std::vector<std::string>{"master.cfg"});
}

TEST(ConcurrencyStress, ThirtyTwoInstallersAtOnceForSeveralRounds) {
  constexpr int kLiveries = 32;
  constexpr int kRounds = 3;
  test_support::ScratchFolder folder;
  const std::string cfg = "; years of entries\r\n[fltsim.0]\r\ntitle=Factory\r\n";
  const test_support::AircraftTree first =
      test_support::MakeAircraftTree(folder.path, &cfg, nullptr, LIVERY_PLAIN_SETUP_PATH);
  const std::vector<std::string> setups = LiveryFolders(first.aircraft, kLiveries, 0);
  std::filesystem::remove_all(first.livery);

  std::string before = cfg;
  for (int round = 1; round <= kRounds; ++round) {
    EXPECT_EQ(RunAllAtOnce(setups), kLiveries) << "round " << round;
    const std::string after = ReadFile(first.aircraft + "/aircraft.cfg");
    EXPECT_TRUE(after.compare(0, before.size(), before) == 0)
        << "round " << round << " changed earlier entries";
    ExpectEachLiveryInstalled(after, 1, kLiveries, round);
    EXPECT_EQ(std::filesystem::directory_entry(first.aircraft + "/aircraft.cfg").is_regular_file(),
              true);
    for (const auto& entry : std::filesystem::directory_iterator(first.aircraft)) {
      const std::string name = entry.path().filename().string();
      EXPECT_TRUE(name == "aircraft.cfg" || name.rfind("Livery", 0) == 0)
          << "left behind: " << name;
    }
    before = after;
  }
  std::printf("%d rounds of %d concurrent installs: %zu entries\n", kRounds, kLiveries,
              EntryTitles(before).size());
}

}  // namespace
