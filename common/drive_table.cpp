#include "common/drive_table.h"

namespace kuv {

DriveTable::DriveTable() : workingConfig(InitialWorkingConfig()) {
  driveRecords.fill(EmptyDriveRecord());
  screenConfigs.fill(InitialSlotConfig());
}

int DriveTable::SlotOfDrive(std::int32_t driveNumber) const {
  for (int slot = 0; slot < kSlotCount; ++slot) {
    if (driveRecords[static_cast<std::size_t>(slot)].driveNumber == driveNumber) return slot;
  }
  return -1;
}

void DriveTable::EmptySlot(int slot) {
  driveRecords.at(static_cast<std::size_t>(slot)) = EmptyDriveRecord();
}

}  // namespace kuv
