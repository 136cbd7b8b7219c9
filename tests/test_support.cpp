// Helpers shared by the tests.
#include "tests/test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "engine/profile_document.h"
#include "profile/entry_numbering.h"

namespace test_support {

ScratchFolder::ScratchFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "livery-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  // Tests take write bits away; give them back so that everything can be removed.
  for (auto it = std::filesystem::recursive_directory_iterator(path, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    if (!it->is_symlink()) chmod(it->path().c_str(), 0755);
  }
  chmod(path.c_str(), 0755);
  std::filesystem::remove_all(path, ignored);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

bool Exists(const std::string& path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0;
}

std::vector<std::string> ListFolder(const std::string& path) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool WaitUntil(const std::function<bool()>& done) {
  for (int waited = 0; waited < 1500 && !done(); ++waited) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return done();
}

AircraftTree MakeAircraftTree(const std::string& root, const std::string* aircraftCfg,
                              const std::string* liveryIni, const std::string& installer,
                              const std::string& uninstaller) {
  const auto name = [](const std::string& path) {
    return std::filesystem::path(path).filename().string();
  };
  AircraftTree tree{root + "/Aircraft", root + "/Aircraft/Livery",
                    root + "/Aircraft/Livery/" + name(installer),
                    root + "/Aircraft/Livery/" + name(uninstaller)};
  std::filesystem::create_directories(tree.livery);
  std::filesystem::copy_file(installer, tree.setup);
  std::filesystem::copy_file(uninstaller, tree.uninstall);
  if (aircraftCfg != nullptr) WriteFile(tree.cfgPath(), *aircraftCfg);
  if (liveryIni != nullptr) WriteFile(tree.livery + "/livery.ini", *liveryIni);
  return tree;
}

namespace {

// Everything that can still be read from the descriptor.
std::string Drain(int fd) {
  std::string bytes;
  char chunk[4096];
  ssize_t count;
  while ((count = read(fd, chunk, sizeof chunk)) > 0)
    bytes.append(chunk, static_cast<std::size_t>(count));
  return bytes;
}

}  // namespace

ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const RunOptions& options) {
  FILE* errors = tmpfile();
  FILE* output = tmpfile();
  const pid_t child = fork();
  if (child == 0) {
    dup2(fileno(errors), 2);
    dup2(fileno(output), 1);
    if (chdir(options.workingDirectory.c_str()) != 0) _exit(127);
    for (const std::string& setting : options.environment)
      putenv(const_cast<char*>(setting.c_str()));
    const bool dropRoot = options.userId >= 0 && geteuid() == 0;
    const auto group = static_cast<gid_t>(options.memberOfGroup);
    if (dropRoot && (setgroups(options.memberOfGroup >= 0 ? 1 : 0, &group) != 0 ||
                     setgid(static_cast<gid_t>(options.userId)) != 0 ||
                     setuid(static_cast<uid_t>(options.userId)) != 0)) {
      _exit(126);
    }
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ProcessResult result;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  rewind(errors);
  rewind(output);
  result.errorOutput = Drain(fileno(errors));
  result.output = Drain(fileno(output));
  fclose(errors);
  fclose(output);
  return result;
}

std::string BuiltSetupPath() {
  return LIVERY_SETUP_PATH;
}

std::string BuiltUninstallPath() {
  return LIVERY_UNINSTALL_PATH;
}

ProcessResult RunNatively(const std::string& program) {
  return RunProgram(program, {});
}

void ExpectRefused(const AircraftTree& tree, const std::string& mentions, const Runner& run) {
  const std::string cfg = tree.cfgPath();
  const auto standing = [&] {
    return std::filesystem::is_directory(cfg) ? std::string("(a folder)") : ReadFile(cfg);
  };
  const std::string before = standing();
  for (const std::string& program : {tree.setup, tree.uninstall}) {
    const ProcessResult result = run(program);
    EXPECT_EQ(result.status, 2) << program;
    EXPECT_EQ(std::count(result.errorOutput.begin(), result.errorOutput.end(), '\n'), 1)
        << result.errorOutput;
    EXPECT_NE(result.errorOutput.find(mentions), std::string::npos) << result.errorOutput;
    EXPECT_EQ(standing(), before) << program;
    EXPECT_EQ(ListFolder(tree.aircraft), kAircraftFolder);
  }
}

const std::vector<Refusal> kRefusals = {
    // No write permission bit, which stops even root; Wine shows it as the read-only attribute.
    {"read-only", [](const std::string& cfg) { chmod(cfg.c_str(), 0444); },
     "aircraft.cfg: is read-only"},
    {"UTF-16 LE text",
     [](const std::string& cfg) {
       WriteFile(cfg, std::string("\xFF\xFE[\0f\0l\0t\0s\0i\0m\0.\0\x30\0]\0\r\0\n\0", 24));
     },
     "is UTF-16 text, which an 8-bit edit would corrupt"},
    {"a folder",
     [](const std::string& cfg) {
       std::filesystem::remove(cfg);
       std::filesystem::create_directory(cfg);
     },
     "aircraft.cfg: is not a regular file"},
    // A second name, as when two aircraft share one file.
    {"a file of two names",
     [](const std::string& cfg) {
       std::filesystem::create_hard_link(
           cfg, std::filesystem::path(cfg).parent_path().parent_path() / "shared.cfg");
     },
     "has 2 names (hard links); a new file would separate them"},
};

std::string LiveryIni(const std::string& title, const std::string& model,
                      const std::string& uiType) {
  return "[fltsim.0]\r\ntitle=" + title + "\r\nsim=AL40\r\nmodel=" + model +
         "\r\ntexture=tidewater\r\natc_id=N47TW\r\nui_type=" + uiType +
         "\r\nui_variation=Tidewater Air\r\nvisual_damage=1\r\n";
}

std::vector<std::string> EntryTitles(const std::string& cfgText) {
  const engine::Document document = engine::ParseDocument(cfgText);
  std::vector<std::string> titles;
  for (int i = 0;; ++i) {
    std::optional<std::string> title =
        engine::FindValue(document, profile::EntrySectionName(i), "title");
    if (!title || title->empty()) return titles;
    titles.push_back(std::move(*title));
  }
}

}  // namespace test_support
