#include "common/health.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace kuv {
namespace {

using Sector = std::array<std::uint8_t, 512>;

struct Entry {
  std::uint8_t id;
  std::uint8_t current;
  std::uint8_t threshold;
  std::array<std::uint8_t, 6> raw;
};

// Writes entry into slot k of both sectors, as a drive lays them out.
void Put(Sector& data, Sector& thresholds, int k, const Entry& e) {
  std::uint8_t* d = data.data() + 2 + 12 * k;
  d[0] = e.id;
  d[1] = 0x33;
  d[2] = 0x00;
  d[3] = e.current;
  d[4] = e.current;
  for (int i = 0; i < 6; ++i) d[5 + i] = e.raw[static_cast<std::size_t>(i)];
  std::uint8_t* t = thresholds.data() + 2 + 12 * k;
  t[0] = e.id;
  t[1] = e.threshold;
}

SmartAttribute Attribute(std::uint8_t id, std::uint8_t current, std::array<std::uint8_t, 6> raw) {
  SmartAttribute a;
  a.id = id;
  a.current = current;
  a.raw = raw;
  return a;
}

TEST(AttributeClass, Rules) {
  struct Case {
    std::uint8_t id, current, threshold;
    std::array<std::uint8_t, 6> raw;
    HealthClass expected;
  };
  const Case cases[] = {
      {5, 100, 36, {3}, kHealthCaution},    // pending reallocation shows before the limit
      {5, 30, 36, {3}, kHealthBad},         // bad overrides caution
      {5, 36, 36, {0}, kHealthBad},         // at the threshold counts as failed
      {5, 37, 36, {0}, kHealthGood},        //
      {5, 100, 0, {0, 1}, kHealthCaution},  // raw byte 1 counts too
      {5, 100, 0, {0, 0, 1}, kHealthGood},  // only the first two raw bytes are looked at
      {197, 100, 0, {1}, kHealthCaution},   //
      {198, 1, 0, {0}, kHealthGood},        // no threshold: never bad
      {9, 1, 0, {0xFF}, kHealthGood},       // power-on hours without threshold
      {9, 1, 5, {0}, kHealthBad},           //
      {14, 1, 100, {0}, kHealthGood},       // outside the judged ranges
      {190, 10, 45, {0}, kHealthGood},      // airflow temperature is never judged
      {191, 10, 45, {0}, kHealthBad},       //
      {199, 200, 0, {5}, kHealthGood},      // CRC errors: raw counts are not a caution
      {209, 1, 1, {0}, kHealthBad},         //
      {210, 1, 100, {0}, kHealthGood},      //
      {220, 1, 100, {0}, kHealthBad},       //
      {229, 1, 100, {0}, kHealthGood},      //
      {230, 1, 100, {0}, kHealthBad},       //
      {231, 1, 100, {0}, kHealthBad},       // the second temperature attribute is judged
      {231, 101, 100, {0}, kHealthGood},    //
      {232, 1, 100, {0}, kHealthGood},      //
      {250, 1, 100, {0}, kHealthBad},       //
      {0, 1, 100, {1}, kHealthGood},        // empty slot
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AttributeClass(Attribute(c.id, c.current, c.raw), c.threshold), c.expected)
        << "id " << int(c.id) << " current " << int(c.current) << " threshold " << int(c.threshold);
  }
}

TEST(DriveHealth, WorstClassAndPositionalThresholds) {
  Sector data{}, thresholds{};
  EXPECT_EQ(DriveHealth(data, thresholds), kHealthGood);

  Put(data, thresholds, 3, {5, 30, 36, {0}});    // bad
  Put(data, thresholds, 7, {197, 100, 0, {1}});  // caution after it must not lower the result
  EXPECT_EQ(DriveHealth(data, thresholds), kHealthBad);

  // Entries after an empty slot are judged against the threshold entry of their own position.
  Sector data2{}, thresholds2{};
  Put(data2, thresholds2, 29, {7, 10, 20, {0}});
  EXPECT_EQ(DriveHealth(data2, thresholds2), kHealthBad);
  thresholds2[2 + 12 * 28 + 1] = 20;  // a threshold one position off does not count
  thresholds2[2 + 12 * 29 + 1] = 0;
  EXPECT_EQ(DriveHealth(data2, thresholds2), kHealthGood);
}

TEST(DriveTemperature, RawEncodings) {
  struct Case {
    std::uint8_t low, high;
    std::int32_t expected;
  };
  const Case cases[] = {
      {0x2D, 0x00, 45},  {0x2C, 0x01, 30}, {0x46, 0x00, 70}, {0x47, 0x00, 7},
      {0xE8, 0x03, 100}, {0xF2, 0x03, 0},  {0x00, 0x00, 0},  {0xFF, 0xFF, 0},
  };
  for (const auto& c : cases) {
    Sector data{}, thresholds{};
    Put(data, thresholds, 0, {194, 100, 0, {c.low, c.high}});
    EXPECT_EQ(DriveTemperature(data), c.expected) << int(c.low) << "," << int(c.high);
  }
}

TEST(DriveTemperature, LastEntryWinsAndZeroKeepsPrevious) {
  Sector data{}, thresholds{};
  EXPECT_EQ(DriveTemperature(data), 0);
  Put(data, thresholds, 0, {190, 100, 0, {33}});  // airflow is not the drive temperature
  EXPECT_EQ(DriveTemperature(data), 0);
  Put(data, thresholds, 4, {194, 100, 0, {40}});
  Put(data, thresholds, 9, {194, 100, 0, {42}});
  EXPECT_EQ(DriveTemperature(data), 42);
  Put(data, thresholds, 12, {194, 100, 0, {0}});  // an empty reading keeps the earlier one
  EXPECT_EQ(DriveTemperature(data), 42);
}

TEST(CompactedAttributes, DropsEmptySlotsAndKeepsOwnThresholds) {
  Sector data{}, thresholds{};
  Put(data, thresholds, 2, {1, 100, 6, {1, 2, 3, 4, 5, 6}});
  Put(data, thresholds, 5, {194, 40, 0, {40}});
  Put(data, thresholds, 29, {5, 30, 36, {0}});
  const CompactedAttributeList list = CompactedAttributes(data, thresholds);
  ASSERT_EQ(list.size(), 3);
  EXPECT_EQ(list.At(0)->attribute.id, 1);
  EXPECT_EQ(list.At(0)->threshold, 6);
  EXPECT_EQ(list.At(0)->entryIndex, 2);
  EXPECT_EQ(list.At(0)->attribute.RawValue(), 0x060504030201u);
  EXPECT_EQ(list.At(1)->attribute.id, 194);
  EXPECT_EQ(list.At(2)->entryIndex, 29);
  EXPECT_EQ(list.At(2)->healthClass, kHealthBad);
  EXPECT_EQ(list.At(3), nullptr);
  EXPECT_EQ(list.At(-1), nullptr);
}

TEST(AttributeDisplay, Formats) {
  EXPECT_EQ(FormatAttributeId(0x0A), "0A");
  EXPECT_EQ(FormatAttributeId(194), "C2");
  EXPECT_EQ(FormatRawValue({0x01, 0x02, 0x03, 0x04, 0x05, 0x06}), "060504030201");
  EXPECT_EQ(FormatRawValue({0xFF, 0, 0, 0, 0, 0xAB}), "AB00000000FF");
}

TEST(AttributeCatalogue, NamesAndFallback) {
  EXPECT_EQ(AttributeNameId(1), 504);
  EXPECT_EQ(AttributeNameId(198), 529);
  EXPECT_EQ(AttributeNameId(199), 530);
  EXPECT_EQ(AttributeNameId(254), 556);
  for (int id : {0, 14, 183, 210, 213, 229, 255}) {
    EXPECT_EQ(AttributeNameId(static_cast<std::uint8_t>(id)), 557) << id;
  }
  EXPECT_EQ(AttributeName(194, Language::kEnglish), u"Temperature");
  EXPECT_EQ(AttributeName(226, Language::kEnglish), u"Load 'In'-time");

  // Every catalogue string 504 to 556 is used by exactly one id.
  std::set<int> used;
  for (int id = 1; id <= 255; ++id) {
    const int stringId = AttributeNameId(static_cast<std::uint8_t>(id));
    if (stringId != 557) {
      EXPECT_TRUE(used.insert(stringId).second) << id;
    }
  }
  EXPECT_EQ(used.size(), 53u);
  EXPECT_EQ(*used.begin(), 504);
  EXPECT_EQ(*used.rbegin(), 556);
}

bool ReadSector(const std::filesystem::path& path, Sector& sector) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() != sector.size()) return false;
  std::copy(bytes.begin(), bytes.end(), sector.begin());
  return true;
}

// Sectors of real drives, with the verdict worked out by hand from their attribute tables.
TEST(RealDrives, HealthAndTemperature) {
  const std::filesystem::path root = std::filesystem::path(KUVLCD_TESTDATA_DIR) / "smart";
  if (!std::filesystem::is_directory(root)) GTEST_SKIP() << "no S.M.A.R.T. samples at " << root;
  struct Case {
    const char* drive;
    HealthClass health;
    std::int32_t temperature;
  };
  const Case cases[] = {
      {"FUJITSU_MHY2120BH--0084000D", kHealthGood, 28},
      {"FUJITSU_MHY2120BH--0085000B", kHealthCaution, 34},  // 197 and 198 raw counts
      {"MCCOE64GEMPP--2.9.09", kHealthCaution, 0},          // 5 raw byte 1 set, no 194
      {"Maxtor_96147H8--BAC51KJ0", kHealthCaution, 0},      // 69 reallocated sectors
      {"Maxtor_96147H8--BAC51KJ0--2", kHealthBad, 0},       // spin retry 212 under 223
      {"ST9100821AS--3.CME", kHealthBad, 34},               // start/stop count 1 under 20
      {"INTEL_SSDSA2CW120G3--4PC10302", kHealthGood, 0},
      {"WDC_WD2500JS-75NCB3--10.02E04", kHealthGood, 38},
      {"WDC_WD5000AAKS--00TMA0-12.01C01", kHealthCaution, 40},
  };
  for (const auto& c : cases) {
    Sector data{}, thresholds{};
    if (!ReadSector(root / c.drive / "data.bin", data) ||
        !ReadSector(root / c.drive / "thresholds.bin", thresholds)) {
      ADD_FAILURE() << "unreadable sample " << c.drive;
      continue;
    }
    EXPECT_EQ(DriveHealth(data, thresholds), c.health) << c.drive;
    EXPECT_EQ(DriveTemperature(data), c.temperature) << c.drive;
  }
}

}  // namespace
}  // namespace kuv
