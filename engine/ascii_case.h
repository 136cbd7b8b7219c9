// Comparing 8-bit names the way profile files compare them: only the ASCII letters A-Z and a-z
// are folded; every other byte, 0x80-0xFF included, must match exactly.
#pragma once

#include <algorithm>
#include <string_view>

namespace engine {

// The byte with A-Z folded to a-z.
constexpr char FoldAsciiCase(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

// True when the two names are equal once ASCII letters are folded.
constexpr bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return FoldAsciiCase(x) == FoldAsciiCase(y);
         });
}

}  // namespace engine
