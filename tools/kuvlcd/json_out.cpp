#include "tools/kuvlcd/json_out.h"

#include "common/utf16.h"

namespace kuv::cli {
namespace {

std::string NameAt(std::int32_t value, std::initializer_list<const char*> names) {
  if (value < 0 || value >= static_cast<std::int32_t>(names.size())) return "unknown";
  return names.begin()[value];
}

}  // namespace

std::string Hex(const std::uint8_t* bytes, std::size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * size);
  for (std::size_t i = 0; i < size; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 15]);
  }
  return text;
}

std::string ConnectionStateName(std::int32_t state) {
  return NameAt(state, {"unknown", "bridge", "bridge-locked", "bridge-unlocked", "hid",
                        "hid-filter", "hid-no-filter", "no-panel", "hid-untied"});
}

std::string FileSystemTypeName(std::int32_t type) {
  return NameAt(type, {"unknown", "ntfs", "fat32", "fat", "xfs", "ext", "exfat", "other-rw"});
}

std::string HealthName(std::int32_t health) {
  return NameAt(health, {"good", "caution", "bad"});
}

std::string LcdDataTypeName(std::int32_t type) {
  return NameAt(type, {"text", "qr", "bitmap"});
}

nlohmann::ordered_json DriveRecordJson(const DriveRecord& r, bool withSectors) {
  nlohmann::ordered_json j;
  if (withSectors) {
    j["smartThresholds"] = Hex(r.smartThresholds, sizeof r.smartThresholds);
    j["smartData"] = Hex(r.smartData, sizeof r.smartData);
  }
  j["panelState"] = r.panelState;
  j["volumeLabel"] = FieldUtf8(r.volumeLabel);
  j["mountPoint"] = FieldUtf8(r.driveLetter);
  j["friendlyName"] = FieldUtf8(r.friendlyName);
  j["serialNumber"] = FieldUtf8(r.serialNumber);
  j["fileSystem"] = FieldUtf8(r.fileSystem);
  j["panelModel"] = r.panelModel;
  j["driveNumber"] = r.driveNumber;
  j["totalMB"] = r.totalMB;
  j["freeMB"] = r.freeMB;
  j["totalSectors"] = r.totalSectors;
  j["freeSectors"] = r.freeSectors;
  j["connectionState"] = r.connectionState;
  j["connectionStateName"] = ConnectionStateName(r.connectionState);
  j["fileSystemType"] = r.fileSystemType;
  j["fileSystemTypeName"] = FileSystemTypeName(r.fileSystemType);
  j["hidPath"] = FieldUtf8(r.hidPath);
  j["health"] = r.health;
  j["healthName"] = HealthName(r.health);
  j["temperature"] = r.temperature;
  return j;
}

}  // namespace kuv::cli
