#include "tools/kuvlcd/smart_report.h"

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "common/utf16.h"
#include "tools/kuvlcd/cli.h"
#include "tools/kuvlcd/json_out.h"

namespace kuv::cli {
namespace {

constexpr int kHealthStatus = 114;
constexpr int kTemperature = 565;
constexpr int kFirstColumnHeader = 558;  // ID, Attribute Name, Current, Worst, Threshold, Raw

std::string TemperatureText(std::int32_t celsius, Language language) {
  if (celsius == 0) return "-";
  return std::to_string(celsius) + StringUtf8(1603, language);
}

std::string HealthText(HealthClass health, bool read, Language language) {
  return read ? StringUtf8(HealthTextId(health), language) : "-";
}

}  // namespace

nlohmann::ordered_json SmartJson(SmartSector data, SmartSector thresholds, bool read,
                                 Language language) {
  const HealthClass health = DriveHealth(data, thresholds);
  const std::int32_t temperature = read ? DriveTemperature(data) : 0;
  nlohmann::ordered_json out;
  out["health"] = read ? nlohmann::ordered_json(health) : nlohmann::ordered_json(nullptr);
  out["healthName"] = read ? HealthName(health) : "unknown";
  out["healthText"] = HealthText(health, read, language);
  out["temperature"] = temperature;
  out["temperatureText"] = TemperatureText(temperature, language);
  out["attributes"] = nlohmann::ordered_json::array();
  if (!read) return out;
  for (const CompactedAttribute& entry : CompactedAttributes(data, thresholds)) {
    const SmartAttribute& a = entry.attribute;
    out["attributes"].push_back({
        {"id", a.id},
        {"idText", FormatAttributeId(a.id)},
        {"name", Utf16ToUtf8(AttributeName(a.id, language))},
        {"current", a.current},
        {"worst", a.worst},
        {"threshold", entry.threshold},
        {"raw", a.RawValue()},
        {"rawText", FormatRawValue(a.raw)},
        {"class", entry.healthClass},
        {"className", HealthName(entry.healthClass)},
    });
  }
  return out;
}

void PrintSmartText(SmartSector data, SmartSector thresholds, bool read, Language language) {
  const std::int32_t temperature = read ? DriveTemperature(data) : 0;
  std::printf("%s: %s  %s: %s\n", StringUtf8(kHealthStatus, language).c_str(),
              HealthText(DriveHealth(data, thresholds), read, language).c_str(),
              StringUtf8(kTemperature, language).c_str(),
              TemperatureText(temperature, language).c_str());
  const CompactedAttributeList attributes = CompactedAttributes(data, thresholds);
  if (!read || attributes.size() == 0) return;
  std::vector<std::array<std::string, 7>> rows(1);
  for (std::size_t c = 0; c < 6; ++c) {
    rows[0][c] = StringUtf8(kFirstColumnHeader + static_cast<int>(c), language);
  }
  rows[0][6] = StringUtf8(kHealthStatus, language);
  for (const CompactedAttribute& entry : attributes) {
    const SmartAttribute& a = entry.attribute;
    rows.push_back({FormatAttributeId(a.id), Utf16ToUtf8(AttributeName(a.id, language)),
                    std::to_string(a.current), std::to_string(a.worst),
                    std::to_string(entry.threshold), FormatRawValue(a.raw),
                    StringUtf8(HealthTextId(entry.healthClass), language)});
  }
  PrintColumns(rows);
}

}  // namespace kuv::cli
