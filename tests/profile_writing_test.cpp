// How the profile engine edits a file: only the lines a write is about change, new keys and
// sections go where a person would put them, and the file's own line breaks are kept.
#include <gtest/gtest.h>

#include <string>

#include "engine/profile_document.h"

namespace {

using engine::ParseDocument;
using engine::Serialize;
using engine::WriteValue;

// The file holding `text` after one write.
std::string AfterWrite(const std::string& text, const std::string& section, const std::string& key,
                       const std::string& value) {
  engine::Document document = ParseDocument(text);
  WriteValue(document, section, key, value);
  return Serialize(document);
}

TEST(ProfileWriting, UnchangedDocumentSerializesToTheSameBytes) {
  const std::string text =
      "\xEF\xBB\xBF; head\r\nloose line\n\n[A] x\r\n  Key = \"v\" "
      "\r\n;c\r\n\r\n[b\rk\x1a\n\xE9=\xFF";
  engine::Document document = ParseDocument(text);
  EXPECT_EQ(Serialize(document), text);
  EXPECT_FALSE(document.changed);
}

TEST(ProfileWriting, ExistingEntryKeepsItsKeySpellingAndEverythingElseStays) {
  const std::string text = "; keep me\r\n[FltSim.0]\r\n  Title = old ; note\r\nmodel = m\r\n";
  EXPECT_EQ(AfterWrite(text, "fltsim.0", "TITLE", "new"),
            "; keep me\r\n[FltSim.0]\r\nTitle=new\r\nmodel = m\r\n");
  // Only the first section of the name and the first entry of the key change.
  EXPECT_EQ(AfterWrite("[a]\nk=1\nk=2\n[a]\nk=3\n", "a", "k", "x"), "[a]\nk=x\nk=2\n[a]\nk=3\n");
  // A bare key is the entry that a read finds, so the write takes its line.
  EXPECT_EQ(AfterWrite("[a]\nmodel\nmodel=X\n", "a", "model", "Y"), "[a]\nmodel=Y\nmodel=X\n");
}

TEST(ProfileWriting, NewKeyGoesAfterTheSectionsLastNonBlankLine) {
  EXPECT_EQ(AfterWrite("[a]\nk=1\n\n\n[b]\nj=2\n", "a", "new", "v"),
            "[a]\nk=1\nnew=v\n\n\n[b]\nj=2\n");
  EXPECT_EQ(AfterWrite("[a]\n\n[b]\n", "A", "new", "v"), "[a]\nnew=v\n\n[b]\n");
  // The file's last line gets a line break before anything follows it.
  EXPECT_EQ(AfterWrite("[a]\r\nk=1", "a", "new", "v"), "[a]\r\nk=1\r\nnew=v\r\n");
}

TEST(ProfileWriting, NamelessSectionTakesNewKeysBeforeTheFirstHeader) {
  EXPECT_EQ(AfterWrite("a=1\n\n[s]\n", "", "b", "2"), "a=1\nb=2\n\n[s]\n");
  EXPECT_EQ(AfterWrite("\n[s]\n", "", "b", "2"), "b=2\n\n[s]\n");
  EXPECT_EQ(AfterWrite("", "", "b", "2"), "b=2\r\n");
}

TEST(ProfileWriting, NewSectionGoesAtTheEndAfterOneBlankLine) {
  EXPECT_EQ(AfterWrite("[a]\nk=1\n", "fltsim.3", "title", "t"),
            "[a]\nk=1\n\n[fltsim.3]\ntitle=t\n");
  EXPECT_EQ(AfterWrite("[a]\nk=1", "b", "k", "v"), "[a]\nk=1\n\n[b]\nk=v\n");
  EXPECT_EQ(AfterWrite("[a]\nk=1\n\n", "b", "k", "v"), "[a]\nk=1\n\n[b]\nk=v\n");
  EXPECT_EQ(AfterWrite("loose\r\n", "b", "k", "v"), "loose\r\n\r\n[b]\r\nk=v\r\n");
}

TEST(ProfileWriting, NewOrEmptyFilesGetCrlfAndOthersKeepTheirFirstLineBreak) {
  EXPECT_EQ(AfterWrite("", "b", "k", "v"), "[b]\r\nk=v\r\n");
  EXPECT_EQ(AfterWrite("\xEF\xBB\xBF", "b", "k", "v"), "\xEF\xBB\xBF[b]\r\nk=v\r\n");
  EXPECT_EQ(AfterWrite("[a]\rk=1\r\n", "b", "k", "v"), "[a]\rk=1\r\n\r[b]\rk=v\r");
  EXPECT_EQ(AfterWrite("[a]\nk=1\r\n", "a", "j", "v"), "[a]\nk=1\r\nj=v\n");
}

TEST(ProfileWriting, NewLineNeverMergesWithABlankLineAfterIt) {
  // The file's own break is a lone CR; before a blank LF line it would read as CRLF.
  EXPECT_EQ(AfterWrite("[a]\rk=1\n\n[b]\r", "a", "j", "2"), "[a]\rk=1\nj=2\r\n\n[b]\r");
  EXPECT_EQ(AfterWrite("[a]\rk=1\r\r[b]\r", "a", "j", "2"), "[a]\rk=1\rj=2\r\r[b]\r");
  // The file's own break is LF; after a last line ending in a lone CR it would read as CRLF.
  EXPECT_EQ(AfterWrite("[a]\nk=1\r", "b", "j", "2"), "[a]\nk=1\r\r\n[b]\nj=2\n");
}

TEST(ProfileWriting, TextIsWrittenAsGivenButNeverBreaksALine) {
  EXPECT_EQ(AfterWrite("[a]\n", "a", "t", " full"), "[a]\nt= full\n");
  EXPECT_EQ(AfterWrite("[a]\n", "a", "t", "one\r\ntwo=2"), "[a]\nt=one\n");
  EXPECT_EQ(AfterWrite("[a]\n", "a", "t", "\xE9\xFF"), "[a]\nt=\xE9\xFF\n");
}

TEST(ProfileWriting, Utf8FileTakesWritesAsUtf8AndKeepsEveryOtherByte) {
  const std::string text = "\xEF\xBB\xBF[caf\xC3\xA9]\nk=\xE9\xFF\n[b]\n";  // k: not UTF-8
  EXPECT_EQ(AfterWrite(text, "CAF\xE9", "j\xE9", "Cr\xE8me \x80"),
            "\xEF\xBB\xBF[caf\xC3\xA9]\nk=\xE9\xFF\nj\xC3\xA9=Cr\xC3\xA8me \xE2\x82\xAC\n[b]\n");
  EXPECT_EQ(AfterWrite(text, "\xE9", "k", "\xE9"), text + "\n[\xC3\xA9]\nk=\xC3\xA9\n");
}

TEST(ProfileWriting, WritesAreSeenByLaterReadsAndLaterWrites) {
  engine::Document document = ParseDocument("[fltsim.0]\ntitle=a\n");
  WriteValue(document, "fltsim.1", "title", "b");
  WriteValue(document, "fltsim.1", "model", "m");
  WriteValue(document, "FLTSIM.1", "Title", "c");
  EXPECT_EQ(engine::FindValue(document, "fltsim.1", "title"), "c");
  EXPECT_EQ(engine::FindValue(document, "fltsim.1", "model"), "m");
  EXPECT_EQ(Serialize(document), "[fltsim.0]\ntitle=a\n\n[fltsim.1]\ntitle=c\nmodel=m\n");
  EXPECT_TRUE(document.changed);
}

TEST(ProfileWriting, RenamedSectionStandsBehindTheSectionsOfItsNewName) {
  engine::Document document = ParseDocument("[x] ; note\nk=1\n[y]\nk=2\n[z]\n");
  EXPECT_TRUE(engine::RenameSection(document, "Y", "X"));
  EXPECT_EQ(Serialize(document), "[x] ; note\nk=1\n[X]\nk=2\n[z]\n");
  EXPECT_EQ(engine::FindValue(document, "x", "k"), "1");  // the first of the name still counts
  EXPECT_EQ(engine::FindValue(document, "y", "k"), std::nullopt);
  EXPECT_TRUE(engine::RemoveSection(document, "x"));
  EXPECT_EQ(engine::FindValue(document, "x", "k"), "2");
  EXPECT_FALSE(engine::RenameSection(document, "absent", "w"));
}

}  // namespace
