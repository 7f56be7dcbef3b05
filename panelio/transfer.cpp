// Line-data transfer to bridge panels and their stop command.

#include <cerrno>
#include <cstring>

#include "panelio/env.h"
#include "panelio/panelio.h"
#include "panelio/pass_through.h"

using kuv::DataDirection;
using kuv::DiskAccess;
using kuv::Env;
using kuv::KeepErrno;
using kuv::Status;

extern "C" std::uint32_t LcdSendLineData(std::int32_t driveNumber,
                                         const std::uint8_t* lineRecords) {
  errno = 0;
  if (!lineRecords) {
    errno = EINVAL;
    return kPanelBadHandle;
  }
  auto disk = Env().OpenDisk(driveNumber & 0xFF, DiskAccess::kReadWrite);
  if (!disk.ok()) {
    KeepErrno(disk.status());
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
    Status why;
    if (kuv::PassThroughDescribed(disk->get(), descriptor, cdb, buffer, &why) != 1) {
      KeepErrno(why);
      return kPanelLineRefused;
    }
  }
  return kPanelOk;
}

extern "C" std::uint32_t StopLcdTimer(std::int32_t driveNumber) {
  errno = 0;
  auto disk = Env().OpenDisk(driveNumber & 0xFF, DiskAccess::kReadWrite);
  if (!disk.ok()) {
    KeepErrno(disk.status());
    return kPanelStopRefused;
  }
  const std::uint8_t cdb[16] = {0x3B, 0x01, 0xE7};
  std::uint8_t zeros[8] = {};
  Status why;
  if (kuv::PassThrough16(disk->get(), cdb, false, zeros, &why) != kPanelOk) {
    KeepErrno(why);
    return kPanelStopRefused;
  }
  return kPanelOk;
}
