#pragma once
// The health rule of a drive from its two S.M.A.R.T. sectors, the temperature it reports and the
// names of its attributes. The library fills `health` and `temperature` with it and the S.M.A.R.T.
// page colours its rows with it, so both always agree on the same sectors.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/strings.h"

namespace kuv {

// A S.M.A.R.T. sector exactly as the drive returned it: outside bytes, read only within its 512.
using SmartSector = std::span<const std::uint8_t, 512>;

inline constexpr int kSmartEntryCount = 30;

// Values of `health` and of an attribute's class.
enum HealthClass : std::int32_t { kHealthGood = 0, kHealthCaution = 1, kHealthBad = 2 };

// One 12-byte entry of the data sector.
struct SmartAttribute {
  std::uint8_t id = 0;  // 0 marks an empty entry
  std::uint16_t flags = 0;
  std::uint8_t current = 0;  // normalised value
  std::uint8_t worst = 0;
  std::array<std::uint8_t, 6> raw{};  // least significant byte first

  std::uint64_t RawValue() const;
};

// Entry index (0 to 29) of the data sector, and the threshold byte of the threshold entry at the
// same position, which is what the entry is judged against.
SmartAttribute AttributeAt(SmartSector data, int index);
std::uint8_t ThresholdAt(SmartSector thresholds, int index);

// The class of one attribute against its threshold (0 = the drive sets none).
HealthClass AttributeClass(const SmartAttribute& attribute, std::uint8_t threshold);

// The worst class over the 30 entries; empty entries are skipped.
HealthClass DriveHealth(SmartSector data, SmartSector thresholds);

// Degrees Celsius from attribute 194 (the last one when there are several); 0 when unknown.
std::int32_t DriveTemperature(SmartSector data);

// String id of the attribute's catalogue name: 504 to 556, or 557 ("Vendor Specific").
int AttributeNameId(std::uint8_t id);
std::u16string_view AttributeName(std::uint8_t id, Language language);

// String id of a class's text ("Good", "Caution", "Bad"); class values out of range read as bad.
int HealthTextId(std::int32_t healthClass);

struct Rgb {
  std::uint8_t red, green, blue;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};
// The colour the class is shown on.
Rgb HealthColour(std::int32_t healthClass);

// The non-empty entries of the data sector in sector order, each with the threshold of its own
// position and its class. Fixed capacity: nothing is allocated.
struct CompactedAttribute {
  SmartAttribute attribute;
  std::uint8_t threshold = 0;
  int entryIndex = 0;  // position in the sector, 0 to 29
  HealthClass healthClass = kHealthGood;
};

struct CompactedAttributeList {
  std::array<CompactedAttribute, kSmartEntryCount> entries{};
  int count = 0;

  const CompactedAttribute* begin() const { return entries.data(); }
  const CompactedAttribute* end() const { return entries.data() + count; }
  int size() const { return count; }
  // The entry at position, or nullptr for a position outside the list (-1 included).
  const CompactedAttribute* At(std::int32_t position) const;
};

CompactedAttributeList CompactedAttributes(SmartSector data, SmartSector thresholds);

// Display texts of one attribute: id "%02X", raw value as twelve upper-case hexadecimal digits,
// most significant byte first.
std::string FormatAttributeId(std::uint8_t id);
std::string FormatRawValue(const std::array<std::uint8_t, 6>& raw);

}  // namespace kuv
