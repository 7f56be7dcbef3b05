#include "common/strings.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "common/utf16.h"

namespace kuv {
namespace {

// The ids a table file defines, read from the source so that a missing line cannot hide.
std::set<int> IdsIn(const char* file) {
  std::ifstream in(std::string(KUVLCD_SOURCE_DIR) + "/common/strings/" + file);
  std::set<int> ids;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    ids.insert(std::stoi(line.substr(0, line.find('\t'))));
  }
  return ids;
}

// The printf conversions of a text in order ("%d", "%s"...), ignoring "%%" and stray percent
// signs such as "Low(7%)".
std::vector<std::string> Directives(const std::string& text) {
  static const std::regex directive(R"(%[-+ #0]*[0-9]*(\.[0-9]+)?(hh|h|ll|l|z|j|t)?[diouxXcsp])");
  std::vector<std::string> found;
  for (std::sregex_iterator it(text.begin(), text.end(), directive), end; it != end; ++it) {
    found.push_back(it->str());
  }
  return found;
}

TEST(StringTable, BothLanguagesHoldEveryIdWithMatchingDirectives) {
  const std::set<int> english = IdsIn("en.tsv");
  const std::set<int> japanese = IdsIn("ja.tsv");
  ASSERT_FALSE(english.empty());
  EXPECT_EQ(english, japanese);
  std::set<int> all = english;
  all.insert(japanese.begin(), japanese.end());
  for (int id : all) {
    const std::string en = StringUtf8(id, Language::kEnglish);
    const std::string ja = StringUtf8(id, Language::kJapanese);
    EXPECT_FALSE(en.empty()) << id;
    EXPECT_FALSE(ja.empty()) << id;
    // The QR page passes one count (full-width characters) in Japanese and two in English.
    if (id == 103) continue;
    EXPECT_EQ(Directives(en), Directives(ja)) << id << ": " << en << " / " << ja;
  }
  EXPECT_EQ(Directives(StringUtf8(103, Language::kEnglish)),
            (std::vector<std::string>{"%d", "%d"}));
  EXPECT_EQ(Directives(StringUtf8(103, Language::kJapanese)), (std::vector<std::string>{"%d"}));
}

}  // namespace
}  // namespace kuv
