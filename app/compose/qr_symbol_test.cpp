#include "app/compose/qr_symbol.h"

#include <gtest/gtest.h>
#include <qrencode.h>

#include <memory>
#include <string>

#include "app/compose/qr_picture.h"
#include "app/compose/qr_test_decode.h"

namespace kuv {
namespace {

std::u16string Repeat(std::u16string_view unit, int count) {
  std::u16string text;
  for (int i = 0; i < count; ++i) text += unit;
  return text;
}

struct SizeCase {
  const char* name;
  CodePage codePage;
  std::u16string text;
  int level;
};

// Our planned version must be one libqrencode accepts for our segments, and never larger than
// the one it picks for the same bytes with its own segmentation.
TEST(QrSymbol, WidthMatchesTheEncodedSymbolAndIsNoLargerThanTheLibrarysChoice) {
  const std::u16string url = u"https://example.org/inventory/drive?id=WD-4TB-0042&shelf=B7";
  const SizeCase cases[] = {
      {"digits", CodePage::kWindows1252, Repeat(u"0123456789", 20), 1},
      {"capitals", CodePage::kWindows1252, Repeat(u"HELLO WORLD ", 12), 3},
      {"url", CodePage::kWindows1252, url, 0},
      {"url-max", CodePage::kWindows1252, url, 3},
      {"mixed", CodePage::kWindows1252, u"Serial 12345678901234 ABC/DEF cafe", 2},
      {"kanji", CodePage::kCp932, u"\u65e5\u672c\u8a9e\u306e\u30c6\u30ad\u30b9\u30c81234", 1},
      {"katakana-halfwidth", CodePage::kCp932, u"\uff71\uff72\uff73ABC", 1},
      {"long", CodePage::kWindows1252, Repeat(u"abcdefghij", 80), 0},
  };
  for (const SizeCase& c : cases) {
    SCOPED_TRACE(c.name);
    QrSymbol symbol(c.codePage);
    symbol.SetLevel(c.level);
    symbol.SetText(c.text);
    const int width = symbol.Width();
    ASSERT_GT(width, 0);
    ASSERT_LT(width, kQrTooLargeWidth);
    EXPECT_EQ(symbol.Modules().size(), static_cast<std::size_t>(width * width));

    if (c.codePage == CodePage::kWindows1252) {
      std::string raw;
      for (char16_t ch : symbol.Text()) raw += static_cast<char>(ch);
      std::unique_ptr<QRcode, decltype(&QRcode_free)> library(
          QRcode_encodeString(raw.c_str(), 0, static_cast<QRecLevel>(c.level), QR_MODE_8, 1),
          QRcode_free);
      ASSERT_TRUE(library);
      EXPECT_LE(width, library->width);
    }
  }
}

// The standard's capacities of the screen's two largest symbols, 37 modules (version 5) and 85
// (version 17): the last character that fits, and the one that needs the next version.
TEST(QrSymbol, SwitchesVersionExactlyAtTheCapacity) {
  struct Edge {
    int level;
    std::u16string_view unit;
    int fits;
    int width;
  };
  const Edge edges[] = {
      {1, u"7", 202, 37}, {0, u"a", 106, 37},  {3, u"a", 280, 85},
      {1, u"A", 734, 85}, {0, u"9", 1548, 85},
  };
  for (const Edge& e : edges) {
    SCOPED_TRACE(::testing::Message() << "level " << e.level << ", " << e.fits << " characters");
    QrSymbol symbol(CodePage::kWindows1252);
    symbol.SetLevel(e.level);
    symbol.SetText(Repeat(e.unit, e.fits));
    EXPECT_EQ(symbol.Width(), e.width);
    symbol.SetText(Repeat(e.unit, e.fits + 1));
    EXPECT_EQ(symbol.Width(), e.width + 4);
  }
}

TEST(QrSymbol, ReadBackShowsWhatTheCodePageCannotHold) {
  struct Case {
    CodePage codePage;
    std::u16string text;
    std::u16string readBack;
  };
  const Case cases[] = {
      {CodePage::kWindows1252, u"caf\u00e9 \u20ac5\r\n", u"caf\u00e9 \u20ac5\r\n"},
      {CodePage::kWindows1252, u"\u65e5\u672c x", u"?? x"},
      {CodePage::kWindows1252, u"\U0001F600!", u"?!"},
      {CodePage::kCp932, u"\u65e5\u672c\uff71", u"\u65e5\u672c\uff71"},
      {CodePage::kCp932, u"\u20ac", u"?"},
  };
  for (const Case& c : cases) {
    QrSymbol symbol(c.codePage);
    symbol.SetText(c.text);
    EXPECT_EQ(symbol.Text(), c.readBack);
  }
}

TEST(QrSymbol, KanjiModeOnlyForShiftJisKanji) {
  const std::string sjis = "\x93\xfa\x96\x7b\x8c\xea";  // three kanji
  QrLayout kanji = PlanQrSymbol(sjis, 1, true);
  ASSERT_EQ(kanji.segments.size(), 1u);
  EXPECT_EQ(kanji.segments[0].mode, QrMode::kKanji);
  EXPECT_EQ(kanji.bits, 4 + 8 + 13 * 3);

  QrLayout latin = PlanQrSymbol(sjis, 1, false);
  ASSERT_EQ(latin.segments.size(), 1u);
  EXPECT_EQ(latin.segments[0].mode, QrMode::kByte);

  // A long digit run inside text is worth its own segment; a short one is not.
  QrLayout mixed = PlanQrSymbol("abc0123456789012345678xyz", 1, false);
  ASSERT_EQ(mixed.segments.size(), 3u);
  EXPECT_EQ(mixed.segments[1].mode, QrMode::kNumeric);
  EXPECT_EQ(PlanQrSymbol("ab12cd", 1, false).segments.size(), 1u);
}

// The planner resumes its search from the unchanged start of the last text; whatever the order of
// texts (growing, trimmed, changed in the middle, switching version groups), it must plan what a
// fresh search plans.
TEST(QrPlanner, ResumedSearchesPlanLikeFreshOnes) {
  const std::string longText = std::string(300, 'a') + "0123456789012345";
  const std::string sequence[] = {
      "HELLO",
      "HELLO WORLD 12345",
      longText,
      longText + "ABCDEF",
      longText,
      "HELLO",
      "HELLO\x93\xfa",
      "HELXO\x93\xfa\x96\x7b",
      "",
      std::string(150, '7') + "abc",
  };
  for (bool kanji : {false, true}) {
    QrPlanner planner;
    for (const std::string& text : sequence) {
      SCOPED_TRACE(text.substr(0, 20));
      const QrLayout resumed = planner.Plan(text, 1, kanji);
      const QrLayout fresh = PlanQrSymbol(text, 1, kanji);
      EXPECT_EQ(resumed.version, fresh.version);
      EXPECT_EQ(resumed.bits, fresh.bits);
      EXPECT_EQ(resumed.segments.size(), fresh.segments.size());
    }
  }
}

TEST(QrSymbol, EmptyAndOversizedTextsPaintNothing) {
  QrSymbol symbol(CodePage::kWindows1252);
  Picture canvas(96, 96, kBlack);
  symbol.SetText(u"");
  EXPECT_EQ(symbol.Width(), 0);
  symbol.Paint(canvas, 0, 0);
  symbol.SetText(Repeat(u"x", 3000));
  EXPECT_EQ(symbol.Width(), kQrTooLargeWidth);
  symbol.Paint(canvas, 0, 0);
  EXPECT_EQ(canvas, Picture(96, 96, kBlack));
}

TEST(DrawQrPicture, PlacesTheSymbolWithItsMarginAndKeepsTheEdgeLines) {
  QrSymbol symbol(CodePage::kWindows1252);
  symbol.SetDotsPerModule(2);
  symbol.SetText(Repeat(u"7", 201));
  ASSERT_EQ(symbol.Width(), 37);
  const Picture picture = DrawQrPicture(symbol, 1);
  EXPECT_EQ(picture.at(0, 50), kBlack);
  EXPECT_EQ(picture.at(50, 0), kBlack);
  EXPECT_EQ(picture.at(10, 10), kWhite) << "margin";
  EXPECT_EQ(picture.at(11, 11), kBlack) << "finder pattern corner";
  EXPECT_EQ(picture.at(84, 11), kBlack) << "top-right finder, last module";
  EXPECT_EQ(picture.at(85, 11), kWhite) << "margin after the last module";
  EXPECT_EQ(picture.at(95, 95), kWhite);

  symbol.SetText(u"");
  const Picture blank = DrawQrPicture(symbol, 38);
  int ink = 0;
  for (std::uint8_t dot : blank.dots) ink += dot == kBlack;
  EXPECT_EQ(ink, 96 + 95);
}

TEST(EncodeQrTempBmp, WritesTheOneBitLayoutBottomRowFirst) {
  Picture picture(96, 96, kBlack);
  picture.at(0, 95) = kWhite;  // first dot of the bottom row
  picture.at(9, 0) = kWhite;   // tenth dot of the top row
  const std::vector<std::uint8_t> bmp = EncodeQrTempBmp(picture);
  ASSERT_EQ(bmp.size(), 1214u);
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[2] | bmp[3] << 8, 1214);
  EXPECT_EQ(bmp[10], 62);
  EXPECT_EQ(bmp[28], 1);
  EXPECT_EQ(bmp[54] | bmp[55] | bmp[56], 0) << "entry 0 black";
  EXPECT_EQ(bmp[58] & bmp[59] & bmp[60], 0xFF) << "entry 1 white";
  EXPECT_EQ(bmp[62], 0x80);
  EXPECT_EQ(bmp[62 + 95 * 12 + 1], 0x40);
  EXPECT_TRUE(EncodeQrTempBmp(Picture(95, 96)).empty());
}

TEST(DrawQrPicture, DecodesBackToTheText) {
#ifndef KUVLCD_HAVE_ZBAR
  GTEST_SKIP() << "zbar is not installed (package libzbar-dev); the decode check is skipped";
#else
  struct Case {
    CodePage codePage;
    int dots;
    int level;
    std::u16string text;
    std::string utf8;
  };
  const Case cases[] = {
      {CodePage::kWindows1252, 2, 1, u"https://example.org/d/42", "https://example.org/d/42"},
      {CodePage::kWindows1252, 1, 3,
       u"https://example.org/inventory?drive=WD40EFRX-0042&shelf=B7&note=archive+2026",
       "https://example.org/inventory?drive=WD40EFRX-0042&shelf=B7&note=archive+2026"},
      {CodePage::kWindows1252, 1, 0, u"LINE ONE\r\nline two 12345678901234567890",
       "LINE ONE\r\nline two 12345678901234567890"},
      {CodePage::kCp932, 2, 1, u"\u65e5\u672c\u8a9e\u30c6\u30b9\u30c8",
       "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utf8);
    QrSymbol symbol(c.codePage);
    symbol.SetDotsPerModule(c.dots);
    symbol.SetLevel(c.level);
    symbol.SetText(c.text);
    const int extent = (symbol.Width() + 10) * c.dots;
    ASSERT_LE(extent, 96);
    EXPECT_EQ(testing::DecodeQrWithZbar(DrawQrPicture(symbol, 48 - extent / 2)), c.utf8);
  }
#endif
}

}  // namespace
}  // namespace kuv
