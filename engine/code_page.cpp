// Windows-1252 text to and from UTF-8: the Linux build's stand-in for the active code page. It
// writes the bytes the platform's WideCharToMultiByte(1252) writes, best fits included, so that
// the two builds store the same text alike.
#include "engine/code_page.h"

#include <algorithm>
#include <array>

#include "engine/unicode_text.h"

namespace engine {

namespace {

// The characters of the bytes 0x80-0x9F; every other byte is the character of its own number.
constexpr std::array<char32_t, 32> kCharactersFrom0x80 = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// A character that code page 1252 lacks and the byte the platform gives for it all the same.
struct BestFit {
  char16_t unit;
  unsigned char byte;
};

#include "engine/best_fit_1252.inc"

// The search below needs each unit once, in order, whoever made the table.
static_assert(std::adjacent_find(kBestFit1252.begin(), kBestFit1252.end(),
                                 [](const BestFit& a, const BestFit& b) {
                                   return a.unit >= b.unit;
                                 }) == kBestFit1252.end());

// What the UTF-8 reader gives for bytes that are not a whole character.
constexpr char32_t kNotUtf8 = 0xFFFFFFFF;

char32_t CharacterOfByte(unsigned char byte) {
  return byte >= 0x80 && byte < 0xA0 ? kCharactersFrom0x80[byte - 0x80] : byte;
}

// The platform's best fit for a character of at most U+FFFF that Windows-1252 lacks, or '?'.
char BestFitOfCharacter(char32_t character) {
  const auto fit =
      std::lower_bound(kBestFit1252.begin(), kBestFit1252.end(), character,
                       [](const BestFit& entry, char32_t wanted) { return entry.unit < wanted; });
  return fit != kBestFit1252.end() && fit->unit == character ? static_cast<char>(fit->byte) : '?';
}

// The byte of a character of at most U+FFFF: its own, else its best fit, else '?'.
char ByteOfCharacter(char32_t character) {
  if (character < 0x80 || (character >= 0xA0 && character <= 0xFF)) {
    return static_cast<char>(character);
  }
  for (std::size_t i = 0; i < kCharactersFrom0x80.size(); ++i) {
    if (kCharactersFrom0x80[i] == character) return static_cast<char>(0x80 + i);
  }
  return BestFitOfCharacter(character);
}

// The character that starts at `at`, which moves past it. Bytes that are not a whole character
// give kNotUtf8: a lead byte with the continuation bytes that fit it, or one other byte. The
// ranges are those of well-formed UTF-8, so overlong forms and surrogates are not characters.
char32_t TakeCharacter(std::string_view text, std::size_t& at) {
  const auto lead = static_cast<unsigned char>(text[at++]);
  if (lead < 0x80) return lead;
  int length = 0;
  unsigned char low = 0x80;  // the range of the second byte; later ones are 0x80-0xBF
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return kNotUtf8;
  }
  char32_t character = lead & (0x7F >> length);
  for (int i = 1; i < length; ++i, low = 0x80, high = 0xBF) {
    const auto next = at < text.size() ? static_cast<unsigned char>(text[at]) : 0;
    if (next < low || next > high) return kNotUtf8;
    character = (character << 6) | (next & 0x3F);
    ++at;
  }
  return character;
}

}  // namespace

std::string Utf8FromAnsi(std::string_view text) {
  std::string utf8;
  utf8.reserve(text.size());
  for (const char byte : text) AppendUtf8(utf8, CharacterOfByte(static_cast<unsigned char>(byte)));
  return utf8;
}

std::string AnsiFromUtf8(std::string_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const char32_t character = TakeCharacter(text, at);
    // The platform reads bytes that are not UTF-8 as U+FFFD, which it converts to '?', and gives
    // '?' for each of the two units of a character beyond U+FFFF (make_table.sh checks both).
    if (character == kNotUtf8) {
      bytes += '?';
    } else if (character > 0xFFFF) {
      bytes += "??";
    } else {
      bytes += ByteOfCharacter(character);
    }
  }
  return bytes;
}

}  // namespace engine
