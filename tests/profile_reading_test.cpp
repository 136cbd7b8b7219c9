// How the profile engine reads a file: line breaks, trimming, headers, entries, quotes, names that
// ignore case, which of several sections or entries of one name counts, NUL bytes, and UTF-8 files.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>

#include "engine/profile_document.h"
#include "platform/profile_checks.h"

namespace {

using engine::ParseDocument;
using namespace std::string_literals;

// The value of `key` in `section` of a file holding `text`, or nothing when it reads as default.
std::optional<std::string> Read(const std::string& text, const std::string& section,
                                const std::string& key) {
  return engine::FindValue(ParseDocument(text), section, key);
}

TEST(ProfileReading, AcceptsEveryLineBreakMixedAndNoFinalBreak) {
  const std::string text = "[a]\nlf=1\r\ncrlf=2\rcr=3\n\n\r\n\rlast=4";
  EXPECT_EQ(Read(text, "a", "lf"), "1");
  EXPECT_EQ(Read(text, "a", "crlf"), "2");
  EXPECT_EQ(Read(text, "a", "cr"), "3");
  EXPECT_EQ(Read(text, "a", "last"), "4");
}

TEST(ProfileReading, TrimsBlanksTabsControlsAndEofMarkButNotNoBreakSpace) {
  const std::string text = "\t [a] \x1a\n \v\f key \t=\t value \x1a\x0b\nnbsp=\xA0x\xA0\n";
  EXPECT_EQ(Read(text, "a", "key"), "value");
  EXPECT_EQ(Read(text, "a", "nbsp"), "\xA0x\xA0");
  EXPECT_EQ(Read(text, " a\t", "\tkey "), "value");  // the names asked for are trimmed too
}

TEST(ProfileReading, HeaderNameRunsToTheLastBracketAndIgnoresWhatFollows) {
  EXPECT_EQ(Read("[ fltsim.0 ] trailing text\ntitle=x\n", "fltsim.0", "title"), "x");
  EXPECT_EQ(Read("[a]b]\nk=v\n", "a]b", "k"), "v");
  // Without "]" the line is an ordinary entry of the section before it.
  EXPECT_EQ(Read("[a]\n[b\nk=v\n", "a", "k"), "v");
  EXPECT_EQ(Read("[a]\n[b\nk=v\n", "b", "k"), std::nullopt);
  // Names are text, not numbers.
  EXPECT_EQ(Read("[fltsim.01]\ntitle=x\n", "fltsim.1", "title"), std::nullopt);
}

TEST(ProfileReading, NamesMatchRegardlessOfAsciiCaseOnly) {
  const std::string text = "[FLTSIM.1]\nTitle=Upper\n[caf\xC9]\nk=v\n";
  EXPECT_EQ(Read(text, "fltsim.1", "TITLE"), "Upper");
  EXPECT_EQ(Read(text, "CAF\xC9", "k"), "v");
  EXPECT_EQ(Read(text, "caf\xE9", "k"), std::nullopt);  // 8-bit letters are not folded
}

TEST(ProfileReading, EntriesSplitAtTheFirstEqualsAndHaveNoCommentSyntax) {
  const std::string text =
      "[a]\nurl=x=y==z\n;title=commented\n#k=hash\n// k2 = slashes\nv=1 ; not a comment\n";
  EXPECT_EQ(Read(text, "a", "url"), "x=y==z");
  EXPECT_EQ(Read(text, "a", ";title"), "commented");
  EXPECT_EQ(Read(text, "a", "title"), std::nullopt);
  EXPECT_EQ(Read(text, "a", "#k"), "hash");
  EXPECT_EQ(Read(text, "a", "// k2"), "slashes");
  EXPECT_EQ(Read(text, "a", "v"), "1 ; not a comment");
}

TEST(ProfileReading, OnePairOfMatchingQuotesIsRemoved) {
  const std::string text =
      "[a]\nd=\"x y\"\ns='x'\nmixed=\"x'\nempty=\"\"\none=\"\ntwo=\"\"x\"\"\ninner=a\"b\"\n"
      "spaced= \" x \" \n";
  EXPECT_EQ(Read(text, "a", "d"), "x y");
  EXPECT_EQ(Read(text, "a", "s"), "x");
  EXPECT_EQ(Read(text, "a", "mixed"), "\"x'");
  EXPECT_EQ(Read(text, "a", "empty"), "");
  EXPECT_EQ(Read(text, "a", "one"), "\"");
  EXPECT_EQ(Read(text, "a", "two"), "\"x\"");
  EXPECT_EQ(Read(text, "a", "inner"), "a\"b\"");
  EXPECT_EQ(Read(text, "a", "spaced"), " x ");
}

TEST(ProfileReading, OnlyTheFirstSectionAndTheFirstEntryOfANameCount) {
  const std::string text = "[a]\nk=first\nk=second\n[A]\nk=other\nj=only-in-second\n";
  EXPECT_EQ(Read(text, "a", "k"), "first");
  EXPECT_EQ(Read(text, "a", "j"), std::nullopt);
  // A bare key decides too: it has no value, so the read gives the default.
  EXPECT_EQ(Read("[a]\nmodel\nmodel=X\n", "a", "model"), std::nullopt);
  EXPECT_EQ(Read("[a]\nempty=\n", "a", "empty"), "");
}

TEST(ProfileReading, LinesBeforeTheFirstHeaderFormTheNamelessSection) {
  const std::string text = "title=loose\n\n[fltsim.0]\nmodel=m\n[]\nk=v\n";
  EXPECT_EQ(Read(text, "fltsim.0", "title"), std::nullopt);
  EXPECT_EQ(Read(text, "fltsim.0", "model"), "m");
  EXPECT_EQ(Read(text, "", "title"), "loose");
  // The nameless section comes first even when it is empty, so "[]" is never found.
  EXPECT_EQ(Read(text, "", "k"), std::nullopt);
  EXPECT_EQ(Read("[]\nk=v\n", "", "k"), std::nullopt);
}

TEST(ProfileReading, NulByteEndsANameOrValueOfALineParsedAsUsual) {
  const std::string text =
      "[fltsim.1\0 old]\nv=ab\0cd\nk\0z=4\nq=\"ab\0cd\"\nsp=ab \0 cd \n[fltsim.1]\nlate=x\n"s;
  EXPECT_EQ(Read(text, "fltsim.1", "v"), "ab");
  EXPECT_EQ(Read(text, "fltsim.1", "k"), "4");
  EXPECT_EQ(Read(text, "fltsim.1", "q"), "\"ab");  // quotes go after the cut
  EXPECT_EQ(Read(text, "fltsim.1", "sp"), "ab ");  // trimming goes before it
  EXPECT_EQ(Read(text, "fltsim.1", "late"), std::nullopt);
}

TEST(ProfileReading, FileWithByteOrderMarkIsUtf8TextReadInWindows1252) {
  const std::string text =
      "\xEF\xBB\xBF[Soci\xC3\xA9t\xC3\xA9]\nt=Caf\xC3\xA9 \xE2\x82\xAC\xC5\xA0\xC5\xB8\n"
      "lacks=\xE4\xB8\xAD|\xF0\x9F\x98\x80|\x80|\xE2\x82|\xC0\xAF\n[\xE4\xB8\xAD]\nk=q\n";
  EXPECT_EQ(Read(text, "soci\xE9t\xE9", "T"), "Caf\xE9 \x80\x8A\x9F");
  EXPECT_EQ(Read(text, "Soci\xC3\xA9t\xC3\xA9", "t"), std::nullopt);  // names are converted
  EXPECT_EQ(Read(text, "soci\xE9t\xE9", "lacks"), "?|??|?|?|??");
  EXPECT_EQ(Read(text, "?", "k"), std::nullopt);  // compared as UTF-8, not as what it reads as
}

TEST(ProfileReading, WindowsAnswersOnAFileWithAByteOrderMarkFailTheChecksThatNameTheMark) {
  // Windows' profile functions do not read the mark: the first line, behind it, is no header, and
  // the rest reads as 8-bit text. Handed those answers, the checks fail and name the mark; the
  // engine's own answers pass, and an answer that no reading gives (a read that failed) is not
  // put down to the mark.
  using platform::Misread;
  const engine::Document first = ParseDocument("\xEF\xBB\xBF[fltsim.0]\r\ntitle=Caf\xC3\xA9\r\n");
  EXPECT_EQ(platform::SectionProbeMisread(first, "fltsim.0", false), Misread::kByteOrderMark);
  EXPECT_EQ(platform::SectionProbeMisread(first, "fltsim.0", true), Misread::kNone);
  const engine::Document noted =
      ParseDocument("\xEF\xBB\xBF; note\r\n[fltsim.0]\r\ntitle=Caf\xC3\xA9\r\n");
  EXPECT_EQ(platform::SectionProbeMisread(noted, "fltsim.0", false), Misread::kOther);
  const auto agrees = [&](const char* answer, bool withoutMark) {
    char buffer[1024] = {};
    std::snprintf(buffer, sizeof buffer, "%s", answer);
    return platform::ValueReadAgrees(noted, "fltsim.0", "title", "", buffer, sizeof buffer,
                                     withoutMark);
  };
  EXPECT_TRUE(agrees("Caf\xE9", false));
  EXPECT_FALSE(agrees("Caf\xC3\xA9", false));  // the UTF-8 bytes, read as 8-bit text...
  EXPECT_TRUE(agrees("Caf\xC3\xA9", true));    // ...as a reader that does not know the mark does
  EXPECT_FALSE(agrees("", true));              // the default text of a read that failed
  // A section of nothing but a comment has no entries, whatever the platform hands out.
  EXPECT_EQ(platform::SectionProbeMisread(ParseDocument("[fltsim.0]\r\n; only a note\r\n"),
                                          "fltsim.0", true),
            Misread::kNone);
  const std::string cause = platform::MisreadCause(Misread::kByteOrderMark);
  EXPECT_NE(cause.find("UTF-8 byte order mark"), std::string::npos) << cause;
  EXPECT_NE(cause.find("save it without the mark"), std::string::npos) << cause;
  EXPECT_EQ(platform::MisreadCause(Misread::kOther).find("byte order mark"), std::string::npos);
}

TEST(ProfileReading, SectionHasEntriesNeedsANonBlankLineInTheFirstSectionOfTheName) {
  const auto has = [](const std::string& text) {
    return engine::SectionHasEntries(ParseDocument(text), "fltsim.0");
  };
  EXPECT_TRUE(has("[fltsim.0]\ntitle=\n"));
  EXPECT_TRUE(has("[FltSim.0]\nbare\n"));
  EXPECT_FALSE(has(""));
  EXPECT_FALSE(has("title=x\n[fltsim.0]\n\n  \n[fltsim.1]\ntitle=x\n"));
  EXPECT_FALSE(has("[fltsim.0]\n[fltsim.0]\ntitle=in the second section of the name\n"));
  EXPECT_FALSE(has("[fltsim.0]\n\0 key cut to nothing\n"s));
  EXPECT_FALSE(has("[fltsim.0]\n; only a note\n"));
  EXPECT_TRUE(has("[fltsim.0]\n; a note\ntitle=x\n"));
}

TEST(ProfileReading, ReadAlikeAllowsOnlyLayoutThatChangesNoRead) {
  const auto alike = [](const std::string& a, const std::string& b) {
    return engine::ReadAlike(ParseDocument(a), ParseDocument(b));
  };
  // Each of the others differs from it in one thing only.
  const std::string text = "[A] x\nk = v\nj=\"w\"\n\n[b]\nk=1\nk=2\n";
  EXPECT_TRUE(alike(text, "[A]\r\nj=\"w\"\r\nk=v\r\n[b]\r\nk=1\r\nk=2\r\n"));
  EXPECT_FALSE(alike(text, "[a]\nk=v\nj=\"w\"\n[b]\nk=1\nk=2\n"));     // a name's case
  EXPECT_FALSE(alike(text, "[A]\nk=v\nj=x\n[b]\nk=1\nk=2\n"));         // one value
  EXPECT_FALSE(alike(text, "[A]\nk=v\nj=\"w\"\n[b]\nk=2\nk=1\n"));     // which entry reads
  EXPECT_FALSE(alike(text, "[b]\nk=1\nk=2\n[A]\nk=v\nj=\"w\"\n"));     // the sections' order
  EXPECT_FALSE(alike(text, "[A]\nk=v\nj=\"w\"\nj\n[b]\nk=1\nk=2\n"));  // one entry more
  EXPECT_FALSE(alike(text, "; c\n" + text));                           // a line before them
  EXPECT_FALSE(alike(text, "\xEF\xBB\xBF" + text));                    // UTF-8 text
  EXPECT_FALSE(alike("[a]\nk\n", "[a]\nk=\n"));                        // "=" or none
}

}  // namespace
