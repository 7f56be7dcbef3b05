// Two S.M.A.R.T. sectors come straight from a drive (or a hostile request record); judging them
// must never read outside them and must always give a class and temperature in range.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "common/health.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  std::array<std::uint8_t, 512> data{};
  std::array<std::uint8_t, 512> thresholds{};
  const std::size_t first = std::min(size, data.size());
  std::copy_n(bytes, first, data.begin());
  std::copy_n(bytes + first, std::min(size - first, thresholds.size()), thresholds.begin());

  const kuv::HealthClass health = kuv::DriveHealth(data, thresholds);
  const std::int32_t temperature = kuv::DriveTemperature(data);
  if (health < kuv::kHealthGood || health > kuv::kHealthBad) __builtin_trap();
  if (temperature < 0 || temperature > 100) __builtin_trap();

  const kuv::CompactedAttributeList list = kuv::CompactedAttributes(data, thresholds);
  if (list.size() < 0 || list.size() > kuv::kSmartEntryCount) __builtin_trap();
  kuv::HealthClass worst = kuv::kHealthGood;
  for (const auto& entry : list) {
    if (entry.attribute.id == 0) __builtin_trap();
    worst = std::max(worst, entry.healthClass);
    (void)kuv::AttributeNameId(entry.attribute.id);
    (void)kuv::FormatAttributeId(entry.attribute.id);
    (void)kuv::FormatRawValue(entry.attribute.raw);
  }
  // The list and the drive verdict are two readings of one rule.
  if (worst != health) __builtin_trap();
  return 0;
}
