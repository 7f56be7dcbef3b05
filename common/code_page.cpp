#include "common/code_page.h"

namespace kuv {

CodePage AnsiCodePage(Language language) {
  return language == Language::kJapanese ? CodePage::kCp932 : CodePage::kWindows1252;
}

}  // namespace kuv
