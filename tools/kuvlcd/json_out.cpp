#include "tools/kuvlcd/json_out.h"

#include "common/utf16.h"

namespace kuv::cli {

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

nlohmann::ordered_json DriveRecordJson(const DriveRecord& r) {
  nlohmann::ordered_json j;
  j["smartThresholds"] = Hex(r.smartThresholds, sizeof r.smartThresholds);
  j["smartData"] = Hex(r.smartData, sizeof r.smartData);
  j["panelState"] = r.panelState;
  j["volumeLabel"] = FieldUtf8(r.volumeLabel);
  j["driveLetter"] = FieldUtf8(r.driveLetter);
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
  j["fileSystemType"] = r.fileSystemType;
  j["hidPath"] = FieldUtf8(r.hidPath);
  j["health"] = r.health;
  j["temperature"] = r.temperature;
  return j;
}

}  // namespace kuv::cli
