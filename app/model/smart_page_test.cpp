#include "app/model/smart_page.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/model/test_fakes.h"

namespace kuv {
namespace {

using testing::Drive;
using testing::Rig;

struct Attr {
  std::uint8_t id, current, threshold;
  std::uint64_t raw;
};

// Puts the attributes into consecutive entries of the record's two sectors.
void PutAttributes(DriveRecord& drive, std::initializer_list<Attr> attrs) {
  std::fill(std::begin(drive.smartData), std::end(drive.smartData), 0);
  std::fill(std::begin(drive.smartThresholds), std::end(drive.smartThresholds), 0);
  std::size_t at = 2;
  for (const Attr& a : attrs) {
    drive.smartData[at] = a.id;
    drive.smartData[at + 3] = a.current;
    drive.smartData[at + 4] = a.current;
    for (int b = 0; b < 6; ++b) drive.smartData[at + 5 + b] = (a.raw >> (8 * b)) & 0xFF;
    drive.smartThresholds[at] = a.id;
    drive.smartThresholds[at + 1] = a.threshold;
    at += 12;
  }
}

struct PageRig : Rig {
  SmartPage page{model, profile, hooks, Language::kEnglish};
  explicit PageRig(DriveRecord drive) {
    model.table.driveRecords[0] = drive;
    model.table.driveCount = 1;
    model.table.selectedDrive = 0;
    model.table.workingConfig.smartId0 = -1;
  }
};

DriveRecord FiveAttributes(std::int32_t fileSystemType = kFsNtfs) {
  DriveRecord drive = Drive(3, kBridgePlain, 1, fileSystemType);
  PutAttributes(drive, {{0x01, 100, 51, 0},
                        {0x05, 100, 36, 3},
                        {0x09, 90, 0, 12345},
                        {0xC2, 110, 0, 0x2D},
                        {0xC5, 20, 30, 0}});
  return drive;
}

TEST(SmartPage, RowsTextsAndColoursFollowTheirClass) {
  PageRig rig(FiveAttributes());
  EXPECT_EQ(rig.page.ShowDrive(3), kHealthBad);
  const SmartPageView& v = rig.page.view();
  ASSERT_EQ(v.rows.size(), 5u);
  EXPECT_EQ(v.rows[1].texts,
            (std::array<std::u16string, 7>{u"", u"05", u"Reallocated Sectors Count", u"100", u"100",
                                           u"36", u"000000000003"}));
  struct Case {
    std::size_t row;
    Rgb background;
  };
  for (auto [row, background] : {Case{0, {255, 255, 255}}, Case{1, {255, 255, 0}},
                                 Case{2, {255, 255, 255}}, Case{4, {255, 0, 0}}}) {
    EXPECT_EQ(v.rows[row].background, background) << "row " << row;
  }
  EXPECT_EQ(v.healthText, u"Bad");
  EXPECT_EQ(v.healthColour, (Rgb{255, 0, 0}));
  EXPECT_EQ(v.temperatureText, u"45°C");
  EXPECT_EQ(rig.model.table.driveRecords[0].temperature, 45) << "written back to the record";
}

TEST(SmartPage, DriveWithoutDataShowsGoodAndNoTemperature) {
  PageRig rig(Drive(3, kBridgePlain));
  rig.page.SetWarningControls(50, true);
  EXPECT_EQ(rig.page.ShowDrive(3), kHealthGood);
  const SmartPageView& v = rig.page.view();
  EXPECT_TRUE(v.rows.empty());
  EXPECT_EQ(v.healthText, u"Good");
  EXPECT_EQ(v.healthColour, (Rgb{0, 192, 255}));
  EXPECT_EQ(v.temperatureText, u"-");
  EXPECT_FALSE(v.temperatureEnabled);
  EXPECT_FALSE(v.warningEnabled);
  EXPECT_FALSE(v.warningListEnabled) << "a checked warning cannot be set without a temperature";
  EXPECT_TRUE(v.healthEnabled);
  EXPECT_TRUE(v.listEnabled);
}

TEST(SmartPage, TemperatureColourAgainstTheWarningTemperature) {
  struct Case {
    std::int32_t stored;
    std::uint64_t raw;
    std::int32_t shownAs;
    Rgb colour;
  };
  const Case cases[] = {
      {45, 45, 45, {255, 0, 0}},    // equal to the limit: red
      {46, 45, 46, {0, 192, 255}},  // below: light blue
      {44, 47, 50, {0, 192, 255}},  // a stored 44 is shown and judged as 50
      {0, 50, 50, {255, 0, 0}},     // a zeroed record too
      {65, 64, 65, {0, 192, 255}},  // the list's last entry is a limit of its own
      {65, 65, 65, {255, 0, 0}},    //
      {70, 66, 50, {255, 0, 0}},    // beyond the list's last entry
  };
  for (const Case& c : cases) {
    DriveRecord drive = Drive(3, kBridgePlain);
    PutAttributes(drive, {{0xC2, 100, 0, c.raw}});
    PageRig rig(drive);
    rig.page.SetWarningControls(c.stored, true);
    rig.page.ShowDrive(3);
    EXPECT_EQ(rig.page.pageWarningTemp(), c.shownAs) << c.stored;
    EXPECT_EQ(rig.page.view().warningIndex, c.shownAs - 45) << c.stored;
    EXPECT_EQ(rig.page.view().temperatureColour, c.colour) << c.stored;
    EXPECT_TRUE(rig.page.view().warningListEnabled);
  }
}

TEST(SmartPage, AtMostOneCheckedRowAndTheLineListsFollowIt) {
  PageRig rig(FiveAttributes());
  rig.page.ShowDrive(3);
  rig.page.RowCheckChanged(1, true);
  rig.page.RowCheckChanged(3, true);
  const SmartPageView& v = rig.page.view();
  EXPECT_FALSE(v.rows[1].checked) << "the older check mark is cleared";
  EXPECT_TRUE(v.rows[3].checked);
  EXPECT_EQ(rig.page.checkedRows(), std::vector<int>{3});
  EXPECT_EQ(rig.model.table.workingConfig.smartId0, 3);
  const auto& labels = rig.page.lineItemLabels();
  ASSERT_EQ(labels.size(), 9u);
  EXPECT_EQ(labels[7], u"SMART C2 Current");
  EXPECT_EQ(labels[8], u"SMART C2 Data");

  rig.page.RowCheckChanged(3, false);
  EXPECT_TRUE(rig.page.checkedRows().empty());
  EXPECT_EQ(rig.model.table.workingConfig.smartId0, -1);
  EXPECT_EQ(rig.page.lineItemLabels().size(), 7u);
}

TEST(SmartPage, CheckingRebuildsTheLinesOfTheSelectedDrive) {
  PageRig rig(FiveAttributes());
  ScreenConfig& config = rig.model.table.screenConfigs[0];
  struct Line {
    std::int32_t type, index, wantType, wantIndex;
  };
  const Line lines[5] = {
      {9, 3, 7, 3},    // a "Current" item of the checked attribute moves onto the one pair
      {10, 1, 0, -1},  // an item of another attribute becomes free text
      {8, 3, 8, 3},    // a "Data" item of the checked attribute stays a "Data" item
      {4, -1, 4, -1},  // the date is left alone
      {7, -1, 0, -1},  // an item that followed nothing
  };
  for (int i = 1; i <= 5; ++i) {
    config.lineType(i) = lines[i - 1].type;
    config.lineSmartIndex(i) = lines[i - 1].index;
    SetField(rig.model.table.workingConfig.line(i), std::string_view("old"));
  }
  rig.page.ShowDrive(3);
  rig.page.RowCheckChanged(3, true);
  const ScreenConfig& working = rig.model.table.workingConfig;
  for (int i = 1; i <= 5; ++i) {
    EXPECT_EQ(config.lineType(i), lines[i - 1].wantType) << "line " << i;
    EXPECT_EQ(working.lineType(i), lines[i - 1].wantType) << "line " << i;
    EXPECT_EQ(working.lineSmartIndex(i), lines[i - 1].wantIndex) << "line " << i;
  }
  EXPECT_EQ(FieldUtf8(working.line1), "110") << "the current value of attribute C2";
  EXPECT_EQ(FieldUtf8(working.line3), "00000000002D");
  EXPECT_EQ(FieldUtf8(working.line2), "old") << "free text keeps its text";
}

TEST(SmartPage, CheckMarksSurviveARefreshButNotAnotherDrive) {
  DriveRecord other = FiveAttributes();
  other.driveNumber = 5;
  PageRig rig(FiveAttributes());
  rig.model.table.driveRecords[1] = other;
  rig.page.ShowDrive(3);
  rig.page.RowCheckChanged(2, true);
  rig.page.ShowDrive(3);
  EXPECT_TRUE(rig.page.view().rows[2].checked);

  // The working copy of drive 5 remembers no attribute: nothing of drive 3's mark carries over.
  rig.model.table.workingConfig.smartId0 = -1;
  rig.page.ShowDrive(5);
  for (const SmartRow& row : rig.page.view().rows) EXPECT_FALSE(row.checked);

  // A remembered smartId0 gets its mark back on a fresh list.
  rig.model.table.workingConfig.smartId0 = 4;
  rig.page.ShowDrive(3);
  EXPECT_TRUE(rig.page.view().rows[4].checked);
  EXPECT_EQ(rig.page.checkedRows(), std::vector<int>{4});
  EXPECT_EQ(rig.page.lineItemLabels().size(), 9u);

  // One attribute fewer after a refresh: the rows are rebuilt, the mark goes with them.
  PutAttributes(rig.model.table.driveRecords[0], {{0x01, 100, 51, 0}, {0x05, 100, 36, 3}});
  rig.model.table.workingConfig.smartId0 = -1;
  rig.page.ShowDrive(3);
  EXPECT_EQ(rig.page.view().rows.size(), 2u);
  EXPECT_TRUE(rig.page.checkedRows().empty());
}

TEST(SmartPage, XfsAndExtDrivesHaveNoCheckBoxes) {
  for (std::int32_t fs : {kFsNtfs, kFsOtherReadWrite}) {
    PageRig rig(FiveAttributes(fs));
    rig.page.ShowDrive(3);
    EXPECT_TRUE(rig.page.view().checkBoxes) << "a drive that keeps its settings on the volume";
  }
  for (std::int32_t fs : {kFsXfs, kFsExt}) {
    PageRig rig(FiveAttributes(fs));
    rig.model.table.workingConfig.smartId0 = 1;
    rig.page.ShowDrive(3);
    EXPECT_FALSE(rig.page.view().checkBoxes);
    EXPECT_EQ(rig.page.view().rows.size(), 5u) << "the attributes are still shown";
    rig.page.RowCheckChanged(2, true);
    EXPECT_TRUE(rig.page.checkedRows().empty());
    for (const SmartRow& row : rig.page.view().rows) EXPECT_FALSE(row.checked);
    EXPECT_EQ(rig.model.table.workingConfig.smartId0, 1) << "nothing changed by a click";
  }
}

TEST(SmartPage, DisablingEmptiesTheListAndDashesTheValues) {
  PageRig rig(FiveAttributes());
  rig.page.SetWarningControls(50, true);
  rig.page.ShowDrive(3);
  rig.page.Enable(false);
  const SmartPageView& v = rig.page.view();
  EXPECT_TRUE(v.rows.empty());
  EXPECT_EQ(v.healthText, u"-");
  EXPECT_EQ(v.temperatureText, u"-");
  EXPECT_FALSE(v.healthEnabled || v.temperatureEnabled || v.temperatureLabelEnabled ||
               v.warningEnabled || v.warningListEnabled || v.listEnabled);
  rig.page.ShowDrive(3);
  EXPECT_TRUE(rig.page.view().rows.empty()) << "a refresh of a disabled page shows nothing";
  rig.page.Enable(true);
  rig.page.ShowDrive(3);
  EXPECT_EQ(rig.page.view().rows.size(), 5u);
  EXPECT_TRUE(rig.page.view().warningListEnabled);
}

TEST(SmartPage, WarningAndAutoUpdateSettingsAreStored) {
  PageRig rig(FiveAttributes());
  rig.model.table.screenConfigs[0].warningTemp = 50;
  rig.page.ShowDrive(3);
  rig.page.WarningChanged(true, 0);
  const ScreenConfig& config = rig.model.table.screenConfigs[0];
  EXPECT_EQ(config.showWarningTemp, 1);
  EXPECT_EQ(config.warningTemp, 45);
  EXPECT_EQ(rig.model.table.workingConfig.warningTemp, 45);
  EXPECT_EQ(rig.page.view().temperatureColour, (Rgb{255, 0, 0})) << "45 reached 45";
  EXPECT_TRUE(rig.page.view().warningListEnabled);
  for (int listIndex : {20, 21}) {  // the last entry, and one past it from a stale widget
    rig.page.WarningChanged(true, listIndex);
    EXPECT_EQ(config.warningTemp, 65) << listIndex;
    EXPECT_EQ(rig.page.view().warningIndex, 20) << listIndex;
    EXPECT_EQ(rig.page.view().temperatureColour, (Rgb{0, 192, 255})) << "45 is below 65";
  }
  rig.page.WarningChanged(false, 0);
  EXPECT_EQ(config.showWarningTemp, 0);
  EXPECT_FALSE(rig.page.view().warningListEnabled);

  rig.page.AutoUpdateClicked(false);
  EXPECT_EQ(rig.model.autoUpdateFlag, 0);
  EXPECT_EQ(rig.profile.ReadInt(u"SETTING", u"SMART_AUTOUPDATE"), 0);
  rig.page.AutoUpdateClicked(true);
  EXPECT_EQ(rig.profile.ReadInt(u"SETTING", u"SMART_AUTOUPDATE"), 1);
}

TEST(SmartPage, OpeningThePageReadsButTheMinuteRefreshLetsASleepingDiskBe) {
  PageRig rig(FiveAttributes());
  rig.service.smartByte = 0x44;
  rig.service.asleep.insert(3);
  rig.model.MinuteRefresh();
  EXPECT_EQ(rig.service.Commands().back(), 12);
  EXPECT_EQ(rig.model.table.driveRecords[0].smartData[2], 0x01) << "last values kept";
  rig.page.ReadAndShowDrive(3);
  EXPECT_EQ(rig.service.Commands().back(), 9);
  EXPECT_EQ(rig.model.table.driveRecords[0].smartData[0], 0x44);
}

bool ReadSector(const std::filesystem::path& path, std::uint8_t (&sector)[512]) {
  std::ifstream in(path, std::ios::binary);
  in.read(reinterpret_cast<char*>(sector), 512);
  return in.gcount() == 512;
}

// Real drives: the class of the row the failing attribute sits in, and the drive's health text.
TEST(SmartPage, RealDrives) {
  const std::filesystem::path root = std::filesystem::path(KUVLCD_TESTDATA_DIR) / "smart";
  if (!std::filesystem::is_directory(root)) GTEST_SKIP() << "no S.M.A.R.T. samples at " << root;
  struct Case {
    const char* drive;
    const char16_t* health;
    const char16_t* redId;  // a row shown red, or nullptr
    const char16_t* temperature;
  };
  const Case cases[] = {
      {"ST9100821AS--3.CME", u"Bad", u"04", u"34°C"},
      {"Maxtor_96147H8--BAC51KJ0--2", u"Bad", u"0A", u"-"},
      {"FUJITSU_MHY2120BH--0085000B", u"Caution", nullptr, u"34°C"},
      {"WDC_WD2500JS-75NCB3--10.02E04", u"Good", nullptr, u"38°C"},
  };
  for (const Case& c : cases) {
    DriveRecord drive = Drive(3, kBridgePlain);
    if (!ReadSector(root / c.drive / "data.bin", drive.smartData) ||
        !ReadSector(root / c.drive / "thresholds.bin", drive.smartThresholds)) {
      ADD_FAILURE() << "unreadable sample " << c.drive;
      continue;
    }
    PageRig rig(drive);
    rig.page.ShowDrive(3);
    const SmartPageView& v = rig.page.view();
    EXPECT_EQ(v.healthText, c.health) << c.drive;
    EXPECT_EQ(v.temperatureText, c.temperature) << c.drive;
    int red = 0;
    for (const SmartRow& row : v.rows) {
      if (row.background == Rgb{255, 0, 0}) {
        ++red;
        if (c.redId) {
          EXPECT_EQ(row.texts[1], c.redId) << c.drive;
        }
      }
    }
    EXPECT_EQ(red, c.redId ? 1 : 0) << c.drive;
  }
}

}  // namespace
}  // namespace kuv
