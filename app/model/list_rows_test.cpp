#include "app/model/list_rows.h"

#include <gtest/gtest.h>

#include "common/utf16.h"

namespace kuv {
namespace {

TEST(ListRows, SizeText) {
  struct Case {
    std::uint32_t mb;
    const char* text;
  };
  for (auto [mb, text] :
       {Case{0, "0.00GB"}, Case{1024, "1.00GB"}, Case{1907729, "1863.01GB"},
        Case{9999998, "9765.62GB"}, Case{9999999, "9.53TB"}, Case{0xFFFFFFFF, "4095.99TB"}}) {
    EXPECT_EQ(Utf16ToUtf8(ListSizeText(mb)), text) << mb;
  }
}

TEST(ListRows, ColumnsOfADrive) {
  DriveRecord drive = EmptyDriveRecord();
  SetField(drive.driveLetter, std::string_view("/media/tray"));
  SetField(drive.volumeLabel, std::string_view("DATA"));
  SetField(drive.friendlyName, std::string_view("WDC WD20"));
  drive.panelModel = 0;
  drive.fileSystemType = kFsXfs;
  ListRow row = ListRowTexts(drive, Language::kEnglish);
  EXPECT_EQ(Utf16ToUtf8(row[0]), "tray DATA") << "the short name; the mount point is the tooltip";
  EXPECT_EQ(Utf16ToUtf8(row[1]), "KV-R100");
  EXPECT_EQ(Utf16ToUtf8(row[2]), "WDC WD20");
  EXPECT_EQ(Utf16ToUtf8(row[3]), "-") << "no sizes known";
  EXPECT_EQ(Utf16ToUtf8(row[5]), "XFS") << "the type names an empty file system";
  drive.panelModel = 9;
  drive.totalMB = 2048;
  SetField(drive.fileSystem, std::string_view("NTFS"));
  row = ListRowTexts(drive, Language::kEnglish);
  EXPECT_EQ(Utf16ToUtf8(row[1]), "LCD Device");
  EXPECT_EQ(Utf16ToUtf8(row[3]), "0.00GB");
  EXPECT_EQ(Utf16ToUtf8(row[4]), "2.00GB");
  EXPECT_EQ(Utf16ToUtf8(row[5]), "NTFS");
}

// Wider than its texts, the list shares the room in proportion and ends at its edge; narrower,
// every column keeps what its texts need.
TEST(ListRows, SpreadColumnWidths) {
  struct Case {
    std::vector<int> needed;
    int available;
    std::vector<int> want;
  };
  const Case cases[] = {
      {{100, 50, 50}, 400, {200, 100, 100}},
      {{100, 50, 50}, 201, {100, 50, 51}},
      {{100, 50, 50}, 200, {100, 50, 50}},
      {{100, 50, 50}, 120, {100, 50, 50}},
      {{90, 90, 120}, 301, {90, 90, 121}},
      {{0, 0}, 100, {0, 0}},
      {{}, 100, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SpreadColumnWidths(c.needed, c.available), c.want) << c.available;
  }
}

}  // namespace
}  // namespace kuv
