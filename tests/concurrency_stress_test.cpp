// Many installers started at once on one aircraft, round after round: every livery lands four
// times per round at distinct indices, earlier entries stay as they were, every run succeeds and
// nothing is left beside aircraft.cfg.
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

TEST(ConcurrencyStress, ThirtyTwoInstallersAtOnceForSeveralRounds) {
  constexpr int kLiveries = 32;
  constexpr int kRounds = 3;
  test_support::ScratchFolder folder;
  const std::string cfg = "; years of entries\r\n[fltsim.0]\r\ntitle=Factory\r\n";
  const test_support::AircraftTree first =
      test_support::MakeAircraftTree(folder.path, &cfg, nullptr, LIVERY_PLAIN_SETUP_PATH);
  std::vector<std::string> setups;
  for (int i = 0; i < kLiveries; ++i) {
    const std::string livery = first.aircraft + "/Livery" + std::to_string(i);
    std::filesystem::create_directory(livery);
    test_support::WriteFile(livery + "/livery.ini",
                            test_support::LiveryIni("L" + std::to_string(i), "m", "u"));
    std::filesystem::copy_file(LIVERY_PLAIN_SETUP_PATH, livery + "/setup");
    setups.push_back(livery + "/setup");
  }
  std::filesystem::remove_all(first.livery);

  std::string before = cfg;
  for (int round = 1; round <= kRounds; ++round) {
    std::vector<int> statuses(kLiveries, -1);
    std::vector<std::thread> runs;
    for (std::size_t i = 0; i < setups.size(); ++i) {
      runs.emplace_back([&, i] { statuses[i] = test_support::RunProgram(setups[i], {}).status; });
    }
    for (std::thread& run : runs) run.join();
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), 0), kLiveries) << "round " << round;

    const std::string after = ReadFile(first.aircraft + "/aircraft.cfg");
    EXPECT_TRUE(after.compare(0, before.size(), before) == 0)
        << "round " << round << " changed earlier entries";
    const std::vector<std::string> titles = EntryTitles(after);
    ASSERT_EQ(titles.size(), 1u + 4u * kLiveries * round) << "round " << round;
    std::map<std::string, int> perLivery;
    for (std::size_t i = 1; i < titles.size(); ++i)
      ++perLivery[titles[i].substr(0, titles[i].rfind(' '))];
    ASSERT_EQ(perLivery.size(), static_cast<std::size_t>(kLiveries));
    for (const auto& [livery, count] : perLivery) EXPECT_EQ(count, 4 * round) << livery;
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
