// Line-data transfer to bridge panels and their stop command.

#include <cstring>

#include "panelio/env.h"
#include "panelio/panelio.h"
#include "panelio/pass_through.h"

using kuv::DataDirection;
using kuv::DiskAccess;
using kuv::Env;
using kuv::RunExport;
using kuv::Status;

extern "C" std::uint32_t LcdSendLineData(std::int32_t driveNumber,
                                         const std::uint8_t* lineRecords) {
  return RunExport([&](Status& why) -> std::uint32_t {
    if (!lineRecords) {
      why = Status(EINVAL, "no line records");
      return kPanelBadHandle;
    }
    // Read-only: the vendor commands need the raw-I/O right, not write access, and closing a
    // write-opened disk makes udev probe it again (and read the partition table again when no
    // partition is mounted), every minute's picture a device change.
    auto disk = Env().OpenDisk(driveNumber & 0xFF, DiskAccess::kRead);
    if (!disk.ok()) {
      why = disk.status();
      return kPanelDriveNotOpened;
    }
    // Each call has its own aligned buffer, so concurrent callers cannot mix their lines.
    alignas(64) std::uint8_t buffer[kLineRecordSlot];
    const kuv::PassThroughDescriptor descriptor{.cdbLength = 10,
                                                .transferLength = kLineRecordSlot,
                                                .direction = DataDirection::kOut,
                                                .lun = 0};
    for (int i = 0; i < kLineRecordCount; ++i) {
      std::memcpy(buffer, lineRecords + static_cast<std::size_t>(i) * kLineRecordSlot,
                  kLineRecordSlot);
      const std::uint8_t cdb[10] = {0x3B, 0x01, 0xE3, 0x40, 0x00, static_cast<std::uint8_t>(i)};
      if (kuv::PassThroughDescribed(disk->get(), descriptor, cdb, buffer, &why) != 1)
        return kPanelLineRefused;
    }
    return kPanelOk;
  });
}

extern "C" std::uint32_t StopLcdTimer(std::int32_t driveNumber) {
  return RunExport([&](Status& why) -> std::uint32_t {
    auto disk = Env().OpenDisk(driveNumber & 0xFF, DiskAccess::kRead);
    if (!disk.ok()) {
      why = disk.status();
      return kPanelStopRefused;
    }
    const std::uint8_t cdb[16] = {0x3B, 0x01, 0xE7};
    std::uint8_t zeros[8] = {};
    if (kuv::PassThrough16(disk->get(), cdb, false, zeros, &why) != kPanelOk)
      return kPanelStopRefused;
    return kPanelOk;
  });
}
