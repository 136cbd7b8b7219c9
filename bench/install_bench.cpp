// Times a full install into aircraft.cfg files of growing size with the built installer, beside
// the two floors that a safe update must pay, timed as shell commands:
//  - durable copy: read the file and write a flushed copy ("cat f > copy; sync copy");
//  - atomic replacement: the same, then rename the copy over a file and flush their folder
//    ("...; mv copy other; sync folder"), which is what the install itself does to be
//    all-or-nothing.
// Prints one table row per size; the median of several runs counts. Then times installs from a
// livery.ini of 40,000 section names crafted to share one hash under the unkeyed hash that the
// engine's index once used, beside one of 40,000 random names: lookups must not depend on what
// names a file holds.
//
// Usage: install_bench [--data FILE] [ENTRIES...]   (default: 100 1000 10000 100000)
//   --data FILE also writes the figures as tab-separated columns, for plotting.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "installer/livery_entries.h"

namespace {

constexpr int kRuns = 7;

// A configuration file with `entries` titled entries of 19 keys each, in CRLF text.
std::string ConfigurationText(int entries) {
  std::string text = "[General]\r\natc_type=BENCH\r\n\r\n";
  for (int i = 0; i < entries; ++i) {
    text += "[fltsim." + std::to_string(i) + "]\r\n";
    for (const char* key : installer::EntryKeys) {
      text += std::string(key) + "=Bench livery " + std::to_string(i) + " " + key + "\r\n";
    }
    text += "\r\n";
  }
  return text;
}

// Headers of `count` 16-byte section names that all hash to 0 under FNV-1a over folded 8-byte
// words, as the engine's index once hashed them: the second word of each name cancels its first.
// Each name reads back as it is (nothing in it is folded, cut or trimmed, and it holds no "]").
std::string CraftedSectionNames(int count) {
  std::string headers;
  for (unsigned long long i = 0; count > 0; ++i) {
    char name[17];
    std::snprintf(name, 9, "s%07llu", i);
    std::uint64_t word;
    std::memcpy(&word, name, 8);
    word = ((14695981039346656037u ^ 16) ^ word) * 1099511628211u;
    std::memcpy(name + 8, &word, 8);
    const std::string_view second(name + 8, 8);
    if (second.find_first_of(std::string_view("\0\t\n\v\f\r\x1a ]ABCDEFGHIJKLMNOPQRSTUVWXYZ",
                                              35)) == std::string_view::npos) {
      headers += "[" + std::string(name, 16) + "]\r\n";
      --count;
    }
  }
  return headers;
}

// Headers of `count` random 16-byte section names.
std::string RandomSectionNames(int count) {
  std::mt19937 random(1);
  std::string headers;
  for (int i = 0; i < count; ++i) {
    headers += "[";
    for (int j = 0; j < 16; ++j) headers += static_cast<char>('a' + random() % 26);
    headers += "]\r\n";
  }
  return headers;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Seconds taken by the program, run to its end; exits the benchmark when the program fails.
// Everything written before is flushed first, so that neither side pays for the other's writes.
double TimeProgram(const std::vector<std::string>& command) {
  sync();
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    std::vector<char*> argv;
    for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s failed\n", command[0].c_str());
    std::exit(1);
  }
  return seconds;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

struct Row {
  int entries;
  std::size_t bytes;
  double install;
  double durable;
  double atomic;
};

// The median time of an install from a livery.ini that holds `sections` before its entry.
double MeasureLivery(const std::string& folder, const std::string& sections) {
  const std::string aircraft = folder + "/Names";
  const std::string livery = aircraft + "/Livery";
  std::filesystem::create_directories(livery);
  std::filesystem::copy_file(LIVERY_SETUP_PATH, livery + "/setup",
                             std::filesystem::copy_options::overwrite_existing);
  WriteFile(livery + "/livery.ini", sections + "[fltsim.0]\r\ntitle=Names\r\nmodel=\r\n");
  std::vector<double> installs;
  for (int run = 0; run < kRuns; ++run) {
    WriteFile(aircraft + "/aircraft.cfg", "[fltsim.0]\r\ntitle=Factory\r\n");
    installs.push_back(TimeProgram({livery + "/setup"}));
  }
  return Median(installs);
}

Row Measure(const std::string& folder, int entries) {
  const std::string aircraft = folder + "/Aircraft";
  const std::string livery = aircraft + "/Livery";
  std::filesystem::create_directories(livery);
  std::filesystem::copy_file(LIVERY_SETUP_PATH, livery + "/setup",
                             std::filesystem::copy_options::overwrite_existing);
  WriteFile(livery + "/livery.ini",
            "[fltsim.0]\r\ntitle=Bench new livery\r\nmodel=\r\ntexture=new\r\nui_type=Bench\r\n");
  const std::string original = ConfigurationText(entries);
  const std::string cfg = aircraft + "/aircraft.cfg";
  const std::string copy = folder + "/copy.cfg";
  const std::string replaced = folder + "/replaced.cfg";
  WriteFile(replaced, original);  // the atomic floor renames over an existing file, as the install
  std::vector<double> installs, durables, atomics;
  for (int run = 0; run < kRuns; ++run) {
    WriteFile(cfg, original);
    installs.push_back(TimeProgram({livery + "/setup"}));
    durables.push_back(
        TimeProgram({"/bin/sh", "-c", "cat \"$0\" > \"$1\"; sync \"$1\"", cfg, copy}));
    atomics.push_back(TimeProgram(
        {"/bin/sh", "-c", "cat \"$0\" > \"$1\"; sync \"$1\"; mv \"$1\" \"$2\"; sync \"$3\"", cfg,
         copy, replaced, folder}));
  }
  return Row{entries, original.size(), Median(installs), Median(durables), Median(atomics)};
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> sizes;
  std::FILE* data = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--data" && i + 1 < argc) {
      data = std::fopen(argv[++i], "w");
    } else {
      sizes.push_back(std::atoi(argv[i]));
    }
  }
  if (sizes.empty()) sizes = {100, 1000, 10000, 100000};
  if (data != nullptr) {
    std::fprintf(data, "# entries\tbytes\tinstall_ms\tdurable_ms\tatomic_ms\n");
  }
  const std::string folder = (std::filesystem::current_path() / "bench-scratch").string();
  std::filesystem::remove_all(folder);
  std::printf(
      "| entries | bytes | install (ms) | durable copy (ms) | atomic replacement (ms) "
      "| install / durable | install / atomic |\n");
  std::printf("|---:|---:|---:|---:|---:|---:|---:|\n");
  for (const int entries : sizes) {
    const Row row = Measure(folder, entries);
    std::printf("| %d | %zu | %.2f | %.2f | %.2f | %.2f | %.2f |\n", row.entries, row.bytes,
                row.install * 1e3, row.durable * 1e3, row.atomic * 1e3, row.install / row.durable,
                row.install / row.atomic);
    std::fflush(stdout);
    if (data != nullptr) {
      std::fprintf(data, "%d\t%zu\t%.3f\t%.3f\t%.3f\n", row.entries, row.bytes, row.install * 1e3,
                   row.durable * 1e3, row.atomic * 1e3);
    }
  }
  if (data != nullptr) std::fclose(data);
  constexpr int kNames = 40000;
  std::printf(
      "\nlivery.ini of %d section names: crafted to share one hash %.2f ms, random %.2f ms\n",
      kNames, MeasureLivery(folder, CraftedSectionNames(kNames)) * 1e3,
      MeasureLivery(folder, RandomSectionNames(kNames)) * 1e3);
  std::filesystem::remove_all(folder);
  return 0;
}
