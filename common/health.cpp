#include "common/health.h"

#include <cstdio>

namespace kuv {
namespace {

constexpr std::size_t kEntryOffset = 2;
constexpr std::size_t kEntrySize = 12;

struct CatalogueEntry {
  std::uint8_t id;
  int stringId;
};

constexpr CatalogueEntry kCatalogue[] = {
    {1, 504},   {2, 505},   {3, 506},   {4, 507},   {5, 508},   {6, 509},   {7, 510},   {8, 511},
    {9, 512},   {10, 513},  {11, 514},  {12, 515},  {13, 516},  {184, 517}, {187, 518}, {188, 519},
    {189, 520}, {190, 521}, {191, 522}, {192, 523}, {193, 524}, {194, 525}, {195, 526}, {196, 527},
    {197, 528}, {198, 529}, {199, 530}, {200, 531}, {201, 532}, {202, 533}, {203, 534}, {204, 535},
    {205, 536}, {206, 537}, {207, 538}, {208, 539}, {209, 540}, {211, 541}, {212, 542}, {220, 543},
    {221, 544}, {222, 545}, {223, 546}, {224, 547}, {225, 548}, {226, 549}, {227, 550}, {228, 551},
    {230, 552}, {231, 553}, {240, 554}, {250, 555}, {254, 556},
};
constexpr int kVendorSpecific = 557;

// Sector counts: a non-zero raw count is worth a caution before the drive itself gives up.
constexpr bool IsSectorCount(std::uint8_t id) {
  return id == 5 || id == 197 || id == 198;
}

// Attributes whose normalised value at or below the threshold means a failing drive; the others
// are informational and never judged.
constexpr bool IsJudged(std::uint8_t id) {
  return (id >= 1 && id <= 13) || (id >= 191 && id <= 209) || (id >= 220 && id <= 228) ||
         id == 230 || id == 231 || id == 240 || id == 250;
}

constexpr std::size_t EntryStart(int index) {
  return kEntryOffset + static_cast<std::size_t>(index) * kEntrySize;
}

bool ValidIndex(int index) {
  return index >= 0 && index < kSmartEntryCount;
}

}  // namespace

std::uint64_t SmartAttribute::RawValue() const {
  std::uint64_t value = 0;
  for (int i = 5; i >= 0; --i) value = (value << 8) | raw[static_cast<std::size_t>(i)];
  return value;
}

SmartAttribute AttributeAt(SmartSector data, int index) {
  SmartAttribute attribute;
  if (!ValidIndex(index)) return attribute;
  const std::uint8_t* entry = data.data() + EntryStart(index);
  attribute.id = entry[0];
  attribute.flags = static_cast<std::uint16_t>(entry[1] | (entry[2] << 8));
  attribute.current = entry[3];
  attribute.worst = entry[4];
  for (std::size_t i = 0; i < attribute.raw.size(); ++i) attribute.raw[i] = entry[5 + i];
  return attribute;
}

std::uint8_t ThresholdAt(SmartSector thresholds, int index) {
  if (!ValidIndex(index)) return 0;
  return thresholds[EntryStart(index) + 1];
}

HealthClass AttributeClass(const SmartAttribute& attribute, std::uint8_t threshold) {
  const std::uint8_t id = attribute.id;
  const bool belowThreshold = threshold != 0 && attribute.current <= threshold;
  if (IsSectorCount(id)) {
    if (belowThreshold) return kHealthBad;
    return (attribute.raw[0] | attribute.raw[1]) != 0 ? kHealthCaution : kHealthGood;
  }
  if (IsJudged(id) && belowThreshold) return kHealthBad;
  return kHealthGood;
}

HealthClass DriveHealth(SmartSector data, SmartSector thresholds) {
  HealthClass health = kHealthGood;
  for (int k = 0; k < kSmartEntryCount; ++k) {
    const SmartAttribute attribute = AttributeAt(data, k);
    if (attribute.id == 0) continue;
    const HealthClass entryClass = AttributeClass(attribute, ThresholdAt(thresholds, k));
    if (entryClass > health) health = entryClass;
  }
  return health;
}

std::int32_t DriveTemperature(SmartSector data) {
  std::int32_t temperature = 0;
  for (int k = 0; k < kSmartEntryCount; ++k) {
    const SmartAttribute attribute = AttributeAt(data, k);
    if (attribute.id != 194) continue;
    const std::int32_t low = attribute.raw[0];
    const std::int32_t high = attribute.raw[1];
    // Some drives report tenths of a degree; a plain byte above 70 is read the same way.
    if (high != 0 || low > 70) {
      temperature = (256 * high + low) / 10;
    } else if (low != 0) {
      temperature = low;
    }
  }
  return temperature > 100 ? 0 : temperature;
}

int AttributeNameId(std::uint8_t id) {
  for (const auto& entry : kCatalogue) {
    if (entry.id == id) return entry.stringId;
  }
  return kVendorSpecific;
}

std::u16string_view AttributeName(std::uint8_t id, Language language) {
  return String(AttributeNameId(id), language);
}

int HealthTextId(std::int32_t healthClass) {
  switch (healthClass) {
    case kHealthGood:
      return 501;
    case kHealthCaution:
      return 502;
    default:
      return 503;
  }
}

Rgb HealthColour(std::int32_t healthClass) {
  switch (healthClass) {
    case kHealthGood:
      return {0, 192, 255};
    case kHealthCaution:
      return {255, 255, 0};
    default:
      return {255, 0, 0};
  }
}

const CompactedAttribute* CompactedAttributeList::At(std::int32_t position) const {
  if (position < 0 || position >= count) return nullptr;
  return &entries[static_cast<std::size_t>(position)];
}

CompactedAttributeList CompactedAttributes(SmartSector data, SmartSector thresholds) {
  CompactedAttributeList list;
  for (int k = 0; k < kSmartEntryCount; ++k) {
    const SmartAttribute attribute = AttributeAt(data, k);
    if (attribute.id == 0) continue;
    CompactedAttribute& entry = list.entries[static_cast<std::size_t>(list.count++)];
    entry.attribute = attribute;
    entry.threshold = ThresholdAt(thresholds, k);
    entry.entryIndex = k;
    entry.healthClass = AttributeClass(attribute, entry.threshold);
  }
  return list;
}

std::string FormatAttributeId(std::uint8_t id) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", id);
  return text;
}

std::string FormatRawValue(const std::array<std::uint8_t, 6>& raw) {
  char text[16];
  std::snprintf(text, sizeof text, "%02X%02X%02X%02X%02X%02X", raw[5], raw[4], raw[3], raw[2],
                raw[1], raw[0]);
  return text;
}

}  // namespace kuv
