#include "app/model/qr_data_file.h"

#include <gtest/gtest.h>

namespace kuv {
namespace {

TEST(QrDataFile, WritesCrLfAndNoTerminator) {
  EXPECT_EQ(EncodeQrData(u"line one\r\nline two", CodePage::kWindows1252), "line one\r\nline two");
  EXPECT_EQ(EncodeQrData(u"a\nb\r\r\n", CodePage::kWindows1252), "a\r\nb\r\n");
  EXPECT_EQ(EncodeQrData(u"", CodePage::kWindows1252), "");
}

TEST(QrDataFile, UsesTheAnsiCodePage) {
  EXPECT_EQ(EncodeQrData(u"café", CodePage::kWindows1252), "caf\xE9");
  EXPECT_EQ(EncodeQrData(u"日本", CodePage::kCp932), "\x93\xFA\x96\x7B");
  // Characters the page cannot hold become one "?" each, surrogate pairs included.
  EXPECT_EQ(EncodeQrData(u"日x😀", CodePage::kWindows1252), "?x?");
  EXPECT_EQ(DecodeQrData("caf\xE9", CodePage::kWindows1252), u"café");
  EXPECT_EQ(DecodeQrData("\x93\xFA\x96\x7B", CodePage::kCp932), u"日本");
  EXPECT_EQ(DecodeQrData("a\x81", CodePage::kCp932), u"a\uFFFD") << "a lead byte cut off";
}

TEST(QrDataFile, JoinsLinesWithCrLf) {
  struct Case {
    std::string_view file;
    std::u16string_view text;
  };
  for (auto [file, text] :
       {Case{"a\r\nb\r\n", u"a\r\nb"}, Case{"a\nb", u"a\r\nb"}, Case{"a\r\n\r\nb", u"a\r\n\r\nb"},
        Case{"", u""}, Case{"\n", u""}, Case{"x\ry", u"x\ry"}}) {
    EXPECT_EQ(DecodeQrData(file, CodePage::kWindows1252), text) << file;
  }
}

TEST(QrDataFile, LongFilesAreCutToTheField) {
  EXPECT_EQ(DecodeQrData(std::string(5000, 'q'), CodePage::kWindows1252).size(), kQrTextLimit);
  EXPECT_EQ(DecodeQrData(std::string(5000, '\n'), CodePage::kWindows1252).size(), kQrTextLimit);
}

}  // namespace
}  // namespace kuv
