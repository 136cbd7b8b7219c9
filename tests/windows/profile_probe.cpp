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

namespace {

// A default that no value in the test files spells.
constexpr const char* kDefault = "\x01probe-default\x01";

std::string FromHex(const char* hex) {
  std::string bytes;
  unsigned value = 0;
  while (std::sscanf(hex, "%2x", &value) == 1) {
    bytes.push_back(static_cast<char>(value));
    hex += 2;
  }
  return bytes;
}

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
    const std::string section = FromHex(line);
    const std::string key = FromHex(space + 1);
    char value[1024] = {};
    GetPrivateProfileStringA(section.c_str(), key.c_str(), kDefault, value, sizeof value, argv[1]);
    if (std::strcmp(value, kDefault) == 0) {
      std::fputs("default", results);
    } else {
      for (const char* c = value; *c != '\0'; ++c) {
        std::fprintf(results, "%02x", static_cast<unsigned char>(*c));
      }
    }
    std::fputc('\n', results);
  }
  std::fclose(results);
  return 0;
}
