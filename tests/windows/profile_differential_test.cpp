// The Linux profile engine against the platform's own profile read, run under Wine: for a set of
// tricky files, 8-bit and UTF-8, every section and key that the file names (and case variants,
// and names it does not hold) is read both ways, and every value must agree.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "engine/code_page.h"
#include "engine/profile_document.h"
#include "engine/profile_syntax.h"
#include "profile/read_setting.h"
#include "tests/test_support.h"
#include "tests/windows/wine_support.h"

namespace {

using namespace std::string_literals;

struct Case {
  const char* name;
  std::string text;
};

const std::vector<Case>& Corpus() {
  static const std::vector<Case> corpus = {
      {"line breaks mixed", "[a]\nlf=1\r\ncrlf=2\rcr=3\n\n\r\n\rlast=4"},
      {"CR only", "[a]\rk=1\rj=2\r[b]\rk=3"},
      {"trimming", "\t [a] \x1a\n \v\f key \t=\t value \x1a\v\nnbsp=\xA0x\xA0\n\x1a\n  \t\n"},
      {"headers",
       "[ fltsim.0 ] trailing\ntitle=x\n[a]b]\nk=v\n[c\nz=1\n[fltsim.01]\ntitle=y\n"
       "[ two words ]\nk=2\n[]\nk=empty name\n"},
      {"case", "[FLTSIM.1]\nTitle=Upper\n[caf\xC9]\nK=v\n[Mixed.Case]\nuI_TyPe=t\n"},
      {"comment-like",
       "[a]\nurl=x=y==z\n;title=commented\n#k=hash\n// k2 = slashes\n"
       "v=1 ; not a comment\n; bare comment\n"},
      {"quotes",
       "[a]\nd=\"x y\"\ns='x'\nmixed=\"x'\nempty=\"\"\none=\"\ntwo=\"\"x\"\"\n"
       "inner=a\"b\"\nspaced= \" x \" \nsingle=''\nlone='\n"},
      {"duplicates",
       "[a]\nk=first\nk=second\n[A]\nk=other\nj=only\n[b]\nmodel\nmodel=X\n"
       "empty=\n[a]\nlate=1\n"},
      {"before any header", "title=loose\nmodel\n\n[fltsim.0]\nmodel=m\n"},
      {"equals signs", "[a]\n=no key\nkey=\nk2 = = x\n = \nk3==\n"},
      {"long values", "[a]\nk1023=" + std::string(1023, 'a') + "\nk1024=" + std::string(1024, 'b') +
                          "\nk1500=" + std::string(1500, 'c') + "\n" + std::string(300, 'K') +
                          "=long key\n"},
      {"8-bit text",
       "[\xC0\xE9t\xE9]\nk=\xE9t\xE9\x80\xFF\x81\x8D\n\xFC"
       "ber=\xB0\xA3\n"},
      {"NUL bytes",
       "[fltsim.1\0 old]\ntitle=x\nv=ab\0cd\nk\0z=4\nq=\"ab\0cd\"\nq2=\"ab\"\0cd\n"
       "sp=ab \0 cd \n t\0 = 5\n[fltsim.1]\ntitle=second\n[\0x]\nn=1\n[a]\n\0=7\nb\0\n"
       "[b\0]c]\nk=8\n[ c \0d]\nk=9\n"s},
      {"byte order mark, UTF-8 text",
       "\xEF\xBB\xBF[Soci\xC3\xA9t\xC3\xA9]\ntitle=Caf\xC3\xA9 Cr\xC3\xA8me\n"
       "k=\xE2\x82\xAC\xE2\x80\x9A\xC5\xA0\xC5\xB8\xC5\xBD\xE2\x84\xA2\n"
       "undefined=\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D\ncjk=\xE4\xB8\xAD\xE6\x96\x87\n"
       "beyond=\xF0\x9F\x98\x80x\nnul=\xC3\xA9\0\xC3\xA9\n"
       "bad=a\x80z|\xE2\x82z|\xF0\x9F\x98z|\xC0\xAFz|\xFFz|\xE9t\xE9\n"
       "\xC3\xA9t\xC3\xA9=key\n[\xE4\xB8\xAD]\nx=1\n[?]\nx=2\n[\xC3\x89T\xC3\x89]\nx=3\n"s},
      {"aircraft file", test_support::ReadFile(LIVERY_SOURCE_DIR "/examples/Heron/aircraft.cfg")},
  };
  return corpus;
}

// A name of the file as the installer would ask for it: 8-bit text, which ends at a NUL byte.
std::string AsAsked(std::string name, bool utf8) {
  name = name.substr(0, name.find('\0'));
  return utf8 ? engine::AnsiFromUtf8(name) : name;
}

// Every section name and key the text could be asked for: the names it holds, their case
// variants, and names it does not hold.
std::vector<wine_support::Query> QueriesFor(std::string text) {
  const bool utf8 = text.starts_with(engine::kUtf8ByteOrderMark);
  if (utf8) text.erase(0, engine::kUtf8ByteOrderMark.size());
  std::set<std::string> sections{"", "missing"};
  std::set<std::string> keys{"missing", "title"};
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    const std::size_t open = line.find('[');
    const std::size_t close = line.rfind(']');
    if (open != std::string::npos && close != std::string::npos && close > open) {
      sections.insert(AsAsked(line.substr(open + 1, close - open - 1), utf8));
    }
    keys.insert(AsAsked(line.substr(0, line.find('=')), utf8));
    start = end + 1;
  }
  const auto withCaseVariants = [](const std::set<std::string>& names) {
    std::set<std::string> all = names;
    for (std::string name : names) {
      std::transform(name.begin(), name.end(), name.begin(), [](char c) {
        return (c >= 'a' && c <= 'z')   ? static_cast<char>(c - 32)
               : (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32)
                                        : c;
      });
      all.insert(name);
    }
    return all;
  };
  std::vector<wine_support::Query> queries;
  for (const std::string& section : withCaseVariants(sections)) {
    for (const std::string& key : withCaseVariants(keys)) {
      if (!key.empty()) queries.push_back({section, key});
    }
  }
  return queries;
}

// What the engine gives for the query, as the platform's read through a 1024-byte buffer would.
std::optional<std::string> ReadThroughEngine(const engine::Document& document,
                                             const wine_support::Query& query) {
  const std::optional<std::string> value = engine::FindValue(document, query.section, query.key);
  if (!value) return std::nullopt;
  return value->substr(0, profile::kSettingBufferSize - 1);
}

TEST(ProfileDifferential, EngineReadsEveryValueAsThePlatformDoes) {
  test_support::ScratchFolder folder;
  std::size_t compared = 0;
  for (const Case& file : Corpus()) {
    const std::string path = folder.path + "/case.ini";
    test_support::WriteFile(path, file.text);
    const std::vector<wine_support::Query> queries = QueriesFor(file.text);
    const std::vector<std::optional<std::string>> platform =
        wine_support::ReadThroughPlatform(path, queries);
    const engine::Document document = engine::ParseDocument(file.text);
    for (std::size_t i = 0; i < queries.size(); ++i) {
      EXPECT_EQ(ReadThroughEngine(document, queries[i]), platform[i])
          << file.name << ": [" << queries[i].section << "] " << queries[i].key;
    }
    compared += queries.size();
  }
  std::printf("compared %zu reads over %zu files\n", compared, Corpus().size());
}

}  // namespace
