#include "common/strings.h"

#include <cstdlib>
#include <map>
#include <string_view>

#include "common/utf16.h"

namespace kuv {

// The two tables as written in the .tsv files; generated into strings_data.cpp by CMake.
extern const char kEnglishTable[];
extern const char kJapaneseTable[];

namespace {

using Table = std::map<int, std::u16string>;

std::string Unescape(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      char next = text[++i];
      out += next == 'n' ? '\n' : next == 't' ? '\t' : next == 'r' ? '\r' : next;
    } else {
      out += text[i];
    }
  }
  return out;
}

Table Parse(std::string_view tsv) {
  Table table;
  while (!tsv.empty()) {
    std::size_t end = tsv.find('\n');
    std::string_view line = tsv.substr(0, end);
    tsv = end == std::string_view::npos ? std::string_view() : tsv.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::size_t tab = line.find('\t');
    if (line.empty() || line[0] == '#' || tab == std::string_view::npos) continue;
    int id = std::atoi(std::string(line.substr(0, tab)).c_str());
    table[id] = Utf8ToUtf16(Unescape(line.substr(tab + 1)));
  }
  return table;
}

const Table& TableFor(Language language) {
  static const Table english = Parse(kEnglishTable);
  static const Table japanese = Parse(kJapaneseTable);
  return language == Language::kJapanese ? japanese : english;
}

}  // namespace

Language SystemLanguage() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) {
      return std::string_view(value).rfind("ja", 0) == 0 ? Language::kJapanese
                                                           : Language::kEnglish;
    }
  }
  return Language::kEnglish;
}

std::u16string_view String(int id, Language language) {
  const Table& table = TableFor(language);
  auto it = table.find(id);
  return it == table.end() ? std::u16string_view() : std::u16string_view(it->second);
}

std::u16string_view String(int id) { return String(id, SystemLanguage()); }

std::string StringUtf8(int id, Language language) { return Utf16ToUtf8(String(id, language)); }

}  // namespace kuv
