// Helpers shared by the tests: scratch folders, whole-file reads and writes, and running the
// built installer as a user would.
#pragma once

#include <functional>
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

// Waits until `done` holds, for half a minute at most; whether it held.
bool WaitUntil(const std::function<bool()>& done);

// The bytes in hexadecimal, two lower-case digits each, and back.
inline std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const char c : bytes) {
    hex += kDigits[static_cast<unsigned char>(c) >> 4];
    hex += kDigits[static_cast<unsigned char>(c) & 0xF];
  }
  return hex;
}
inline std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

// An aircraft folder with a livery folder below it, as a user's installation has them.
struct AircraftTree {
  std::string aircraft;   // the aircraft folder
  std::string livery;     // its livery folder
  std::string setup;      // the installer copied into the livery folder
  std::string uninstall;  // the uninstaller copied beside it
  std::string cfgPath() const { return aircraft + "/aircraft.cfg"; }
};

// What the aircraft folder holds after every run: the livery folder and aircraft.cfg, nothing
// beside them.
inline const std::vector<std::string> kAircraftFolder{"Livery", "aircraft.cfg"};

// The paths of the built installer and uninstaller.
std::string BuiltSetupPath();
std::string BuiltUninstallPath();

// Makes `root`/Aircraft/Livery with the installer and the uninstaller copied into the livery
// folder under their own names; the files are written only when their text is given.
AircraftTree MakeAircraftTree(const std::string& root, const std::string* aircraftCfg,
                              const std::string* liveryIni,
                              const std::string& installer = BuiltSetupPath(),
                              const std::string& uninstaller = BuiltUninstallPath());

struct ProcessResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string errorOutput;
  std::string output;
};

struct RunOptions {
  std::string workingDirectory = "/";
  int userId = -1;                       // when root: run as this user and group instead
  int memberOfGroup = -1;                // with userId: a further group the user belongs to
  std::vector<std::string> environment;  // NAME=value settings added to the inherited ones
};

// Runs `program` with `arguments` and waits for it.
ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const RunOptions& options = {});

// Starts a built program without arguments and waits for it: a Linux program as it is, a Windows
// one under Wine.
using Runner = std::function<ProcessResult(const std::string& program)>;
ProcessResult RunNatively(const std::string& program);

// Expects refused runs of both programs of the tree: status 2, one line on the error stream that
// names `mentions`, aircraft.cfg as it was, and nothing left beside it.
void ExpectRefused(const AircraftTree& tree, const std::string& mentions,
                   const Runner& run = RunNatively);

// An aircraft.cfg that neither program of either build can update without damage: how a test
// turns the file at `cfg` into it, and what the refusal names.
struct Refusal {
  const char* what;
  void (*make)(const std::string& cfg);
  const char* says;
};
extern const std::vector<Refusal> kRefusals;

// A livery.ini whose [fltsim.0] has the given title, model and ui_type and fixed other values.
std::string LiveryIni(const std::string& title, const std::string& model,
                      const std::string& uiType);

// The titles of the entries [fltsim.0], [fltsim.1], ... of a configuration file's text, up to the
// first free one.
std::vector<std::string> EntryTitles(const std::string& cfgText);

}  // namespace test_support
