// Case-insensitive comparison of 8-bit names the way profile files compare them: only the ASCII
// letters A-Z and a-z are folded; every other byte, 0x80-0xFF included, must match exactly.
#pragma once

#include <string>
#include <string_view>

namespace profile {

// The byte with A-Z folded to a-z.
constexpr char FoldAsciiCase(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

// True when the two names are equal once ASCII letters are folded.
constexpr bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldAsciiCase(a[i]) != FoldAsciiCase(b[i])) return false;
  }
  return true;
}

// The name with its ASCII letters folded, as a key for lookups that ignore case.
inline std::string FoldedName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) c = FoldAsciiCase(c);
  return folded;
}

}  // namespace profile
