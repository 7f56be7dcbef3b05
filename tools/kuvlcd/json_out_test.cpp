// The JSON scripts read: numbers as numbers, states with their names, one key for one thing.
#include "tools/kuvlcd/json_out.h"

#include <gtest/gtest.h>

#include <array>
#include <set>

#include "common/utf16.h"
#include "tools/kuvlcd/smart_report.h"

namespace kuv::cli {
namespace {

using Json = nlohmann::ordered_json;

TEST(DriveRecordJson, NumbersAreNumbersAndStatesHaveNames) {
  DriveRecord record = EmptyDriveRecord();
  record.driveNumber = 3;
  record.totalMB = 1907729;
  record.freeMB = 1500000;
  record.totalSectors = 3907029168;
  record.connectionState = kBridgeLocked;
  record.fileSystemType = kFsFat32;
  record.health = 1;
  record.temperature = 41;
  SetField(record.driveLetter, std::string_view("/media/archive"));
  const Json j = DriveRecordJson(record);

  for (const char* key :
       {"panelState", "panelModel", "driveNumber", "totalMB", "freeMB", "totalSectors",
        "freeSectors", "connectionState", "fileSystemType", "health", "temperature"}) {
    EXPECT_TRUE(j.at(key).is_number_integer()) << key;
  }
  EXPECT_EQ(j["totalMB"], 1907729);
  EXPECT_EQ(j["totalSectors"], 3907029168u);
  EXPECT_EQ(j["connectionStateName"], "bridge-locked");
  EXPECT_EQ(j["fileSystemTypeName"], "fat32");
  EXPECT_EQ(j["healthName"], "caution");
  EXPECT_EQ(j["mountPoint"], "/media/archive");
  EXPECT_FALSE(j.contains("driveLetter")) << "one key for the mount point in every verb";
  EXPECT_TRUE(j["smartData"].is_string());
  EXPECT_FALSE(DriveRecordJson(record, false).contains("smartData"));
}

TEST(StateNames, EveryDocumentedValueHasItsOwnNameAndOthersAreUnknown) {
  const std::pair<std::string (*)(std::int32_t), std::pair<int, int>> tables[] = {
      {ConnectionStateName, {1, 8}},
      {FileSystemTypeName, {1, 7}},
      {HealthName, {0, 2}},
      {LcdDataTypeName, {0, 2}},
  };
  for (const auto& [name, range] : tables) {
    std::set<std::string> seen;
    for (int v = range.first; v <= range.second; ++v) {
      EXPECT_NE(name(v), "unknown") << v;
      EXPECT_TRUE(seen.insert(name(v)).second) << name(v) << " names two values";
    }
    EXPECT_EQ(name(-1), "unknown");
    EXPECT_EQ(name(range.second + 20), "unknown");
  }
  EXPECT_EQ(HealthName(3), "unknown") << "a class past bad is not a health";
}

struct Sectors {
  std::array<std::uint8_t, 512> data{};
  std::array<std::uint8_t, 512> thresholds{};

  void Put(int index, std::uint8_t id, std::uint8_t current, std::uint8_t threshold,
           std::array<std::uint8_t, 6> raw) {
    std::uint8_t* entry = data.data() + 2 + 12 * index;
    entry[0] = id;
    entry[3] = current;
    entry[4] = current;
    std::copy(raw.begin(), raw.end(), entry + 5);
    thresholds[static_cast<std::size_t>(2 + 12 * index)] = id;
    thresholds[static_cast<std::size_t>(3 + 12 * index)] = threshold;
  }
};

TEST(SmartJson, AttributesAreNumbersBesideTheirTexts) {
  Sectors s;
  s.Put(0, 5, 100, 36, {3, 0, 0, 0, 0, 0});  // caution: reallocated sectors
  s.Put(2, 194, 100, 0, {0x2D, 0, 0, 0, 0, 0});
  s.Put(4, 9, 97, 0, {1, 2, 3, 4, 5, 6});
  const Json j = SmartJson(s.data, s.thresholds, true, Language::kEnglish);

  EXPECT_EQ(j["health"], 1);
  EXPECT_EQ(j["healthName"], "caution");
  EXPECT_EQ(j["healthText"], "Caution");
  EXPECT_EQ(j["temperature"], 45);
  EXPECT_EQ(j["temperatureText"], "45°C");
  ASSERT_EQ(j["attributes"].size(), 3u) << "empty entries are left out";
  for (const Json& a : j["attributes"]) {
    for (const char* key : {"id", "current", "worst", "threshold", "raw", "class"}) {
      EXPECT_TRUE(a.at(key).is_number_integer()) << key;
    }
    for (const char* key : {"idText", "name", "rawText", "className"}) {
      EXPECT_TRUE(a.at(key).is_string()) << key;
    }
  }
  const Json& first = j["attributes"][0];
  EXPECT_EQ(first["id"], 5);
  EXPECT_EQ(first["idText"], "05");
  EXPECT_EQ(first["threshold"], 36);
  EXPECT_EQ(first["className"], "caution");
  const Json& last = j["attributes"][2];
  EXPECT_EQ(last["raw"], 0x060504030201ull);
  EXPECT_EQ(last["rawText"], "060504030201");
}

TEST(SmartJson, SectorsNotReadJudgeNothing) {
  Sectors s;
  const Json j = SmartJson(s.data, s.thresholds, false, Language::kEnglish);
  EXPECT_TRUE(j["health"].is_null()) << "not a healthy drive: an unknown one";
  EXPECT_EQ(j["healthName"], "unknown");
  EXPECT_EQ(j["healthText"], "-");
  EXPECT_EQ(j["temperatureText"], "-");
  EXPECT_TRUE(j["attributes"].empty());
}

}  // namespace
}  // namespace kuv::cli
