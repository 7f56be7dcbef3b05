#include <gtest/gtest.h>

#include "common/drive_table.h"
#include "common/utf16.h"

namespace kuv {
namespace {

TEST(DriveTable, InitialValues) {
  DriveTable table;
  EXPECT_EQ(table.driveCount, 0);
  EXPECT_EQ(table.selectedDrive, -1);
  for (const auto& record : table.driveRecords) {
    EXPECT_EQ(record.driveNumber, kEmptyDriveNumber);
    EXPECT_EQ(record.totalSectors, 0u);
  }
  for (const auto& config : table.screenConfigs) {
    for (int k = 0; k < 4; ++k) EXPECT_EQ(config.smartId(k), -1);
    for (int i = 1; i <= kLineCount; ++i) EXPECT_EQ(config.lineSmartIndex(i), -1);
    EXPECT_EQ(config.lcdDataType, 0);
  }
  EXPECT_EQ(table.workingConfig.smartId0, -1);
  EXPECT_EQ(table.workingConfig.smartId1, 0);
  EXPECT_EQ(table.workingConfig.smartId3, 0);
  for (int i = 1; i <= kLineCount; ++i) EXPECT_EQ(table.workingConfig.lineSmartIndex(i), -1);
  for (auto byte : table.raster) EXPECT_EQ(byte, 0);
}

TEST(DriveTable, SlotLookupAndEmptying) {
  DriveTable table;
  table.driveRecords[3].driveNumber = 7;
  table.driveRecords[3].totalMB = 99;
  EXPECT_EQ(table.SlotOfDrive(7), 3);
  EXPECT_EQ(table.SlotOfDrive(8), -1);
  table.EmptySlot(3);
  EXPECT_EQ(table.driveRecords[3].driveNumber, kEmptyDriveNumber);
  EXPECT_EQ(table.driveRecords[3].totalMB, 0u);
}

TEST(ScreenConfig, TabAndDataTypeMapping) {
  struct Case {
    int tab, dataType;
  };
  for (auto [tab, dataType] : {Case{0, 0}, Case{1, 2}, Case{2, 1}, Case{3, 0}}) {
    EXPECT_EQ(LcdDataTypeForTab(tab), dataType) << "tab " << tab;
  }
  for (auto [dataType, tab] : {Case{1, 2}, Case{2, 1}, Case{0, 0}, Case{7, 0}, Case{-1, 0}}) {
    EXPECT_EQ(TabForLcdDataType(dataType), tab) << "data type " << dataType;
  }
}

TEST(ScreenConfig, PerLineAccessorsReachTheNamedFields) {
  ScreenConfig config{};
  config.lineType(3) = 5;
  config.lineReverse(5) = 1;
  config.lineSmartIndex(1) = 2;
  SetField(config.line(4), std::u16string_view(u"abc"));
  EXPECT_EQ(config.lineType3, 5);
  EXPECT_EQ(config.lineReverse5, 1);
  EXPECT_EQ(config.lineSmartIndex1, 2);
  EXPECT_EQ(FieldView(config.line4), u"abc");
}

TEST(Utf16Field, TruncatesAndAlwaysKeepsTheNul) {
  char16_t field[5];
  std::fill(std::begin(field), std::end(field), u'x');
  SetField(field, std::u16string_view(u"abcdefgh"));
  EXPECT_EQ(FieldView(field), u"abcd");
  EXPECT_EQ(field[4], u'\0');
  SetField(field, std::u16string_view(u"ab"));
  EXPECT_EQ(field[2], u'\0');
  EXPECT_EQ(field[3], u'\0');  // the rest is cleared, not left over from before
  EXPECT_TRUE(FieldTerminated(field));
}

TEST(Utf16Field, ViewOfAnUnterminatedFieldStopsAtItsEnd) {
  char16_t field[3] = {u'a', u'b', u'c'};
  EXPECT_FALSE(FieldTerminated(field));
  EXPECT_EQ(FieldView(field), u"abc");
}

TEST(Utf16, RoundTripsAndReplacesMalformedInput) {
  struct Case {
    std::string utf8;
    std::u16string utf16;
  };
  const Case cases[] = {
      {"E:DATA", u"E:DATA"},
      {"\xEF\xBC\xAD\xEF\xBC\xB3 \xE3\x82\xB4\xE3\x82\xB7\xE3\x83\x83\xE3\x82\xAF", u"ＭＳ ゴシック"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16);
    EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8);
  }
  EXPECT_EQ(Utf8ToUtf16("a\xC3"), u"a\uFFFD");           // cut off sequence
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");   // overlong
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // surrogate
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace kuv
