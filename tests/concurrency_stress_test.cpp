// Many installers and uninstallers started at once on one aircraft, round after round: each round
// some liveries are installed and others removed, every run succeeds, the entries that stay keep
// their order at the front, each livery ends with the entries it should have, and nothing is left
// beside aircraft.cfg. The same for installers on two aircraft whose aircraft.cfg link to one file.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/test_support.h"

namespace {

using test_support::EntryTitles;
using test_support::ReadFile;

// The livery that an entry's title belongs to: the title without its variant suffix.
std::string LiveryOf(const std::string& title) {
  return title.substr(0, title.rfind(' '));
}

TEST(ConcurrencyStress, ThirtyTwoInstallersAndUninstallersAtOnceForSeveralRounds) {
  constexpr int kLiveries = 32;
  test_support::ScratchFolder folder;
  const std::string cfg = "; years of entries\r\n[fltsim.0]\r\ntitle=Factory\r\n";
  const test_support::AircraftTree first = test_support::MakeAircraftTree(
      folder.path, &cfg, nullptr, LIVERY_PLAIN_SETUP_PATH, LIVERY_PLAIN_UNINSTALL_PATH);
  std::vector<std::string> liveries;
  for (int i = 0; i < kLiveries; ++i) {
    const std::string livery = first.aircraft + "/Livery" + std::to_string(i);
    std::filesystem::create_directory(livery);
    test_support::WriteFile(livery + "/livery.ini",
                            test_support::LiveryIni("L" + std::to_string(i), "m", "u"));
    std::filesystem::copy_file(LIVERY_PLAIN_SETUP_PATH, livery + "/setup");
    std::filesystem::copy_file(LIVERY_PLAIN_UNINSTALL_PATH, livery + "/uninstall");
    liveries.push_back(livery);
  }
  std::filesystem::remove_all(first.livery);

  // Round 1 installs every livery; round 2 removes the even ones and installs the odd ones again;
  // round 3 installs the even ones and removes the odd ones' eight entries.
  const auto removes = [](int round, int livery) {
    return round == 2 ? livery % 2 == 0 : round == 3 && livery % 2 == 1;
  };
  std::map<std::string, int> entries;  // per livery, as it should stand
  std::vector<std::string> before = EntryTitles(cfg);
  for (int round = 1; round <= 3; ++round) {
    std::vector<int> statuses(kLiveries, -1);
    std::vector<std::thread> runs;
    for (int i = 0; i < kLiveries; ++i) {
      const std::string program = liveries[i] + (removes(round, i) ? "/uninstall" : "/setup");
      runs.emplace_back(
          [&, i, program] { statuses[i] = test_support::RunProgram(program, {}).status; });
      entries["L" + std::to_string(i)] =
          removes(round, i) ? 0 : entries["L" + std::to_string(i)] + 4;
    }
    for (std::thread& run : runs) run.join();
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), 0), kLiveries) << "round " << round;

    const std::vector<std::string> after = EntryTitles(ReadFile(first.cfgPath()));
    std::vector<std::string> kept;
    for (const std::string& title : before) {
      const std::string livery = LiveryOf(title);
      if (livery == "Factory" || !removes(round, std::stoi(livery.substr(1))))
        kept.push_back(title);
    }
    ASSERT_GE(after.size(), kept.size()) << "round " << round;
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), after.begin()))
        << "round " << round << " moved or lost entries that stay";
    std::map<std::string, int> perLivery;
    for (const std::string& title : after) ++perLivery[LiveryOf(title)];
    EXPECT_EQ(perLivery["Factory"], 1);
    for (const auto& [livery, count] : entries) EXPECT_EQ(perLivery[livery], count) << livery;
    for (const auto& entry : std::filesystem::directory_iterator(first.aircraft)) {
      const std::string name = entry.path().filename().string();
      EXPECT_TRUE(name == "aircraft.cfg" || name.rfind("Livery", 0) == 0)
          << "left behind: " << name;
    }
    before = after;
  }
  std::printf("3 rounds of %d concurrent installs and removals: %zu entries\n", kLiveries,
              before.size());
}

TEST(ConcurrencyStress, AircraftSharingOneFileThroughLinksNeverLoseAnInstall) {
  // A/aircraft.cfg and B/aircraft.cfg link to one file: runs from either aircraft replace the same
  // file, so they must wait for each other however the file was reached.
  constexpr int kPerAircraft = 12;
  test_support::ScratchFolder folder;
  const std::string shared = folder.path + "/store/master.cfg";
  std::filesystem::create_directories(folder.path + "/store");
  test_support::WriteFile(shared, "[fltsim.0]\r\ntitle=Factory\r\n");
  std::vector<std::string> setups;
  for (const std::string& aircraft : {folder.path + "/A", folder.path + "/B"}) {
    std::filesystem::create_directories(aircraft);
    std::filesystem::create_symlink("../store/master.cfg", aircraft + "/aircraft.cfg");
    for (int i = 0; i < kPerAircraft; ++i) {
      const std::string livery = aircraft + "/L" + std::to_string(setups.size());
      std::filesystem::create_directory(livery);
      test_support::WriteFile(livery + "/livery.ini", test_support::LiveryIni(livery, "m", "u"));
      std::filesystem::copy_file(LIVERY_PLAIN_SETUP_PATH, livery + "/setup");
      setups.push_back(livery + "/setup");
    }
  }
  std::vector<int> statuses(setups.size(), -1);
  std::vector<std::thread> runs;
  for (std::size_t i = 0; i < setups.size(); ++i) {
    runs.emplace_back([&, i] { statuses[i] = test_support::RunProgram(setups[i], {}).status; });
  }
  for (std::thread& run : runs) run.join();
  EXPECT_EQ(std::count(statuses.begin(), statuses.end(), 0), 2 * kPerAircraft);
  std::map<std::string, int> perLivery;
  for (const std::string& title : EntryTitles(ReadFile(shared))) ++perLivery[LiveryOf(title)];
  EXPECT_EQ(perLivery.size(), 1u + 2 * kPerAircraft);
  for (const std::string& setup : setups) {
    EXPECT_EQ(perLivery[setup.substr(0, setup.rfind('/'))], 4) << setup;
  }
  EXPECT_TRUE(std::filesystem::is_symlink(folder.path + "/A/aircraft.cfg"));
  EXPECT_EQ(test_support::ListFolder(folder.path + "/store"),
            std::vector<std::string>{"master.cfg"});
}

// Another program: it adds a section to the file at `path` every 2-4 ms, each save a complete
// append, until `stop` is set or `burst` has passed since it began; `saves` counts them.
void SaveAllAlong(const std::string& path, const std::atomic<bool>& stop, int& saves,
                  std::chrono::milliseconds burst = std::chrono::hours(1)) {
  const auto end = std::chrono::steady_clock::now() + burst;
  std::minstd_rand pause(static_cast<unsigned>(saves) + 7);
  for (; !stop && std::chrono::steady_clock::now() < end; ++saves) {
    const std::string section = "[writer." + std::to_string(saves) + "]\r\nk=v\r\n";
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, section.data(), section.size()), static_cast<ssize_t>(section.size()));
    close(fd);
    std::this_thread::sleep_for(std::chrono::microseconds(2000 + pause() % 2000));
  }
}

TEST(ConcurrencyStress, WriterSavingAllAlongLosesNothingToTheRuns) {
  // Installers run one after another while another program saves the file. While it saves in
  // bursts (600 ms from each run's start, less than the 775 ms a run pauses over its attempts),
  // every run lands. While it saves all along, a run that cannot get in says so; how many get in
  // then is the machine's speed, and is printed. Either way each run that reports success has its
  // entries in the file, and every save of the other program is there too.
  constexpr int kRuns = 20;
  test_support::ScratchFolder folder;
  const std::string cfg = "[fltsim.0]\r\ntitle=Factory\r\n";
  const test_support::AircraftTree tree = test_support::MakeAircraftTree(
      folder.path, &cfg, nullptr, LIVERY_PLAIN_SETUP_PATH, LIVERY_PLAIN_UNINSTALL_PATH);
  const std::string path = tree.cfgPath();
  std::atomic<bool> stop = false;
  int saves = 0;
  std::map<int, int> statuses;
  const auto install = [&](int run) {
    test_support::WriteFile(tree.livery + "/livery.ini",
                            test_support::LiveryIni("L" + std::to_string(run), "m", "u"));
    const test_support::ProcessResult result = test_support::RunProgram(tree.setup, {});
    ++statuses[result.status];
    if (result.status != 0) {
      EXPECT_EQ(result.status, 2);
      EXPECT_NE(result.errorOutput.find("another program keeps changing it"), std::string::npos)
          << result.errorOutput;
    }
  };
  for (int run = 0; run < kRuns; ++run) {
    std::thread burst([&] { SaveAllAlong(path, stop, saves, std::chrono::milliseconds(600)); });
    install(run);
    burst.join();
  }
  EXPECT_EQ(statuses[0], kRuns) << "of " << kRuns << " installs beside bursts of saves";
  EXPECT_GE(saves, kRuns) << "the other program saved fewer times than it had bursts";
  std::thread writer([&] { SaveAllAlong(path, stop, saves); });
  for (int run = kRuns; run < 2 * kRuns; ++run) install(run);
  stop = true;
  writer.join();
  const std::string after = ReadFile(path);
  for (int save = 0; save < saves; ++save) {
    EXPECT_NE(after.find("[writer." + std::to_string(save) + "]\r\n"), std::string::npos)
        << "save " << save << " of " << saves << " lost";
  }
  std::map<std::string, int> perLivery;
  for (const std::string& title : EntryTitles(after)) ++perLivery[LiveryOf(title)];
  EXPECT_EQ(perLivery.size() - 1, static_cast<std::size_t>(statuses[0]));
  for (const auto& [livery, count] : perLivery) EXPECT_EQ(count, livery == "Factory" ? 1 : 4);
  EXPECT_EQ(test_support::ListFolder(tree.aircraft), test_support::kAircraftFolder);
  std::printf("%d installs beside a program saving all along (%d saves in all): %d succeeded\n",
              kRuns, saves, statuses[0] - kRuns);
}

}  // namespace
