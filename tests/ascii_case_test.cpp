// Name comparison and hashing that ignore ASCII case, eight bytes at a time.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "profile/ascii_case.h"

namespace {

using profile::EqualIgnoringAsciiCase;
using profile::FoldAsciiCase;
using profile::FoldAsciiCaseWord;
using profile::HashIgnoringAsciiCase;

TEST(AsciiCase, WordFoldAgreesWithByteFoldForEveryByteInEveryPosition) {
  for (int byte = 0; byte < 256; ++byte) {
    for (int position = 0; position < 8; ++position) {
      // The other bytes vary too, so that carries between bytes would show.
      std::uint64_t word = 0;
      std::uint64_t expected = 0;
      for (int i = 0; i < 8; ++i) {
        const auto b =
            static_cast<unsigned char>(i == position ? byte : (byte * 7 + i * 37) & 0xFF);
        word |= std::uint64_t{b} << (8 * i);
        expected |= std::uint64_t{static_cast<unsigned char>(FoldAsciiCase(static_cast<char>(b)))}
                    << (8 * i);
      }
      ASSERT_EQ(FoldAsciiCaseWord(word), expected) << "byte " << byte << " at " << position;
    }
  }
}

TEST(AsciiCase, NamesCompareAndHashAlikeOnlyWhenEqualIgnoringAsciiCase) {
  const std::string longName = "Fltsim.Section-Name-Longer-Than-Eight";
  std::string folded = longName;
  for (char& c : folded) c = FoldAsciiCase(c);
  EXPECT_TRUE(EqualIgnoringAsciiCase(longName, folded));
  EXPECT_EQ(HashIgnoringAsciiCase(longName), HashIgnoringAsciiCase(folded));
  EXPECT_TRUE(EqualIgnoringAsciiCase("", ""));
  EXPECT_FALSE(EqualIgnoringAsciiCase("fltsim.1", "fltsim.10"));
  EXPECT_FALSE(EqualIgnoringAsciiCase("caf\xC9", "caf\xE9"));  // 8-bit letters are not folded
  EXPECT_FALSE(EqualIgnoringAsciiCase("a[", "A{"));            // neighbours of the letter ranges
  EXPECT_FALSE(EqualIgnoringAsciiCase("@", "`"));
  EXPECT_NE(HashIgnoringAsciiCase("fltsim.1"), HashIgnoringAsciiCase("fltsim.2"));
  // Trailing zero bytes are part of the name, not padding.
  EXPECT_NE(HashIgnoringAsciiCase(std::string("a\0", 2)), HashIgnoringAsciiCase("a"));
}

}  // namespace
