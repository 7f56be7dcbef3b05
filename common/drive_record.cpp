#include "common/drive_record.h"

#include <cstring>

namespace kuv {

DriveRecord EmptyDriveRecord() {
  DriveRecord record{};
  record.driveNumber = kEmptyDriveNumber;
  return record;
}

std::span<const std::uint8_t, sizeof(DriveRecord)> AsBytes(const DriveRecord& record) {
  return std::span<const std::uint8_t, sizeof(DriveRecord)>(
      reinterpret_cast<const std::uint8_t*>(&record), sizeof(DriveRecord));
}

DriveRecord DriveRecordFromBytes(std::span<const std::uint8_t, sizeof(DriveRecord)> bytes) {
  DriveRecord record;
  std::memcpy(&record, bytes.data(), sizeof record);
  return record;
}

}  // namespace kuv
