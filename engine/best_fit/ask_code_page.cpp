// A Windows console program that asks the platform how it converts text to and from code page
// 1252, so that the Linux build's stand-in for that code page can be made from the platform's own
// answers (make_table.sh runs it under Wine and turns what it writes into best_fit_1252.inc).
//
// ask_code_page RESULTS
//   RESULTS receives one answer a line, numbers in hexadecimal; bytes and UTF-16 units are written
//   as a run of hexadecimal digits ("-" when there are none), and "default" is 1 when the platform
//   says it used its default character:
//     platform NAME                   what answered ("Wine 8.0", or "Windows" when not Wine)
//     unit U BYTES default            WideCharToMultiByte(1252) of the one unit U, for every
//                                     unit that is not a surrogate
//     beyond FIRST LAST BYTES default the same for each character FIRST..LAST beyond U+FFFF, its
//                                     two units converted together: one line a run of characters
//                                     that convert alike
//     lone FIRST LAST BYTES default   the same for each surrogate unit FIRST..LAST alone
//     units UNITS BYTES default       the same for a few sequences of units around surrogates
//     byte B UNITS                    MultiByteToWideChar(1252) of the one byte B, for every byte
//     utf8 BYTES UNITS                MultiByteToWideChar(CP_UTF8) of a few byte sequences that
//                                     are not UTF-8, or hold some that is not
// Guarantees: every line comes from one call of the platform's function, nothing is worked out
// here; the lines always come in the order above, so that the same platform writes the same file.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr UINT kCodePage = 1252;

struct Narrow {
  std::string bytes;
  bool usedDefault = false;
};

std::string Hex(const std::string& bytes) {
  if (bytes.empty()) return "-";
  std::string hex;
  char digits[3];
  for (const char c : bytes) {
    std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(c));
    hex += digits;
  }
  return hex;
}

std::string Hex(const std::wstring& units) {
  if (units.empty()) return "-";
  std::string hex;
  char digits[5];
  for (const wchar_t unit : units) {
    std::snprintf(digits, sizeof digits, "%04x", static_cast<unsigned>(unit));
    hex += digits;
  }
  return hex;
}

// The flags are those of the Windows build's own conversion (code_page_windows.cpp): none.
Narrow ToCodePage(const std::wstring& units) {
  char out[16] = {};
  BOOL usedDefault = FALSE;
  const int length = WideCharToMultiByte(kCodePage, 0, units.data(), static_cast<int>(units.size()),
                                         out, sizeof out, nullptr, &usedDefault);
  return {std::string(out, length > 0 ? length : 0), usedDefault != FALSE};
}

std::wstring ToUnits(UINT codePage, const std::string& bytes) {
  wchar_t out[16] = {};
  const int length = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()),
                                         out, sizeof out / sizeof out[0]);
  return std::wstring(out, length > 0 ? length : 0);
}

std::wstring UnitsOf(char32_t character) {
  if (character < 0x10000) return std::wstring(1, static_cast<wchar_t>(character));
  const char32_t bits = character - 0x10000;
  return {static_cast<wchar_t>(0xD800 | (bits >> 10)),
          static_cast<wchar_t>(0xDC00 | (bits & 0x3FF))};
}

std::string Answer(const Narrow& narrow) {
  return Hex(narrow.bytes) + (narrow.usedDefault ? " 1" : " 0");
}

void WritePlatform(std::FILE* results) {
  using Version = const char*(CDECL*)();
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  const auto version =
      reinterpret_cast<Version>(reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")));
  std::fprintf(results, "platform %s%s\n", version ? "Wine " : "Windows", version ? version() : "");
}

void WriteUnits(std::FILE* results) {
  for (char32_t unit = 0; unit < 0x10000; ++unit) {
    if (unit >= 0xD800 && unit <= 0xDFFF) continue;
    std::fprintf(results, "unit %04x %s\n", static_cast<unsigned>(unit),
                 Answer(ToCodePage(UnitsOf(unit))).c_str());
  }
}

// Characters FIRST..LAST, one line for each run of them whose answers are alike.
void WriteRuns(std::FILE* results, const char* name, char32_t first, char32_t last) {
  char32_t start = first;
  std::string answer = Answer(ToCodePage(UnitsOf(first)));
  for (char32_t character = first + 1; character <= last + 1; ++character) {
    const std::string next = character <= last ? Answer(ToCodePage(UnitsOf(character))) : "";
    if (next == answer) continue;
    std::fprintf(results, "%s %04x %04x %s\n", name, static_cast<unsigned>(start),
                 static_cast<unsigned>(character - 1), answer.c_str());
    start = character;
    answer = next;
  }
}

void WriteUnitSequences(std::FILE* results) {
  const std::vector<std::wstring> sequences = {
      {0xD83D, 0xDE00}, {0xDE00, 0xD83D}, {0xD83D, L'A'},         {L'A', 0xDE00},
      {0xD83D, 0xD83D}, {0xDE00, 0xDE00}, {0xD83D, 0xDE00, L'A'}, {0xD800, 0xDC00, 0xDBFF, 0xDFFF}};
  for (const std::wstring& units : sequences) {
    std::fprintf(results, "units %s %s\n", Hex(units).c_str(), Answer(ToCodePage(units)).c_str());
  }
}

void WriteBytes(std::FILE* results) {
  for (unsigned byte = 0; byte < 0x100; ++byte) {
    const std::string one(1, static_cast<char>(byte));
    std::fprintf(results, "byte %02x %s\n", byte, Hex(ToUnits(kCodePage, one)).c_str());
  }
}

// Each form of bytes that are not UTF-8: alone, at the end, and followed by more text.
void WriteNotUtf8(std::FILE* results) {
  const std::vector<std::string> sequences = {"\x80",
                                              "\xBF",
                                              "\x80\x80",
                                              "\xC0\x80",
                                              "\xC1\xBF",
                                              "\xC2",
                                              "\xC2\x41",
                                              "\xC2\xC2\xA9",
                                              "\xE0\x80\x80",
                                              "\xE0\x9F\xBF",
                                              "\xE0\xA0",
                                              "\xE2\x82",
                                              "\xE2\x82\x41",
                                              "\xE2\x41",
                                              "\xED\xA0\x80",
                                              "\xED\xBF\xBF",
                                              "\xED\x9F\xBF",
                                              "\xEF\xBF\xBE",
                                              "\xF0\x80\x80",
                                              "\xF0\x8F\xBF\xBF",
                                              "\xF0\x9F",
                                              "\xF0\x9F\x98",
                                              "\xF0\x9F\x98\x41",
                                              "\xF0\x9F\x41",
                                              "\xF4\x8F\xBF\xBF",
                                              "\xF4\x90\x80",
                                              "\xF5\x80\x80",
                                              "\xF8\x88\x80\x80",
                                              "\xFE",
                                              "\xFF",
                                              "A\xFF"
                                              "B",
                                              "\xE2\x82\xAC"};
  for (const std::string& bytes : sequences) {
    std::fprintf(results, "utf8 %s %s\n", Hex(bytes).c_str(), Hex(ToUnits(CP_UTF8, bytes)).c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::FILE* results = std::fopen(argv[1], "wb");
  if (results == nullptr) return 2;
  WritePlatform(results);
  WriteUnits(results);
  WriteRuns(results, "beyond", 0x10000, 0x10FFFF);
  WriteRuns(results, "lone", 0xD800, 0xDFFF);
  WriteUnitSequences(results);
  WriteBytes(results);
  WriteNotUtf8(results);
  return std::fclose(results) == 0 ? 0 : 1;
}
