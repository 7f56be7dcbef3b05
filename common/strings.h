#pragma once
// The string table: every user-visible text by id, in English and Japanese, compiled in from
// common/strings/en.tsv and ja.tsv.

#include <string>
#include <string_view>

namespace kuv {

enum class Language { kEnglish, kJapanese };

// Japanese when LC_ALL, LC_MESSAGES or LANG (the first one set) starts with "ja".
Language SystemLanguage();

// The text of id in language; an empty view for an id the table does not hold.
std::u16string_view String(int id, Language language);
// The text of id in the system language.
std::u16string_view String(int id);
// The UTF-8 text of id, for terminals and logs.
std::string StringUtf8(int id, Language language);

}  // namespace kuv
