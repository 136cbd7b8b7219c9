// A test helper for Windows: reads values of a profile file through the platform's own profile
// function, so that the tests can compare the Linux engine with it.
//
// profile_probe FILE QUERIES RESULTS
//   QUERIES holds one query a line: section and key, each in hexadecimal, separated by a space.
//   RESULTS receives one line a query: "default" when the read gave the default text, otherwise
//   the value in hexadecimal. Hexadecimal keeps every byte as it is, whatever the code page.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "../test_support.h"

namespace {

// A default that no value in the test files spells.
constexpr const char* kDefault = "\x01probe-default\x01";

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  std::FILE* queries = std::fopen(argv[2], "rb");
  std::FILE* results = std::fopen(argv[3], "wb");
  if (queries == nullptr || results == nullptr) return 2;
  char line[8192];
  while (std::fgets(line, sizeof line, queries) != nullptr) {
    char* space = std::strchr(line, ' ');
    if (space == nullptr) continue;
    *space = '\0';
    const std::string section = test_support::FromHex(line);
    const std::string key = test_support::FromHex(space + 1);
    char value[1024] = {};
    GetPrivateProfileStringA(section.c_str(), key.c_str(), kDefault, value, sizeof value, argv[1]);
    if (std::strcmp(value, kDefault) == 0) {
      std::fputs("default", results);
    } else {
      std::fputs(test_support::Hex(value).c_str(), results);
    }
    std::fputc('\n', results);
  }
  std::fclose(results);
  return 0;
}
