#include "app/model/text_page_model.h"

#include <gtest/gtest.h>

#include "app/model/test_fakes.h"
#include "common/utf16.h"

namespace kuv {
namespace {

// A table with one drive selected and the page loaded for it, as the window leaves it.
struct PageRig {
  DriveTable table;
  TextPageModel page{table, Language::kEnglish};

  explicit PageRig(std::int32_t fsType, std::int32_t state = kBridgePlain,
                   ScreenConfig config = InitialWorkingConfig()) {
    table.driveRecords[0] = testing::Drive(5, state, 1, fsType);
    table.driveRecords[0].totalMB = 1907729;
    table.driveRecords[0].freeMB = 953864;
    table.driveCount = 1;
    table.selectedDrive = 0;
    table.clock = ClockSnapshot{14, 5, 0, 2026, 12, 8};
    table.screenConfigs[0] = config;
    table.workingConfig = config;
    page.Initialise();
    page.LoadTextPage(5);
  }
  const LineControls& line(int i) const { return page.view.lines[static_cast<std::size_t>(i - 1)]; }
  std::string working(int i) const { return Utf16ToUtf8(FieldView(table.workingConfig.line(i))); }
};

TEST(TextPageItems, DateDisablesTheEditAndFreeTextKeepsItsValue) {
  PageRig rig(kFsNtfs);
  rig.page.LineEdited(1, u"Archive");
  rig.page.LineItemChosen(1, 4);  // "Date"
  EXPECT_FALSE(rig.line(1).editEnabled);
  EXPECT_NE(rig.working(1).find("2026"), std::string::npos) << rig.working(1);
  EXPECT_EQ(Utf16ToUtf8(rig.line(1).text), rig.working(1));
  const std::string date = rig.working(1);
  rig.page.LineItemChosen(1, 0);  // "Input character"
  EXPECT_TRUE(rig.line(1).editEnabled);
  EXPECT_EQ(rig.working(1), date);
}

// The numbers beside the preview are placed at PreviewLineMiddle; it must stay the middle of the
// ink the renderer draws for that line, in both layouts.
TEST(TextPagePreview, LineMiddlesAreWhereEachLinesTextIsDrawn) {
  struct Case {
    std::int32_t fsType;
    int lines;
    int textRows;  // rows above the graph or the capacity text hold nothing but the lines
  };
  for (const Case& c : {Case{kFsNtfs, 4, 65}, Case{kFsXfs, 5, 79}}) {
    for (int line = 1; line <= c.lines; ++line) {
      PageRig rig(c.fsType);
      for (int i = 1; i <= kLineCount; ++i) {
        rig.page.LineItemChosen(i, 0);
        rig.page.LineEdited(i, i == line ? u"HEHEH" : u"");
      }
      const std::optional<Picture> preview = rig.page.Preview();
      ASSERT_TRUE(preview);
      int top = -1;
      int bottom = -1;
      for (int y = 0; y < c.textRows; ++y) {
        for (int x = 0; x < 80; ++x) {
          if (preview->at(x, y) != kBlack) continue;
          if (top < 0) top = y;
          bottom = y;
        }
      }
      ASSERT_GE(top, 0) << "line " << line << " drew nothing";
      EXPECT_NEAR((top + bottom) / 2.0, PreviewLineMiddle(line), 1.5)
          << "file system " << c.fsType << ", line " << line << ": ink in rows " << top << " to "
          << bottom;
    }
  }
}

TEST(TextPageItems, ListsFollowTheDrivesFileSystem) {
  PageRig rig(kFsXfs);
  EXPECT_EQ(rig.line(1).items.size(), 1u);
  rig.table.driveRecords[0] = testing::Drive(5, kBridgePlain, 1, kFsNtfs);
  rig.page.LoadTextPage(5);
  for (int i = 1; i <= kLineCount; ++i) {
    ASSERT_EQ(rig.line(i).items.size(), 7u);
    EXPECT_EQ(Utf16ToUtf8(rig.line(i).items[0]), "Input character");
  }
}

// With attribute C2 (list position 1) checked on the S.M.A.R.T. page, both items of its pair tie
// the line to that attribute, so the minute refresh and a later check mark keep following it.
TEST(TextPageItems, SmartItemsTakeTheCheckedAttributesPosition) {
  struct Case {
    int position;
    const char* text;
  };
  const Case cases[] = {{7, "110"}, {8, "00000000002D"}};
  for (const Case& c : cases) {
    PageRig rig(kFsNtfs);
    std::uint8_t* data = rig.table.driveRecords[0].smartData;
    data[2] = 0x01;
    data[2 + 3] = 100;
    data[14] = 0xC2;
    data[14 + 3] = 110;
    data[14 + 5] = 0x2D;
    rig.table.workingConfig.smartId0 = 1;
    for (auto& line : rig.page.view.lines) line.items = LineItemLabels(Language::kEnglish, u"C2");
    ASSERT_EQ(rig.table.workingConfig.lineSmartIndex2, -1);

    rig.page.LineItemChosen(2, c.position);
    EXPECT_EQ(rig.table.workingConfig.lineType2, c.position);
    EXPECT_EQ(rig.table.workingConfig.lineSmartIndex2, 1) << "position " << c.position;
    EXPECT_EQ(rig.working(2), c.text);
    EXPECT_FALSE(rig.line(2).editEnabled);
  }
}

// The item lists and the layout by file system: recorder disks offer free text only, and every
// drive whose settings live on its volume gets the four-line layout unless it is FAT32.
TEST(TextPageItems, ListsAndLayoutByFileSystem) {
  struct Case {
    std::int32_t fsType;
    std::size_t items;
    bool line5;  // the bar layout's fifth line
  };
  const Case cases[] = {
      {kFsNtfs, 7, false}, {kFsFat32, 7, true},  {kFsFat, 7, false},           {kFsXfs, 1, true},
      {kFsExt, 1, true},   {kFsExfat, 7, false}, {kFsOtherReadWrite, 7, false}};
  for (const Case& c : cases) {
    PageRig rig(c.fsType);
    EXPECT_EQ(rig.line(1).items.size(), c.items) << c.fsType;
    EXPECT_EQ(rig.line(5).visible, c.line5) << c.fsType;
    EXPECT_EQ(rig.page.view.rowLabel5Visible, c.line5) << c.fsType;
  }
}

TEST(TextPageItems, OutOfRangePositionsAreIgnored) {
  PageRig rig(kFsNtfs);
  for (int position : {-1, 7, 99}) {
    rig.page.LineItemChosen(2, position);
    EXPECT_EQ(rig.table.workingConfig.lineType2, 0) << position;
  }
}

TEST(TextPageReverse, AllBoxFollowsEveryLineButOneLineLeavesTheWhole) {
  PageRig rig(kFsFat32);
  rig.page.ReverseAllClicked(true);
  for (int i = 1; i <= kLineCount; ++i) {
    EXPECT_TRUE(rig.line(i).reverse) << i;
    EXPECT_EQ(rig.table.workingConfig.lineReverse(i), 1) << i;
  }
  rig.page.LineReverseClicked(3, false);
  EXPECT_EQ(rig.table.workingConfig.lineReverse3, 0);
  EXPECT_EQ(rig.table.workingConfig.whiteBlackColor, 1);
  EXPECT_TRUE(rig.page.page.reverse);
}

// Line 5 of a bar-layout drive with the rotation, and "Rotate Preview" only when turned.
TEST(TextPageRotation, LineFiveAndRotatePreviewFollowTheRotation) {
  struct Case {
    int position;
    bool line5Usable;
    bool rowLabel5;
    bool rotatePreviewEnabled;
  };
  const Case cases[] = {{1, false, false, true},
                        {2, true, true, true},
                        {3, false, false, true},
                        {0, true, true, false}};
  PageRig rig(kFsFat32);
  for (const Case& c : cases) {
    rig.page.RotationChosen(c.position);
    EXPECT_EQ(rig.line(5).usable, c.line5Usable) << c.position;
    EXPECT_TRUE(rig.line(5).visible) << c.position;
    EXPECT_EQ(rig.page.view.rowLabel5Visible, c.rowLabel5) << c.position;
    EXPECT_EQ(rig.page.view.rotatePreviewEnabled, c.rotatePreviewEnabled) << c.position;
    EXPECT_EQ(rig.table.workingConfig.rotation, RotationOfIndex(c.position));
  }
}

TEST(TextPageRotation, FourLineDriveHidesLineFiveAndClearsItsReverse) {
  ScreenConfig config = InitialWorkingConfig();
  config.lineReverse5 = 1;
  PageRig rig(kFsNtfs, kBridgePlain, config);
  EXPECT_FALSE(rig.line(5).visible);
  EXPECT_FALSE(rig.page.view.rowLabel5Visible);
  EXPECT_EQ(rig.table.workingConfig.lineReverse5, 0);
}

TEST(TextPageRotation, TurningBackToNormalCutsALongLine) {
  PageRig rig(kFsFat32);
  rig.page.RotationChosen(1);
  rig.page.LineEdited(1, u"ABCDEFGHIJKLM");
  const std::string turned = rig.working(1);
  rig.page.RotationChosen(0);
  EXPECT_LT(rig.working(1).size(), turned.size());
  EXPECT_EQ(rig.working(1), turned.substr(0, rig.working(1).size()));
}

TEST(TextPageLocked, LockedDriveEmptiesAndDisablesTheLines) {
  ScreenConfig config = InitialWorkingConfig();
  SetField(config.line1, std::string_view("Secret"));
  PageRig rig(kFsNtfs, kBridgeLocked, config);
  EXPECT_FALSE(rig.page.view.controlsEnabled);
  EXPECT_FALSE(rig.page.view.numberLabelsEnabled);
  for (int i = 1; i <= kLineCount; ++i) {
    EXPECT_TRUE(rig.line(i).text.empty()) << i;
    EXPECT_FALSE(rig.line(i).editEnabled) << i;
  }
}

TEST(TextPageTooltips, PreviewZones) {
  struct Case {
    int dx, dy;
    int tip;
  };
  const Case cases[] = {{10, 10, kPreviewTip}, {10, 70, kGraphTip},   {10, 85, kCapacityTip},
                        {10, 80, kGraphTip},   {98, 85, kPreviewTip}, {50, 97, kCapacityTip},
                        {10, 68, kPreviewTip}};
  PageRig rig(kFsNtfs);
  for (const Case& c : cases) {
    EXPECT_EQ(rig.page.PreviewTooltip(c.dx, c.dy, 98, 98), c.tip) << c.dx << "," << c.dy;
  }
  PageRig bar(kFsFat32);
  EXPECT_EQ(bar.page.PreviewTooltip(10, 85, 98, 98), kPreviewTip);
}

TEST(TextPageStatus, ShowHddStatusReachesTheWorkingCopy) {
  PageRig rig(kFsNtfs);
  rig.page.ShowHddStatusClicked(true);
  EXPECT_EQ(rig.table.workingConfig.showHddStatus, 1);
  rig.page.RotatePreviewClicked(true);
  EXPECT_EQ(rig.table.workingConfig.previewRotation, 1);
  EXPECT_TRUE(rig.page.view.numberLabelsEnabled) << "rotation Normal keeps the labels";
}

// The preview is drawn again when what it shows changed, and only then: the window asks for it at
// every refresh.
TEST(TextPagePreview, IsDrawnAgainOnlyWhenItsPictureCanHaveChanged) {
  struct Case {
    const char* name;
    void (*change)(PageRig&);
    bool drawn;
  };
  const Case cases[] = {
      {"nothing", [](PageRig&) {}, false},
      {"the clock alone", [](PageRig& r) { r.table.clock.minute = 6; }, false},
      {"a line typed", [](PageRig& r) { r.page.LineEdited(1, u"Shelf 4"); }, true},
      {"reverse", [](PageRig& r) { r.page.ReverseAllClicked(true); }, true},
      {"rotation", [](PageRig& r) { r.page.RotationChosen(2); }, true},
      {"free space", [](PageRig& r) { r.table.driveRecords[0].freeMB -= 1024; }, true},
      {"health", [](PageRig& r) { r.table.driveRecords[0].health = 2; }, true},
      {"another drive", [](PageRig& r) { r.table.selectedDrive = 1; }, true},
      {"the S.M.A.R.T. tab", [](PageRig& r) { r.table.currentTab = 3; }, true},
  };
  for (const Case& c : cases) {
    PageRig rig(kFsNtfs);
    rig.table.driveRecords[1] = rig.table.driveRecords[0];
    rig.table.driveCount = 2;
    const std::optional<Picture> first = rig.page.Preview();
    const int redraws = rig.page.redraws;
    ASSERT_EQ(rig.page.Preview(), first) << c.name;
    ASSERT_EQ(rig.page.redraws, redraws) << c.name;
    c.change(rig);
    rig.page.Preview();
    EXPECT_EQ(rig.page.redraws, redraws + (c.drawn ? 1 : 0)) << c.name;
  }
}

}  // namespace
}  // namespace kuv
