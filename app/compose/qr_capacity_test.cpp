#include "app/compose/qr_capacity.h"

#include <gtest/gtest.h>

#include <string>

namespace kuv {
namespace {

TEST(ClassifyCharacters, CountsEachClass) {
  struct Case {
    std::u16string text;
    QrCharacterCounts counts;
  };
  const Case cases[] = {
      {u"12345", {5, 0, 0, 0}},
      {u"ABC $%*+-./:", {0, 12, 0, 0}},
      {u"abc!#,\r\n", {0, 0, 0, 8}},
      {u"\t", {0, 0, 0, 0}},
      {u"\u65e5\u672c\u3042\uff21", {0, 0, 4, 0}},  // kanji, hiragana, full-width A
      {u"\uff71\uff72", {0, 0, 0, 2}},              // half-width katakana
      {u"Caf\u00e9 9", {1, 2, 0, 3}},
  };
  for (const Case& c : cases) {
    const QrCharacterCounts counts = ClassifyCharacters(c.text);
    EXPECT_EQ(counts.numeric, c.counts.numeric);
    EXPECT_EQ(counts.alnum, c.counts.alnum);
    EXPECT_EQ(counts.kanji, c.counts.kanji);
    EXPECT_EQ(counts.byte, c.counts.byte);
  }
}

TEST(EstimateBits, SumsTheSegmentsOfTheCellSize) {
  const QrModeTable two = SelectQrModeTable(2, 1);
  const QrModeTable one = SelectQrModeTable(1, 3);
  EXPECT_EQ(EstimateBits({5, 0, 0, 0}, two), 4 + 10 + 10 + 7);
  EXPECT_EQ(EstimateBits({0, 3, 0, 0}, two), 4 + 9 + 11 + 6);
  EXPECT_EQ(EstimateBits({4, 0, 0, 0}, one), 4 + 12 + 10 + 4);
  EXPECT_EQ(EstimateBits({0, 0, 2, 3}, one), (4 + 10 + 26) + (4 + 16 + 24));
  EXPECT_EQ(EstimateBits({}, one), 0);
  EXPECT_EQ(one.capacityBits, 2264);
  EXPECT_EQ(SelectQrModeTable(2, 0).capacityBits, 864);
}

// The count must be exact: that many more characters still fit the screen, one more does not.
TEST(CharactersLeft, CountsWhatStillFitsTheScreen) {
  struct Case {
    CodePage codePage;
    int pitch;
    int level;
    std::u16string text;
    QrCountKind kind;
    char16_t unit;
  };
  const Case cases[] = {
      {CodePage::kWindows1252, 2, 1, u"", QrCountKind::kCapital, u'A'},
      {CodePage::kWindows1252, 2, 1, u"https://example.org/", QrCountKind::kSmall, u'a'},
      {CodePage::kWindows1252, 2, 3, u"HELLO", QrCountKind::kCapital, u'A'},
      {CodePage::kWindows1252, 1, 3, u"https://example.org/inventory", QrCountKind::kSmall, u'a'},
      {CodePage::kWindows1252, 1, 0, u"ABC123", QrCountKind::kCapital, u'A'},
      {CodePage::kCp932, 2, 1, u"\u65e5\u672c", QrCountKind::kKanji, u'\u3042'},
      {CodePage::kCp932, 1, 2, u"\u65e5\u672c abc", QrCountKind::kKanji, u'\u3042'},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "pitch " << c.pitch << " level " << c.level);
    QrSymbol meter(c.codePage);
    meter.SetDotsPerModule(c.pitch);
    meter.SetLevel(c.level);
    const int left = CharactersLeft(c.text, c.kind, meter, SelectQrModeTable(c.pitch, c.level));
    ASSERT_GT(left, 0);
    QrSymbol check(c.codePage);
    check.SetLevel(c.level);
    check.SetText(c.text + std::u16string(static_cast<std::size_t>(left), c.unit));
    EXPECT_LE(QrExtent(check.Width(), c.pitch), 96);
    check.SetText(c.text + std::u16string(static_cast<std::size_t>(left + 1), c.unit));
    EXPECT_GT(QrExtent(check.Width(), c.pitch), 96);
  }
}

TEST(CharactersLeft, IsZeroForAFullText) {
  QrSymbol meter(CodePage::kWindows1252);
  meter.SetDotsPerModule(2);
  const std::u16string full(84, u'a');  // 84 bytes fill version 5 at level 1
  EXPECT_EQ(CharactersLeft(full, QrCountKind::kSmall, meter, SelectQrModeTable(2, 1)), 0);
}

}  // namespace
}  // namespace kuv
