#include "app/compose/line_items.h"

#include <gtest/gtest.h>

#include "common/utf16.h"

namespace kuv {
namespace {

DriveRecord Drive(std::int32_t fileSystemType, std::int32_t panelModel = 1) {
  DriveRecord drive = EmptyDriveRecord();
  drive.driveNumber = 1;
  drive.fileSystemType = fileSystemType;
  drive.panelModel = panelModel;
  return drive;
}

ScreenConfig Rotated(std::int32_t rotation) {
  ScreenConfig config = InitialSlotConfig();
  config.rotation = rotation;
  return config;
}

TEST(EffectiveRotation, PanelModelThreeTurnsBack) {
  struct Case {
    std::int32_t rotation, panelModel, expected;
  };
  const Case cases[] = {
      {0, 1, 0},    {90, 1, 90},   {270, 4, 270}, {0, 3, 270},   {90, 3, 0},
      {180, 3, 90}, {270, 3, 180}, {450, 1, 90},  {-90, 1, 270},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EffectiveRotation(c.rotation, c.panelModel), c.expected)
        << c.rotation << " on model " << c.panelModel;
  }
  // A hostile stored value must not overflow.
  const std::int32_t extreme = EffectiveRotation(INT32_MIN, 3);
  EXPECT_TRUE(extreme >= 0 && extreme < 360) << extreme;
}

TEST(AnsiByteLength, CodePages) {
  struct Case {
    std::u16string text;
    CodePage page;
    std::size_t bytes;
  };
  const Case cases[] = {
      {u"", CodePage::kCp932, 0},
      {u"ABC", CodePage::kWindows1252, 3},
      {u"ABC", CodePage::kCp932, 3},
      {u"あいう", CodePage::kCp932, 6},
      {u"ｱｲｳ", CodePage::kCp932, 3},           // half-width katakana is single-byte
      {u"あいう", CodePage::kWindows1252, 3},  // each unmappable character becomes one "?"
      {u"é€", CodePage::kWindows1252, 2},
      {u"é", CodePage::kCp932, 1},
      {u"\U0001F600", CodePage::kCp932, 1},                        // a pair is one character
      {std::u16string(1, char16_t(0xD800)), CodePage::kCp932, 1},  // lone surrogate
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AnsiByteLength(c.text, c.page), c.bytes) << Utf16ToUtf8(c.text);
  }
}

TEST(ApplyLineLimit, LayoutsRotationsAndCodePages) {
  const std::u16string latin14 = u"ABCDEFGHIJKLMN";
  const std::u16string kana7 = u"あいうえおかき";
  struct Case {
    std::u16string text;
    std::int32_t fileSystemType, panelModel, rotation;
    CodePage page;
    std::u16string expected;
  };
  const Case cases[] = {
      {latin14, kFsNtfs, 1, 0, CodePage::kWindows1252, u"ABCDEFGHIJKLM"},
      {latin14, kFsFat32, 1, 0, CodePage::kWindows1252, u"ABCDEFGHIJK"},
      {latin14, kFsFat32, 1, 90, CodePage::kWindows1252, u"ABCDEFGHIJKLM"},
      {latin14, kFsFat32, 1, 180, CodePage::kWindows1252, u"ABCDEFGHIJK"},
      {latin14, kFsXfs, 1, 270, CodePage::kWindows1252, u"ABCDEFGHIJKLM"},
      {latin14, kFsExt, 3, 90, CodePage::kWindows1252, u"ABCDEFGHIJK"},     // effective 0
      {latin14, kFsFat32, 3, 0, CodePage::kWindows1252, u"ABCDEFGHIJKLM"},  // effective 270
      {latin14, kFsExfat, 1, 0, CodePage::kWindows1252, u"ABCDEFGHIJKLM"},  // four-line layout
      {latin14, kFsOtherReadWrite, 1, 0, CodePage::kWindows1252, u"ABCDEFGHIJKLM"},
      {latin14, kFsFat32, 1, 45, CodePage::kWindows1252, u"ABCDEFGHIJK"},  // odd angle: tighter
      {kana7, kFsNtfs, 1, 0, CodePage::kCp932, u"あいうえおか"},
      {kana7, kFsFat32, 1, 0, CodePage::kCp932, u"あいうえお"},
      {kana7, kFsFat32, 1, 90, CodePage::kCp932, u"あいうえおか"},
      {kana7, kFsFat32, 1, 0, CodePage::kWindows1252, kana7},  // seven "?" fit 11 bytes
      {u"ABあいうえおか", kFsNtfs, 1, 0, CodePage::kCp932, u"ABあいうえお"},
      {u"ｱｲｳｴｵｶｷｸｹｺｻｼｽｾｿ", kFsNtfs, 1, 0, CodePage::kCp932, u"ｱｲｳｴｵｶｷｸｹｺｻｼｽ"},
      {u"12:34", kFsFat32, 1, 0, CodePage::kCp932, u"12:34"},
      {u"", kFsFat32, 1, 0, CodePage::kCp932, u""},
      // Fourteen pairs: one byte each, but a line field keeps 13 units, and pairs stay whole.
      {u"😀😀😀😀😀😀😀😀😀😀😀😀😀😀", kFsNtfs, 1, 0, CodePage::kCp932, u"😀😀😀😀😀😀"},
  };
  for (const auto& c : cases) {
    const DriveRecord drive = Drive(c.fileSystemType, c.panelModel);
    EXPECT_EQ(ApplyLineLimit(c.text, drive, Rotated(c.rotation), c.page), c.expected)
        << Utf16ToUtf8(c.text) << " fs " << c.fileSystemType << " model " << c.panelModel
        << " rotation " << c.rotation;
  }
}

TEST(ApplyLineLimit, DefaultVideoRecorderLineFitsTheBar) {
  const DriveRecord drive = Drive(kFsXfs);
  for (Language language : {Language::kEnglish, Language::kJapanese}) {
    const std::u16string text(String(4000, language));
    EXPECT_EQ(ApplyLineLimit(text, drive, Rotated(0), AnsiCodePage(language)), text);
  }
}

class FormatLineItemTest : public ::testing::Test {
 protected:
  FormatLineItemTest() : drive(Drive(kFsNtfs)), config(InitialWorkingConfig()) {
    SetField(drive.driveLetter, u"E:");
    SetField(drive.volumeLabel, u"DATA");
    SetField(drive.friendlyName, u"WDC WD5000AAKS");
    clock = {9, 5, 0, 2026, 12, 6};
    // Slot 0 empty, so list position 0 is sector entry 1.
    PutEntry(1, 1, 100, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06});
    PutEntry(3, 194, 40, {0x28, 0, 0, 0, 0, 0});
    config.smartId0 = 0;
    for (int i = 1; i <= kLineCount; ++i) config.lineSmartIndex(i) = 0;
  }

  void PutEntry(int k, std::uint8_t id, std::uint8_t current, std::array<std::uint8_t, 6> raw) {
    std::uint8_t* e = drive.smartData + 2 + 12 * k;
    e[0] = id;
    e[3] = current;
    for (std::size_t i = 0; i < raw.size(); ++i) e[5 + i] = raw[i];
  }

  std::u16string Format(std::int32_t code, int line = 1) {
    return FormatLineItem(code, line, u"typed", {drive, config, clock, u"alice"});
  }

  DriveRecord drive;
  ScreenConfig config;
  ClockSnapshot clock;
};

TEST_F(FormatLineItemTest, FixedItems) {
  EXPECT_EQ(Format(0), u"typed");
  EXPECT_EQ(Format(1), u"E:DATA");
  EXPECT_EQ(Format(2), u"DATA");
  EXPECT_EQ(Format(3), u"WDC WD5000AAKS");
  EXPECT_EQ(Format(4), u"2026/12/06");
  EXPECT_EQ(Format(5), u"09:05");
  EXPECT_EQ(Format(6), u"alice");
  for (std::int32_t code : {15, 16, 100, -1, INT32_MIN}) EXPECT_EQ(Format(code), u"typed") << code;

  SetField(drive.driveLetter, u"-");
  SetField(drive.volumeLabel, u"");
  EXPECT_EQ(Format(1), u"-");
  SetField(drive.driveLetter, u"/run/media/alice/DATA");
  SetField(drive.volumeLabel, u"DATA");
  EXPECT_EQ(Format(1), u"DATA") << "the short name, not the whole mount point";
  clock = {23, 59, 0, 999, 1, 1};
  EXPECT_EQ(Format(4), u" 999/01/01");
  EXPECT_EQ(Format(5), u"23:59");
}

TEST_F(FormatLineItemTest, SmartItems) {
  EXPECT_EQ(Format(7), u"100");
  EXPECT_EQ(Format(8), u"060504030201");
  // Every pair shows the attribute selected on the S.M.A.R.T. page.
  EXPECT_EQ(Format(13), u"100");
  EXPECT_EQ(Format(14), u"060504030201");
  EXPECT_EQ(FormatSmartValue(8, {drive, config, clock, u""}), u"060504030201");

  drive.fileSystemType = kFsFat32;
  EXPECT_EQ(Format(8), u"0504030201");

  config.smartId0 = 1;
  EXPECT_EQ(Format(7), u"40");
  EXPECT_EQ(Format(8), u"0000000028");
}

TEST_F(FormatLineItemTest, SmartItemsWithoutAnAttributeAreEmpty) {
  config.lineSmartIndex(3) = -1;
  EXPECT_EQ(Format(7, 3), u"");
  EXPECT_EQ(Format(7, 2), u"100");
  EXPECT_EQ(Format(7, 0), u"");  // no such line
  EXPECT_EQ(Format(7, 6), u"");
  config.smartId0 = 2;  // past the end of the two-entry list
  EXPECT_EQ(Format(7), u"");
  config.smartId0 = -1;
  EXPECT_EQ(Format(8), u"");
  config.smartId0 = 0;
  std::fill(std::begin(drive.smartData), std::end(drive.smartData), 0);
  EXPECT_EQ(Format(8), u"");
}

TEST(RebuildSmartLineItems, KeepsOnlyLinesOnTheNewAttribute) {
  ScreenConfig drive = InitialSlotConfig();
  ScreenConfig working = InitialWorkingConfig();
  const std::int32_t codes[] = {7, 10, 8, 4, 15};
  const std::int32_t indexes[] = {2, 2, 1, 2, 2};
  for (int i = 1; i <= kLineCount; ++i) {
    drive.lineType(i) = codes[i - 1];
    drive.lineSmartIndex(i) = indexes[i - 1];
  }
  RebuildSmartLineItems(drive, working, 2);

  const std::int32_t wantCodes[] = {7, 8, 0, 4, 7};
  const std::int32_t wantIndexes[] = {2, 2, -1, -1, 2};
  EXPECT_EQ(working.smartId0, 2);
  for (int i = 1; i <= kLineCount; ++i) {
    EXPECT_EQ(drive.lineType(i), wantCodes[i - 1]) << "line " << i;
    EXPECT_EQ(drive.lineSmartIndex(i), wantIndexes[i - 1]) << "line " << i;
    EXPECT_EQ(working.lineType(i), wantCodes[i - 1]) << "line " << i;
    EXPECT_EQ(working.lineSmartIndex(i), wantIndexes[i - 1]) << "line " << i;
  }
}

TEST(RebuildSmartLineItems, ClearingTheSelectionLeavesNoSmartLine) {
  // A line that never had an attribute must not keep a code the shortened lists no longer hold.
  ScreenConfig drive = InitialSlotConfig();
  ScreenConfig working = InitialWorkingConfig();
  drive.lineType1 = 8;
  drive.lineSmartIndex1 = -1;
  drive.lineType2 = 7;
  drive.lineSmartIndex2 = 0;
  RebuildSmartLineItems(drive, working, -1);
  EXPECT_EQ(working.smartId0, -1);
  EXPECT_EQ(working.lineType1, 0);
  EXPECT_EQ(working.lineType2, 0);
  EXPECT_EQ(working.lineSmartIndex2, -1);
}

TEST(LineItemLabels, FixedOrderThenSelectedPair) {
  const auto plain = LineItemLabels(Language::kEnglish, std::nullopt);
  const std::vector<std::u16string> fixed = {
      u"Input character", u"Name", u"Volume", u"HDD Model", u"Date", u"Time", u"User name"};
  EXPECT_EQ(plain, fixed);
  const auto withPair = LineItemLabels(Language::kEnglish, u"C2");
  ASSERT_EQ(withPair.size(), 9u);
  EXPECT_EQ(withPair[7], u"SMART C2 Current");
  EXPECT_EQ(withPair[8], u"SMART C2 Data");
  // A name holding a printf directive is text, not a format.
  EXPECT_EQ(LineItemLabels(Language::kEnglish, u"%s%n")[7], u"SMART %s%n Current");
  const auto japanese = LineItemLabels(Language::kJapanese, u"C2");
  ASSERT_EQ(japanese.size(), 9u);
  EXPECT_NE(japanese[7].find(u"C2"), std::u16string::npos);
}

}  // namespace
}  // namespace kuv
