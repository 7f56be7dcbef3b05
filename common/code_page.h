#pragma once
// The two ANSI code pages the panels' text files and line lengths are measured in, and FAT
// volumes keep their labels in, and the conversions between them and UTF-16, done by each
// platform's own converter.

#include <string>
#include <string_view>

#include "common/strings.h"

namespace kuv {

// The system's ANSI code page: CP932 for a Japanese user interface, Windows-1252 otherwise.
enum class CodePage { kWindows1252, kCp932 };
CodePage AnsiCodePage(Language language);

// The text in the code page. A character the page cannot hold becomes one "?", a surrogate pair
// (or a lone surrogate) counting as one character.
std::string ToCodePage(std::u16string_view text, CodePage codePage);

// The text of code-page bytes. A byte that starts no character of the page becomes U+FFFD and
// the bytes after it are read afresh.
std::u16string FromCodePage(std::string_view bytes, CodePage codePage);

}  // namespace kuv
