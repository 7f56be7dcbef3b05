#include "app/model/lcd_data_file.h"

#include <gtest/gtest.h>

#include "common/utf16.h"

namespace kuv {
namespace {

std::string Utf16Le(std::u16string_view text) {
  std::string bytes;
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

std::span<const std::uint8_t> Bytes(const std::string& bytes) {
  return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
}

ScreenConfig Load(std::u16string_view file, ScreenConfig config = InitialSlotConfig()) {
  ClockSnapshot clock{9, 5, 0, 2026, 12, 8};
  std::string bytes = Utf16Le(file);
  ApplyLcdData(Bytes(bytes), config, clock);
  return config;
}

TEST(LcdDataWriter, WritesTheThirtyFourLinesAsUtf16LeWithLineFeeds) {
  DriveRecord drive{};
  SetField(drive.friendlyName, std::string_view("WDC WD20"));
  SetField(drive.serialNumber, std::string_view("WX1"));
  ScreenConfig config = InitialSlotConfig();
  SetField(config.line1, std::string_view("Hello"));
  SetField(config.line5, std::string_view("日本"));
  config.lineType1 = 0;
  config.lineType3 = 5;
  config.whiteBlackColor = 1;
  config.lineReverse2 = 1;
  config.lineReverse5 = 1;
  config.showHddStatus = 1;
  config.rotation = 90;
  config.warningTemp = 55;
  config.smartId0 = 3;
  config.smartId1 = 9;  // never written
  config.lineSmartIndex4 = 2;
  config.lcdDataType = 2;
  config.bmpRotation = 180;
  config.bmpAreaRatio = 1;
  SetField(config.bmpFileName, std::string_view("/home/u/p.bmp"));

  std::u16string expected =
      u"[MODELNUMBER]WDC WD20\n[SERIALNUMBER]WX1\n"
      u"[DATA1]Hello\n[DATA1TYPE]0\n[DATA2]\n[DATA2TYPE]0\n[DATA3]\n[DATA3TYPE]5\n"
      u"[DATA4]\n[DATA4TYPE]0\n[DATA5]日本\n[DATA5TYPE]0\n"
      u"[WHITEBACKCOLOR]1\n[WBCLINES]18\n[SHOWHDDSTATUS]1\n[ROTATION]90\n[PREVIEWROTATION]0\n"
      u"[SHOWWARNINGTEMP]0\n[WARNINGTEMP]55\n[SMARTID0]3\n"
      u"[EDITLINE1SMARTINDEX]-1\n[EDITLINE2SMARTINDEX]-1\n[EDITLINE3SMARTINDEX]-1\n"
      u"[EDITLINE4SMARTINDEX]2\n[EDITLINE5SMARTINDEX]-1\n"
      u"[LCDDATATYPE]2\n[SHOWDRIVELETTER]0\n[ECCVALUE]3\n[CELLPITCH]1\n[BMPWB]0\n"
      u"[BMPROTATION]180\n[BMPPREVIEWROTATION]0\n[BMPAREARATIO]1\n[BMPFILENAME]/home/u/p.bmp\n";
  std::string bytes = EncodeLcdData(drive, config, 3, 1);
  EXPECT_EQ(bytes, Utf16Le(expected));
  EXPECT_NE(bytes.substr(0, 2), "\xFF\xFE") << "no byte-order mark";
}

TEST(LcdDataWriter, QrValuesTheControlRejectsAreWrittenAsItsStartValues) {
  struct Case {
    std::int32_t ecc, pitch, writtenEcc, writtenPitch;
  };
  for (auto [ecc, pitch, writtenEcc, writtenPitch] :
       {Case{0, 0, 1, 2}, Case{3, 0, 1, 2}, Case{2, 4, 1, 2}, Case{2, -1, 1, 2}, Case{0, 1, 0, 1},
        Case{3, 2, 3, 2}, Case{4, 1, 1, 1}, Case{-1, 2, 1, 2}}) {
    std::string bytes = EncodeLcdData(DriveRecord{}, InitialSlotConfig(), ecc, pitch);
    std::u16string lines = u"[ECCVALUE]" + Utf8ToUtf16(std::to_string(writtenEcc)) +
                           u"\n[CELLPITCH]" + Utf8ToUtf16(std::to_string(writtenPitch)) + u"\n";
    EXPECT_NE(bytes.find(Utf16Le(lines)), std::string::npos) << ecc << "/" << pitch;
  }
}

TEST(LcdDataLoader, IntegerReading) {
  struct Case {
    std::u16string_view text;
    std::int32_t value;
  };
  for (auto [text, value] :
       {Case{u"42", 42}, Case{u"  42", 42}, Case{u"\t-7x", -7}, Case{u"+15", 15}, Case{u"", 0},
        Case{u"abc", 0}, Case{u"- 3", 0}, Case{u"12 34", 12}, Case{u"99999999999", 2147483647},
        Case{u"-99999999999", -2147483647 - 1}, Case{u"0x10", 0}}) {
    EXPECT_EQ(ParseLcdInt(text), value) << Utf16ToUtf8(text);
  }
}

TEST(LcdDataLoader, FlagsAreOneWhenTheValueHoldsAOneAnywhere) {
  struct Case {
    std::u16string_view value;
    std::uint8_t flag;
  };
  for (auto [value, flag] : {Case{u"10", 1}, Case{u"0", 0}, Case{u"", 0}, Case{u"x1", 1},
                             Case{u"2", 0}, Case{u"-1", 1}}) {
    std::u16string file = u"[SHOWHDDSTATUS]" + std::u16string(value) + u"\n[WHITEBACKCOLOR]" +
                          std::u16string(value) + u"\n";
    ScreenConfig config = Load(file);
    EXPECT_EQ(config.showHddStatus, flag) << Utf16ToUtf8(value);
    EXPECT_EQ(config.whiteBlackColor, flag) << Utf16ToUtf8(value);
  }
  // The bitmap flags read the number instead.
  ScreenConfig config = Load(u"[BMPWB]2\n[BMPPREVIEWROTATION]0010\n");
  EXPECT_EQ(config.bmpWB, 1);
  EXPECT_EQ(config.bmpPreviewRotation, 1);
  config = Load(u"[BMPWB]x1\n");
  EXPECT_EQ(config.bmpWB, 0);
}

TEST(LcdDataLoader, LineMaskOnlySetsReverseFlags) {
  ScreenConfig before = InitialSlotConfig();
  before.lineReverse2 = 1;
  ScreenConfig config = Load(u"[WBCLINES]5\n", before);
  EXPECT_EQ(config.lineReverse1, 1);
  EXPECT_EQ(config.lineReverse2, 1) << "a clear bit leaves the flag";
  EXPECT_EQ(config.lineReverse3, 1);
  EXPECT_EQ(config.lineReverse4, 0);
  EXPECT_EQ(config.lineReverse5, 0);
}

TEST(LcdDataLoader, TimeAndDateLinesShowTheClock) {
  ScreenConfig config =
      Load(u"[ROTATION]2\n[DATA3]old text\n[DATA3TYPE]5\n[DATA4]x\n[DATA4TYPE]4\n");
  EXPECT_EQ(config.rotation, 2);
  EXPECT_EQ(FieldUtf8(config.line3), "09:05");
  EXPECT_EQ(FieldUtf8(config.line4), "2026/12/08");
  // The type applies when its line comes; a later text line wins again.
  config = Load(u"[DATA1TYPE]5\n[DATA1]later\n");
  EXPECT_EQ(FieldUtf8(config.line1), "later");
}

TEST(LcdDataLoader, LaterLinesOverrideAndStrayLinesAreSkipped) {
  ScreenConfig before = InitialSlotConfig();
  before.cellPitch = 7;
  ScreenConfig config = Load(
      u"[ROTATION]90\nno bracket at all\n[UNKNOWN]5\n[rotation]180\n x[ROTATION]180\n"
      u"[SMARTID2]4\n[MODELNUMBER]ignored\n[SHOWDRIVELETTER]1\n\n[ROTATION]270",
      before);
  EXPECT_EQ(config.rotation, 270) << "the last line has no LF and still counts";
  EXPECT_EQ(config.smartId2, 4) << "SMARTID1..3 are read though never written";
  EXPECT_EQ(config.showDriveLetter, 0);
  EXPECT_EQ(config.cellPitch, 7) << "fields the file does not name keep their values";
}

TEST(LcdDataLoader, OverlongValuesAreCutToTheirField) {
  std::u16string longText(5000, u'W');
  ScreenConfig config =
      Load(u"[DATA1]" + longText + u"\n[BMPFILENAME]" + longText + u"\n[DATA2]]]]\n");
  EXPECT_EQ(FieldView(config.line1).size(), 13u);
  EXPECT_EQ(config.line1[13], u'\0');
  EXPECT_EQ(FieldView(config.bmpFileName).size(), 255u);
  EXPECT_EQ(FieldUtf8(config.line2), "]]]") << "the key ends at the first bracket";
}

TEST(LcdDataLoader, ByteOrderMarkAndCarriageReturnsAreNotData) {
  struct Case {
    std::u16string_view file;
    const char* what;
  };
  for (auto [file, what] : {
           Case{u"\uFEFF[DATA1]Hi\r\n[DATA2]There\r\n[ROTATION]90\r\n", "BOM and CR LF"},
           Case{u"[DATA1]Hi\r\n[DATA2]There\n[ROTATION]90\r", "mixed, CR at the end"},
           Case{u"\uFEFF[DATA1]Hi\n[DATA2]There\n[ROTATION]90", "BOM only"},
       }) {
    ScreenConfig config = Load(file);
    EXPECT_EQ(FieldUtf8(config.line1), "Hi") << what;
    EXPECT_EQ(FieldUtf8(config.line2), "There") << what;
    EXPECT_EQ(config.rotation, 90) << what;
  }
  // Only one CR per line ends it; a BOM later in the file is text.
  ScreenConfig config = Load(u"[DATA1]a\r\r\n[DATA2]\uFEFFb\n\uFEFF[DATA3]c\n");
  EXPECT_EQ(FieldView(config.line1), u"a\r");
  EXPECT_EQ(FieldView(config.line2), u"\uFEFFb");
  EXPECT_EQ(FieldUtf8(config.line3), "");
}

TEST(LcdDataLoader, OddAndBrokenInputIsHarmless) {
  ScreenConfig config = Load(u"[ROTATION]90\n");
  std::string bytes = Utf16Le(std::u16string(u"[ROTATION]180\n[DA\0TA1]x\n", 23));
  bytes += '\x31';  // a dangling odd byte
  ApplyLcdData(Bytes(bytes), config, ClockSnapshot{});
  EXPECT_EQ(config.rotation, 180);
  EXPECT_EQ(FieldUtf8(config.line1), "");
  ApplyLcdData({}, config, ClockSnapshot{});
  EXPECT_EQ(config.rotation, 180);
}

}  // namespace
}  // namespace kuv
