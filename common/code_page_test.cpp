#include "common/code_page.h"

#include <gtest/gtest.h>

#include "common/utf16.h"

namespace kuv {
namespace {

// The same table holds for every platform's converter, so files written on one read the same
// on the other. The converters part only in the neighbours they may write for a character the
// page lacks (Windows writes "e" for "é" in CP932, glibc the full-width minus for U+2212).
TEST(CodePage, ToCodePageWritesOneQuestionMarkPerMissingCharacter) {
  struct Case {
    std::u16string text;
    CodePage page;
    std::string bytes;
  };
  const Case cases[] = {
      {u"Disk 1", CodePage::kWindows1252, "Disk 1"},
      {u"Café €5", CodePage::kWindows1252,
       "Caf\xE9 \x80"
       "5"},
      {u"あ東ｱ", CodePage::kCp932, "\x82\xA0\x93\x8C\xB1"},
      {u"あ", CodePage::kWindows1252, "?"},
      {u"a\U0001F600b", CodePage::kCp932, "a?b"},  // a pair is one character
      {u"a" + std::u16string(1, char16_t(0xD800)) + u"b", CodePage::kCp932, "a?b"},
      {u"a" + std::u16string(1, char16_t(0xDC00)) + u"b", CodePage::kWindows1252, "a?b"},
      {std::u16string(1, char16_t(0xD83D)), CodePage::kCp932, "?"},  // a pair cut short
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ToCodePage(c.text, c.page), c.bytes) << Utf16ToUtf8(c.text);
  }
}

TEST(CodePage, FromCodePageReadsOnAfterABadByte) {
  struct Case {
    std::string bytes;
    CodePage page;
    std::u16string text;
  };
  const Case cases[] = {
      {"Caf\xE9 \x80", CodePage::kWindows1252, u"Café €"},
      {"\x82\xA0\x93\x8C\xB1", CodePage::kCp932, u"あ東ｱ"},
      {"a\x82", CodePage::kCp932, u"a\uFFFD"},    // a lead byte at the end
      {"\x82 b", CodePage::kCp932, u"\uFFFD b"},  // a lead byte before no trail byte
      {"\x81\x7C", CodePage::kCp932, u"\uFF0D"},  // the full-width minus
      {std::string("a\0b", 3), CodePage::kCp932, std::u16string(u"a\0b", 3)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FromCodePage(c.bytes, c.page), c.text) << Utf16ToUtf8(c.text);
  }
}

}  // namespace
}  // namespace kuv
