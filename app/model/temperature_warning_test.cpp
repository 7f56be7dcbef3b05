#include "app/model/temperature_warning.h"

#include <gtest/gtest.h>

#include "common/utf16.h"

namespace kuv {
namespace {

DriveRecord Hot(std::int32_t number, std::int32_t temperature, const char* mount, const char* label,
                const char* name) {
  DriveRecord record{};
  record.driveNumber = number;
  record.temperature = temperature;
  SetField(record.driveLetter, std::string_view(mount));
  SetField(record.volumeLabel, std::string_view(label));
  SetField(record.friendlyName, std::string_view(name));
  return record;
}

TEST(TemperatureWarning, WhichDrivesRaiseIt) {
  struct Case {
    const char* name;
    std::int32_t temperature, warningTemp;
    std::uint8_t show;
    bool warns;
  };
  const Case cases[] = {
      {"at the limit", 50, 50, 1, true},
      {"one below", 49, 50, 1, false},
      {"over, but switched off", 60, 50, 0, false},
      {"no temperature reported", 0, 0, 1, false},
      {"a limit under 45 is used as 50", 46, 44, 1, false},
      {"a limit under 45 is used as 50, reached", 50, 44, 1, true},
      {"the highest limit", 65, 65, 1, true},
      {"one below the highest limit", 64, 65, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DriveTable table;
    table.driveRecords[0] = Hot(1, c.temperature, "/media/a", "A", "Disk A");
    table.screenConfigs[0].warningTemp = c.warningTemp;
    table.screenConfigs[0].showWarningTemp = c.show;
    EXPECT_EQ(BuildTemperatureWarning(table, Language::kEnglish).has_value(), c.warns);
  }
}

TEST(TemperatureWarning, TwoDrivesOverTheirLimitsGiveOneMessageWithTwoParagraphs) {
  DriveTable table;
  table.driveRecords[0] = Hot(1, 52, "/media/backup", "BACKUP", "WDC WD20EZRX");
  table.driveRecords[1] = Hot(2, 40, "/media/cool", "COOL", "Cool disk");
  table.driveRecords[2] = Hot(5, 61, "-", "", "ST4000DM004");
  for (auto& config : table.screenConfigs) {
    config.showWarningTemp = 1;
    config.warningTemp = 50;
  }
  table.screenConfigs[2].warningTemp = 60;
  table.screenConfigs[3].warningTemp = 0;  // an empty slot's configuration never warns
  auto text = BuildTemperatureWarning(table, Language::kEnglish);
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(Utf16ToUtf8(*text),
            "Some HDD reach or over configured temperature.\n\n 52°C---/media/backup BACKUP "
            "[WDC WD20EZRX]\n\n 61°C----  [ST4000DM004]");

  auto japanese = BuildTemperatureWarning(table, Language::kJapanese);
  ASSERT_TRUE(japanese.has_value());
  EXPECT_EQ(japanese->find(u"Some HDD"), std::u16string::npos);
}

TEST(TemperatureWarning, OkSwitchesTheWarningForEveryDriveInUse) {
  for (bool doNotShowAgain : {true, false}) {
    SCOPED_TRACE(doNotShowAgain);
    DriveTable table;
    table.driveRecords[0] = Hot(1, 52, "/a", "A", "A");
    table.driveRecords[1] = Hot(2, 30, "/b", "B", "B");
    table.screenConfigs[0].showWarningTemp = 1;
    table.screenConfigs[1].showWarningTemp = 0;  // switched off on the page
    table.screenConfigs[2].showWarningTemp = 7;  // an empty slot is left alone
    ApplyWarningAnswer(table, doNotShowAgain);
    const std::uint8_t expected = doNotShowAgain ? 0 : 1;
    EXPECT_EQ(table.screenConfigs[0].showWarningTemp, expected);
    EXPECT_EQ(table.screenConfigs[1].showWarningTemp, expected);
    EXPECT_EQ(table.screenConfigs[2].showWarningTemp, 7);
  }
}

}  // namespace
}  // namespace kuv
