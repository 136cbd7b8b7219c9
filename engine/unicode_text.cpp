// Characters appended as UTF-8; UTF-16 little-endian text converted to UTF-8.
#include "engine/unicode_text.h"

namespace engine {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The 16-bit unit at `at`, whose two bytes are there.
char32_t UnitAt(std::string_view text, std::size_t at) {
  return static_cast<unsigned char>(text[at]) | (static_cast<unsigned char>(text[at + 1]) << 8);
}

bool IsHighSurrogate(char32_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(char32_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

}  // namespace

void AppendUtf8(std::string& text, char32_t character) {
  const auto byte = [](char32_t bits) { return static_cast<char>(bits); };
  if (character < 0x80) {
    text += byte(character);
  } else if (character < 0x800) {
    text += byte(0xC0 | (character >> 6));
    text += byte(0x80 | (character & 0x3F));
  } else if (character < 0x10000) {
    text += byte(0xE0 | (character >> 12));
    text += byte(0x80 | ((character >> 6) & 0x3F));
    text += byte(0x80 | (character & 0x3F));
  } else {
    text += byte(0xF0 | (character >> 18));
    text += byte(0x80 | ((character >> 12) & 0x3F));
    text += byte(0x80 | ((character >> 6) & 0x3F));
    text += byte(0x80 | (character & 0x3F));
  }
}

std::string Utf8FromUtf16Le(std::string_view text) {
  std::string utf8;
  utf8.reserve(text.size());
  std::size_t at = 0;
  for (; at + 1 < text.size(); at += 2) {
    char32_t character = UnitAt(text, at);
    if (IsHighSurrogate(character) && at + 3 < text.size() &&
        IsLowSurrogate(UnitAt(text, at + 2))) {
      character = 0x10000 + ((character - 0xD800) << 10) + (UnitAt(text, at + 2) - 0xDC00);
      at += 2;
    } else if (IsHighSurrogate(character) || IsLowSurrogate(character)) {
      character = kReplacement;
    }
    AppendUtf8(utf8, character);
  }
  if (at < text.size()) AppendUtf8(utf8, kReplacement);
  return utf8;
}

}  // namespace engine
