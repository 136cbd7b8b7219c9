// Case-insensitive comparison of 8-bit names the way profile files compare them: only the ASCII
// letters A-Z and a-z are folded; every other byte, 0x80-0xFF included, must match exactly.
// Names are looked up very often (once per existing entry each time the numbering scans a file),
// so the hash and the comparison work eight bytes at a time.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace profile {

// The byte with A-Z folded to a-z.
constexpr char FoldAsciiCase(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

// The eight bytes of `word` with A-Z folded to a-z, all at once: a byte is an upper-case letter
// when adding 0x3F to its low seven bits carries into bit 7 (at least 'A') and adding 0x25 does
// not (below '['), and bit 7 was clear to begin with.
constexpr std::uint64_t FoldAsciiCaseWord(std::uint64_t word) {
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  const std::uint64_t low = word & (0x7F * kOnes);
  const std::uint64_t atLeastA = low + (0x3F * kOnes);
  const std::uint64_t pastZ = low + (0x25 * kOnes);
  const std::uint64_t upper = atLeastA & ~pastZ & ~word & (0x80 * kOnes);
  return word | (upper >> 2);
}

// The up to eight bytes of `text` from `at`, as one little-endian word padded with zeroes.
inline std::uint64_t LoadWord(std::string_view text, std::size_t at) {
  static_assert(std::endian::native == std::endian::little);
  std::uint64_t word = 0;
  std::memcpy(&word, text.data() + at, text.size() - at < 8 ? text.size() - at : 8);
  return word;
}

// True when the two names are equal once ASCII letters are folded.
inline bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  if (a == b) return true;
  for (std::size_t at = 0; at < a.size(); at += 8) {
    if (FoldAsciiCaseWord(LoadWord(a, at)) != FoldAsciiCaseWord(LoadWord(b, at))) return false;
  }
  return true;
}

// A hash of the name that ignores ASCII case: equal for names that EqualIgnoringAsciiCase finds
// equal. FNV-1a over folded eight-byte words; mix it further before taking few bits of it.
inline std::uint64_t HashIgnoringAsciiCase(std::string_view name) {
  std::uint64_t hash = 14695981039346656037u ^ name.size();
  for (std::size_t at = 0; at < name.size(); at += 8) {
    hash = (hash ^ FoldAsciiCaseWord(LoadWord(name, at))) * 1099511628211u;
  }
  return hash;
}

}  // namespace profile
