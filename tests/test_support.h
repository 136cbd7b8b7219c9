// Helpers shared by the tests: scratch folders, whole-file reads and writes, and running the
// built installer as a user would.
#pragma once

#include <string>
#include <vector>

namespace test_support {

// A fresh folder under the system's temporary folder, removed with everything in it on scope exit.
struct ScratchFolder {
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  std::string path;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);

// The names in a folder, sorted, without "." and "..".
std::vector<std::string> ListFolder(const std::string& path);

// An aircraft folder with a livery folder below it, as a user's installation has them.
struct AircraftTree {
  std::string aircraft;  // the aircraft folder
  std::string livery;    // its livery folder
  std::string setup;     // the installer copied into the livery folder
};

// The path of the built installer.
std::string BuiltSetupPath();

// Makes `root`/Aircraft/Livery with the installer copied into the livery folder under its own
// name; the files are written only when their text is given.
AircraftTree MakeAircraftTree(const std::string& root, const std::string* aircraftCfg,
                              const std::string* liveryIni,
                              const std::string& installer = BuiltSetupPath());

struct ProcessResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string errorOutput;
  std::string output;
};

struct RunOptions {
  std::string workingDirectory = "/";
  int userId = -1;                       // when root: run as this user and group instead
  std::vector<std::string> environment;  // NAME=value settings added to the inherited ones
};

// Runs `program` with `arguments` and waits for it.
ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const RunOptions& options = {});

// A livery.ini whose [fltsim.0] has the given title, model and ui_type and fixed other values.
std::string LiveryIni(const std::string& title, const std::string& model,
                      const std::string& uiType);

// The titles of the entries [fltsim.0], [fltsim.1], ... of a configuration file's text, up to the
// first free one.
std::vector<std::string> EntryTitles(const std::string& cfgText);

}  // namespace test_support
