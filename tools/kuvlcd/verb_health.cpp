// kuvlcd health: judges a drive from its two S.M.A.R.T. sectors as the library and the
// S.M.A.R.T. page do, for checking dumps taken from a drive.

#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

#include "common/drive_record.h"
#include "common/health.h"
#include "common/strings.h"
#include "common/utf16.h"
#include "tools/kuvlcd/cli.h"

namespace {

using Sector = std::array<std::uint8_t, kuv::kSmartSectorSize>;

// Reads a whole sector file; anything but exactly 512 bytes is refused, so a truncated or
// oversized dump is never judged as if it were a sector.
Sector ReadSectorFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  Sector sector{};
  in.read(reinterpret_cast<char*>(sector.data()), static_cast<std::streamsize>(sector.size()));
  const std::streamsize got = in.gcount();
  if (got != static_cast<std::streamsize>(sector.size()) || in.peek() != EOF) {
    throw std::runtime_error(path + " is not a 512-byte S.M.A.R.T. sector");
  }
  return sector;
}

int Run(const kuv::cli::Args& args) {
  args.RejectUnknown({"data", "thresholds", "format"});
  const auto dataPath = args.Get("data");
  const auto thresholdsPath = args.Get("thresholds");
  if (!dataPath || !thresholdsPath)
    throw kuv::cli::UsageError("--data and --thresholds are needed");
  const std::string format = args.GetOr("format", "text");
  if (format != "text" && format != "json") {
    throw kuv::cli::UsageError("--format is text or json, not '" + format + "'");
  }

  const Sector data = ReadSectorFile(*dataPath);
  const Sector thresholds = ReadSectorFile(*thresholdsPath);
  const kuv::Language language = kuv::SystemLanguage();
  const kuv::HealthClass health = kuv::DriveHealth(data, thresholds);
  const std::int32_t temperature = kuv::DriveTemperature(data);
  const kuv::CompactedAttributeList attributes = kuv::CompactedAttributes(data, thresholds);

  if (format == "json") {
    nlohmann::ordered_json out;
    out["health"] = health;
    out["temperature"] = temperature;
    out["attributes"] = nlohmann::ordered_json::array();
    for (const auto& entry : attributes) {
      const kuv::SmartAttribute& a = entry.attribute;
      out["attributes"].push_back({
          {"id", a.id},
          {"name", kuv::Utf16ToUtf8(kuv::AttributeName(a.id, language))},
          {"current", a.current},
          {"worst", a.worst},
          {"threshold", entry.threshold},
          {"raw", kuv::FormatRawValue(a.raw)},
          {"class", entry.healthClass},
      });
    }
    std::printf("%s\n", out.dump(2).c_str());
    return 0;
  }

  std::printf("%s: %s\n", kuv::StringUtf8(114, language).c_str(),
              kuv::StringUtf8(kuv::HealthTextId(health), language).c_str());
  if (temperature != 0) {
    std::printf("%s: %d%s\n", kuv::StringUtf8(565, language).c_str(), temperature,
                kuv::StringUtf8(1603, language).c_str());
  } else {
    std::printf("%s: -\n", kuv::StringUtf8(565, language).c_str());
  }
  for (const auto& entry : attributes) {
    const kuv::SmartAttribute& a = entry.attribute;
    std::printf("%s  %-32s %3d %3d %3d  %s  %s\n", kuv::FormatAttributeId(a.id).c_str(),
                kuv::Utf16ToUtf8(kuv::AttributeName(a.id, language)).c_str(), a.current, a.worst,
                entry.threshold, kuv::FormatRawValue(a.raw).c_str(),
                kuv::StringUtf8(kuv::HealthTextId(entry.healthClass), language).c_str());
  }
  return 0;
}

kuv::cli::Registrar reg(
    {"health", "health --data FILE --thresholds FILE [--format text|json]", {}, Run});

}  // namespace
