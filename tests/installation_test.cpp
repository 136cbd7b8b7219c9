// Setting reads, entry numbering, livery entry writing and removal, run in-process against real
// files in a scratch folder.
#include <gtest/gtest.h>

#include <filesystem>

#include <string>

#include "installer/livery_entries.h"
#include "installer/run_installer.h"
#include "installer/run_uninstaller.h"
#include "platform/run_files.h"
#include "profile/entry_numbering.h"
#include "profile/read_setting.h"
#include "tests/test_support.h"

namespace {

using test_support::EntryTitles;
using test_support::ReadFile;
using test_support::ScratchFolder;
using test_support::WriteFile;

// A value as a fresh run reads it from the file.
std::string ReadBack(const std::string& path, const std::string& section, const std::string& key) {
  std::string value = profile::ReadSetting(path.c_str(), section.c_str(), key.c_str(), "<default>");
  platform::ForgetProfileFiles();
  return value;
}

int FreshNextFreeIndex(const std::string& path) {
  const int index = profile::NextFreeEntryIndex(path);
  platform::ForgetProfileFiles();
  return index;
}

// Sections [fltsim.first] to [fltsim.last] with titles, as a configuration file holds them.
std::string TitledEntries(int first, int last) {
  std::string text;
  for (int i = first; i <= last; ++i) {
    text += "[fltsim." + std::to_string(i) + "]\r\ntitle=Existing " + std::to_string(i) +
            "\r\nmodel=\r\n\r\n";
  }
  return text;
}

// A folder for a run: the livery file and an aircraft's configuration file, empty to begin with.
struct Installation {
  Installation() { WriteFile(paths.configuration, ""); }
  ScratchFolder folder;
  installer::InstallerPaths paths{folder.path + "/livery.ini", folder.path + "/aircraft.cfg"};
};

void ExpectVariantEntry(const std::string& cfg, int index, const std::string& title,
                        const std::string& model, const std::string& uiType) {
  const std::string section = profile::EntrySectionName(index);
  EXPECT_EQ(ReadBack(cfg, section, "title"), title) << section;
  EXPECT_EQ(ReadBack(cfg, section, "model"), model) << section;
  EXPECT_EQ(ReadBack(cfg, section, "ui_type"), uiType) << section;
  EXPECT_EQ(ReadBack(cfg, section, "texture"), "tidewater") << section;
  EXPECT_EQ(ReadBack(cfg, section, "atc_id"), "N47TW") << section;
}

TEST(ReadSetting, GivesDefaultsForWhatIsMissingAndCutsLongValues) {
  ScratchFolder folder;
  const std::string path = folder.path + "/p.ini";
  EXPECT_EQ(ReadBack(path, "a", "k"), "<default>");
  WriteFile(path, "[a]\nk=v\nlong=" + std::string(1500, 'x') + "\n");
  EXPECT_EQ(ReadBack(path, "a", "absent"), "<default>");
  EXPECT_EQ(ReadBack(path, "b", "k"), "<default>");
  EXPECT_EQ(ReadBack(path, "a", "k"), "v");
  EXPECT_EQ(ReadBack(path, "a", "long"), std::string(1023, 'x'));
  EXPECT_EQ(profile::ReadSetting(path.c_str(), "a", "absent", std::string(2000, 'd').c_str()),
            std::string(1023, 'd'));
  platform::ForgetProfileFiles();
}

TEST(NextFreeEntryIndex, FindsTheFirstSectionWithoutATitle) {
  ScratchFolder folder;
  const std::string cfg = folder.path + "/aircraft.cfg";
  EXPECT_EQ(FreshNextFreeIndex(cfg), 0);
  WriteFile(cfg, TitledEntries(0, 5));
  EXPECT_EQ(FreshNextFreeIndex(cfg), 6);
  WriteFile(cfg, TitledEntries(0, 1) + TitledEntries(3, 3));
  EXPECT_EQ(FreshNextFreeIndex(cfg), 2);
  WriteFile(cfg, "[fltsim.0]\ntitle=\nmodel=m\n" + TitledEntries(1, 1));
  EXPECT_EQ(FreshNextFreeIndex(cfg), 0);
  WriteFile(cfg, "[fltsim.0]\ntitle=\"\"\n");
  EXPECT_EQ(FreshNextFreeIndex(cfg), 0);
  WriteFile(cfg, "[fltsim.0]\nmodel=m\n");
  EXPECT_EQ(FreshNextFreeIndex(cfg), 0);
}

TEST(EntryIndexOfName, TakesOnlyTheNamesThatTheNumberingSpells) {
  EXPECT_EQ(profile::EntryIndexOfName("fltsim.0"), 0);
  EXPECT_EQ(profile::EntryIndexOfName("FltSim.12"), 12);
  EXPECT_EQ(profile::EntryIndexOfName("fltsim.2147483647"), 2147483647);
  for (const char* other :
       {"fltsim.", "fltsim.01", "fltsim.00", "fltsim.-1", "fltsim.+1", "fltsim. 1", "fltsim.1 ",
        "fltsim.1x", "fltsim.2147483648", "fltsim1", "xfltsim.1", "fltsim.\xD9\xA1"}) {
    EXPECT_EQ(profile::EntryIndexOfName(other), std::nullopt) << other;
  }
}

TEST(InstallLivery, AddsFourVariantEntriesAfterTheLastTitledEntry) {
  Installation run;
  const std::string before = TitledEntries(0, 5);
  WriteFile(run.paths.configuration, before);
  WriteFile(run.paths.livery, test_support::LiveryIni("Heron T", "hx", "AL-40"));
  EXPECT_EQ(installer::InstallLivery(run.paths), installer::kChanged);

  const std::string cfg = run.paths.configuration;
  EXPECT_EQ(ReadFile(cfg).substr(0, before.size()), before);
  ExpectVariantEntry(cfg, 6, "Heron T full", "hx", "AL-40");
  ExpectVariantEntry(cfg, 7, "Heron T wing", "hxwing", "AL-40 2D and wingview");
  ExpectVariantEntry(cfg, 8, "Heron T VC", "hxVC", "AL-40 VC only");
  ExpectVariantEntry(cfg, 9, "Heron T 2D", "hx2D", "AL-40 2D panel only");
  EXPECT_EQ(FreshNextFreeIndex(cfg), 10);
}

TEST(InstallLivery, CopiesEveryKeyAndWritesMissingOnesEmpty) {
  Installation run;
  WriteFile(run.paths.livery, "[fltsim.0]\r\ntitle=T\r\nkb_checklists=list\r\natc_heavy=1\r\n");
  EXPECT_EQ(installer::InstallLivery(run.paths), installer::kChanged);
  for (int index = 0; index < 4; ++index) {
    const std::string section = profile::EntrySectionName(index);
    EXPECT_EQ(ReadBack(run.paths.configuration, section, "kb_checklists"), "list");
    EXPECT_EQ(ReadBack(run.paths.configuration, section, "atc_heavy"), "1");
    EXPECT_EQ(ReadBack(run.paths.configuration, section, "visual_damage"), "");
  }
  // A new file holds exactly the four entries, each with the 19 keys in table order.
  const std::string created = ReadFile(run.paths.configuration);
  EXPECT_EQ(created.find("[fltsim.0]\r\ntitle=T full\r\nsim=\r\nmodel=\r\npanel="), 0u);
  std::size_t keys = 0;
  for (std::size_t at = created.find('='); at != std::string::npos; at = created.find('=', at + 1))
    ++keys;
  EXPECT_EQ(keys, 76u);
}

TEST(InstallLivery, FillsGapsAndReusesAnUntitledSectionKeepingItsOtherKeys) {
  Installation run;
  WriteFile(
      run.paths.configuration,
      TitledEntries(0, 1) + "[fltsim.2]\r\ntitle=\r\nmy_note=keep\r\n\r\n" + TitledEntries(4, 4));
  WriteFile(run.paths.livery, test_support::LiveryIni("L", "x", "U"));
  EXPECT_EQ(installer::InstallLivery(run.paths), installer::kChanged);
  const std::string cfg = run.paths.configuration;
  ExpectVariantEntry(cfg, 2, "L full", "x", "U");
  EXPECT_EQ(ReadBack(cfg, "fltsim.2", "my_note"), "keep");
  EXPECT_EQ(ReadBack(cfg, "fltsim.4", "title"), "Existing 4");
  ExpectVariantEntry(cfg, 3, "L wing", "xwing", "U 2D and wingview");
  ExpectVariantEntry(cfg, 5, "L VC", "xVC", "U VC only");
  ExpectVariantEntry(cfg, 6, "L 2D", "x2D", "U 2D panel only");
}

TEST(InstallLivery, EmptyTitleStillGivesFourSeparateEntries) {
  Installation run;
  WriteFile(run.paths.livery, test_support::LiveryIni("", "", ""));
  EXPECT_EQ(installer::InstallLivery(run.paths), installer::kChanged);
  const std::string created = ReadFile(run.paths.configuration);
  for (const char* title :
       {"title= full\r\n", "title= wing\r\n", "title= VC\r\n", "title= 2D\r\n"}) {
    EXPECT_NE(created.find(title), std::string::npos) << title;
  }
  EXPECT_EQ(FreshNextFreeIndex(run.paths.configuration), 4);
}

TEST(InstallLivery, RunningTwiceAddsEightEntries) {
  Installation run;
  WriteFile(run.paths.livery, test_support::LiveryIni("T", "m", "u"));
  EXPECT_EQ(installer::InstallLivery(run.paths), installer::kChanged);
  EXPECT_EQ(installer::InstallLivery(run.paths), installer::kChanged);
  EXPECT_EQ(FreshNextFreeIndex(run.paths.configuration), 8);
  ExpectVariantEntry(run.paths.configuration, 4, "T full", "m", "u");
  ExpectVariantEntry(run.paths.configuration, 7, "T 2D", "m2D", "u 2D panel only");
}

TEST(InstallLivery, NothingToInstallOrNoAircraftLeavesTheFolderAlone) {
  Installation run;
  const std::string before = TitledEntries(0, 0);
  WriteFile(run.paths.configuration, before);
  for (const char* livery : {"", "title=loose\n[fltsim.1]\ntitle=x\n", "[fltsim.0]\n\n   \n",
                             "\xFE\xFF\0[\0f\0l\0t\0s\0i\0m\0.\0\x30\0]"}) {
    WriteFile(run.paths.livery, livery);
    EXPECT_EQ(installer::InstallLivery(run.paths), installer::kNothingToDo) << livery;
    EXPECT_EQ(ReadFile(run.paths.configuration), before);
  }
  EXPECT_EQ(test_support::ListFolder(run.folder.path),
            (std::vector<std::string>{"aircraft.cfg", "livery.ini"}));

  // A folder without a configuration file is no aircraft's: nothing is created in it.
  std::filesystem::remove(run.paths.configuration);
  WriteFile(run.paths.livery, test_support::LiveryIni("T", "m", "u"));
  EXPECT_EQ(installer::InstallLivery(run.paths), installer::kNotUpdated);
  EXPECT_EQ(installer::UninstallLivery(run.paths), installer::kNothingToDo);
  EXPECT_EQ(test_support::ListFolder(run.folder.path), (std::vector<std::string>{"livery.ini"}));
}

TEST(InstallLivery, ReadsAUtf16LiveryAsThePlatformDoes) {
  // What an editor saves as "Unicode": UTF-16 LE with its mark, read in the 8-bit code page.
  // The title holds a letter of the code page (U+00E9), one it lacks and gives its best fit "L"
  // for (U+0141), one beyond U+FFFF in two units (a surrogate pair), each of which becomes a "?",
  // a low surrogate without its pair, and, as the file's last byte, half a unit: each of the last
  // two becomes one "?".
  Installation run;
  const std::u16string livery =
      u"[fltsim.0]\r\nmodel=m\r\nui_type=u\r\ntexture=tidewater\r\natc_id=N47TW\r\n"
      u"title=Soci\u00e9t\u00e9 \u0141 \U0001F600 " +
      std::u16string(1, char16_t{0xDFFF});
  std::string utf16 = "\xFF\xFE";
  for (const char16_t unit : livery) {
    utf16 += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
  }
  WriteFile(run.paths.livery, utf16 + "x");
  EXPECT_EQ(installer::InstallLivery(run.paths), installer::kChanged);
  ExpectVariantEntry(run.paths.configuration, 0, "Soci\xE9t\xE9 L ?? ?? full", "m", "u");
  ExpectVariantEntry(run.paths.configuration, 3, "Soci\xE9t\xE9 L ?? ?? 2D", "m2D",
                     "u 2D panel only");
}

TEST(UninstallLivery, GivesBackTheFileAsItWasBeforeTheInstalls) {
  const std::string example = ReadFile(LIVERY_SOURCE_DIR "/examples/Heron/aircraft.cfg");
  // Upper-case headers, names that head two sections, mixed line breaks.
  const std::string duplicates =
      "; top\n[FLTSIM.0]\ntitle=A\n[General]\nk=1\n[fltsim.1]\r\nTITLE=B\r\n\r\n"
      "[FltSim.1]\ntitle=hidden\n[GENERAL]\nk=2\n";
  // Names that the platform never takes for an entry's: no index, so nothing to renumber.
  const std::string lookAlikes =
      "[fltsim.0]\r\ntitle=A\r\n[fltsim.01]\r\ntitle=Zero one\r\n[fltsim.+2]\r\ntitle=P\r\n";
  for (const std::string& before : {example, duplicates, lookAlikes}) {
    Installation run;
    WriteFile(run.paths.configuration, before);
    WriteFile(run.paths.livery, test_support::LiveryIni("Heron T", "hx", "AL-40"));
    ASSERT_EQ(installer::InstallLivery(run.paths), installer::kChanged);
    ASSERT_EQ(installer::InstallLivery(run.paths), installer::kChanged);
    ASSERT_EQ(FreshNextFreeIndex(run.paths.configuration), EntryTitles(before).size() + 8);
    EXPECT_EQ(installer::UninstallLivery(run.paths), installer::kChanged);
    EXPECT_EQ(ReadFile(run.paths.configuration), before);
    EXPECT_EQ(installer::UninstallLivery(run.paths), installer::kNothingToDo);
  }
  // Values that the platform reads back otherwise than written: " full" reads as "full", quotes
  // go, and a title longer than the read's buffer is cut.
  for (const std::string& livery : {test_support::LiveryIni("", "m", "u"),
                                    std::string("[fltsim.0]\r\ntitle=T\r\ntexture=\"\"a\"\"\r\n"),
                                    "[fltsim.0]\r\ntitle=" + std::string(1020, 'A') + "\r\n"}) {
    Installation run;
    WriteFile(run.paths.livery, livery);
    ASSERT_EQ(installer::InstallLivery(run.paths), installer::kChanged);
    EXPECT_EQ(installer::UninstallLivery(run.paths), installer::kChanged) << livery;
    EXPECT_EQ(ReadFile(run.paths.configuration), "") << livery;
  }
}

TEST(UninstallLivery, RenumbersLaterEntriesDownKeepingTheirHeadersAndGaps) {
  Installation run;
  // Entries 0 to 7; [fltsim.8] without a title, which the install fills in, and a gap at 9 to 11,
  // which it fills too; then a listed entry, a gap at 13 and an entry that is not listed.
  const std::string kept = TitledEntries(0, 7);
  WriteFile(run.paths.configuration,
            kept +
                "[fltsim.8]\r\ntitle=\r\nmy_note=filled in\r\n\r\n[FltSim.12] ; note\r\n"
                "title=Later\r\n\r\n[fltsim.14]\r\ntitle=Unlisted\r\n");
  WriteFile(run.paths.livery, test_support::LiveryIni("L", "m", "u"));
  ASSERT_EQ(installer::InstallLivery(run.paths), installer::kChanged);
  std::vector<std::string> titles = EntryTitles(ReadFile(run.paths.configuration));
  ASSERT_EQ(titles.size(), 13u);
  EXPECT_EQ(installer::UninstallLivery(run.paths), installer::kChanged);
  // The filled-in section goes whole; four indices were emptied below 12 and 14.
  EXPECT_EQ(ReadFile(run.paths.configuration),
            kept + "[FltSim.8] ; note\r\ntitle=Later\r\n\r\n[fltsim.10]\r\ntitle=Unlisted\r\n");
  titles.erase(titles.begin() + 8, titles.begin() + 12);
  EXPECT_EQ(EntryTitles(ReadFile(run.paths.configuration)), titles);
}

TEST(UninstallLivery, LaterSectionOfARemovedNameTakesItsPlace) {
  Installation run;
  WriteFile(run.paths.configuration, "[fltsim.0]\r\ntitle=A\r\n");
  WriteFile(run.paths.livery, test_support::LiveryIni("L", "m", "u"));
  ASSERT_EQ(installer::InstallLivery(run.paths), installer::kChanged);
  const std::string installed = ReadFile(run.paths.configuration);
  // Sections that the platform does not read, behind [fltsim.2] and [fltsim.5].
  WriteFile(run.paths.configuration,
            installed +
                "[fltsim.2]\r\ntitle=Hidden\r\n[fltsim.5]\r\ntitle=E\r\n[FLTSIM.5]\r\n"
                "title=Hidden too\r\n");
  EXPECT_EQ(installer::UninstallLivery(run.paths), installer::kChanged);
  // Index 2 keeps a section, so only 1, 3 and 4 were emptied; both sections of 5 move to 2.
  EXPECT_EQ(ReadFile(run.paths.configuration),
            "[fltsim.0]\r\ntitle=A\r\n\r\n[fltsim.1]\r\ntitle=Hidden\r\n[fltsim.2]\r\ntitle=E\r\n"
            "[FLTSIM.2]\r\ntitle=Hidden too\r\n");
  EXPECT_EQ(EntryTitles(ReadFile(run.paths.configuration)),
            (std::vector<std::string>{"A", "Hidden", "E"}));

  // A hidden section without a title would stand at index 1 and hide E: nothing is removed.
  ASSERT_EQ(installer::InstallLivery(run.paths), installer::kChanged);
  const std::string hiding = ReadFile(run.paths.configuration) + "[fltsim.3]\r\nsim=leftover\r\n";
  WriteFile(run.paths.configuration, hiding);
  EXPECT_EQ(installer::UninstallLivery(run.paths), installer::kNotUpdated);
  EXPECT_EQ(ReadFile(run.paths.configuration), hiding);

  // At the last listed index it hides nothing: the livery goes, and the section moves down.
  WriteFile(run.paths.configuration, installed + "[fltsim.4]\r\nsim=leftover\r\n");
  EXPECT_EQ(installer::UninstallLivery(run.paths), installer::kChanged);
  EXPECT_EQ(ReadFile(run.paths.configuration),
            "[fltsim.0]\r\ntitle=A\r\n\r\n[fltsim.1]\r\nsim=leftover\r\n");

  // A hidden copy of one of the livery's entries takes its place and is the livery's too.
  const std::size_t vc = installed.find("[fltsim.3]");
  WriteFile(run.paths.configuration,
            installed + installed.substr(vc, installed.find("[fltsim.4]") - vc));
  EXPECT_EQ(installer::UninstallLivery(run.paths), installer::kChanged);
  EXPECT_EQ(ReadFile(run.paths.configuration), "[fltsim.0]\r\ntitle=A\r\n");
}

TEST(UninstallLivery, KeepsEntriesWithTheLiveryTitleButAnotherTexture) {
  Installation run;
  // The aircraft's own entries, titled as the livery's would be: one with another texture, one
  // without the key. The livery's texture is empty, as the installer then writes it.
  const std::string before =
      "[fltsim.0]\r\ntitle=Heron Factory VC\r\ntexture=factory\r\n\r\n"
      "[fltsim.1]\r\ntitle=Heron Factory full\r\nmodel=\r\n";
  WriteFile(run.paths.configuration, before);
  WriteFile(run.paths.livery, "[fltsim.0]\r\ntitle=Heron Factory\r\ntexture=\r\n");
  EXPECT_EQ(installer::UninstallLivery(run.paths), installer::kNothingToDo);
  EXPECT_EQ(ReadFile(run.paths.configuration), before);
  ASSERT_EQ(installer::InstallLivery(run.paths), installer::kChanged);
  EXPECT_EQ(installer::UninstallLivery(run.paths), installer::kChanged);
  EXPECT_EQ(ReadFile(run.paths.configuration), before);
}

TEST(UninstallLivery, RemovesEntriesBehindAGapLeavingTheGapsAndWhatIsNotListed) {
  Installation run;
  WriteFile(run.paths.configuration, TitledEntries(0, 1));
  WriteFile(run.paths.livery, test_support::LiveryIni("L", "m", "u"));
  ASSERT_EQ(installer::InstallLivery(run.paths), installer::kChanged);
  ASSERT_EQ(installer::InstallLivery(run.paths), installer::kChanged);
  // The title of [fltsim.1] deleted by hand: both installs, at 2 to 9, are no longer listed, nor
  // are the entries after them, with another gap at 11.
  std::string installed =
      ReadFile(run.paths.configuration) + TitledEntries(10, 10) + TitledEntries(12, 12);
  const std::string untitled = "title=Existing 1";
  installed.replace(installed.find(untitled), untitled.size(), "title=");
  WriteFile(run.paths.configuration, installed);
  EXPECT_EQ(installer::UninstallLivery(run.paths), installer::kChanged);
  EXPECT_EQ(ReadFile(run.paths.configuration),
            TitledEntries(0, 0) +
                "[fltsim.1]\r\ntitle=\r\nmodel=\r\n\r\n[fltsim.2]\r\ntitle=Existing 10\r\n"
                "model=\r\n\r\n[fltsim.4]\r\ntitle=Existing 12\r\nmodel=\r\n\r\n");
}

TEST(UninstallLivery, KeepsTheCommentsBeforeTheNextHeader) {
  Installation run;
  const std::string before = "[fltsim.0]\r\ntitle=A\r\n";
  WriteFile(run.paths.configuration, before);
  WriteFile(run.paths.livery, test_support::LiveryIni("L", "m", "u"));
  ASSERT_EQ(installer::InstallLivery(run.paths), installer::kChanged);
  // Written by hand after the install: comments about the next entry, and one at the end.
  const std::string comments =
      "; ===== my own repaint, keep =====\r\n  #[fltsim.9]\r\n\r\n// title=old\r\n";
  WriteFile(run.paths.configuration,
            ReadFile(run.paths.configuration) + "\r\n" + comments + "[fltsim.5]\r\ntitle=Mine\r\n");
  ASSERT_EQ(installer::InstallLivery(run.paths), installer::kChanged);
  // A note among a section's keys is the section's own, and goes with it.
  std::string noted = ReadFile(run.paths.configuration) + "; the end\r\n\r\n \r\n";
  const std::string secondFull = "title=L full\r\n";
  noted.insert(noted.rfind(secondFull) + secondFull.size(), "; my note\r\n");
  WriteFile(run.paths.configuration, noted);
  EXPECT_EQ(installer::UninstallLivery(run.paths), installer::kChanged);
  EXPECT_EQ(ReadFile(run.paths.configuration),
            before + "\r\n" + comments + "[fltsim.1]\r\ntitle=Mine\r\n\r\n; the end\r\n");

  // An untitled section that the install fills in: its keys go before the comments that end it,
  // which are about the next entry and outlive the section's removal.
  const std::string untitled = "[fltsim.0]\r\ntitle=A\r\n[fltsim.1]\r\ntitle=\r\n\r\n" + comments +
                               "[fltsim.2]\r\ntitle=Mine\r\n";
  WriteFile(run.paths.configuration, untitled);
  ASSERT_EQ(installer::InstallLivery(run.paths), installer::kChanged);
  EXPECT_EQ(installer::UninstallLivery(run.paths), installer::kChanged);
  EXPECT_EQ(ReadFile(run.paths.configuration),
            "[fltsim.0]\r\ntitle=A\r\n" + comments + "[fltsim.1]\r\ntitle=Mine\r\n");
}

}  // namespace
