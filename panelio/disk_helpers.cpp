// The disk helpers among the exports: a sector read that makes a drive busy, and sizes from a
// drive's own sectors.

#include "panelio/disk_helpers.h"

#include <cerrno>
#include <cstring>

#include "panelio/panelio.h"
#include "panelio/pass_through.h"

namespace kuv {

ReadAt DiskReadAt(Disk& disk) {
  return [&disk](std::uint64_t byteOffset, std::span<std::uint8_t> out) {
    Status s = disk.ReadAt(byteOffset, out);
    KeepErrno(s);
    return s.ok();
  };
}

}  // namespace kuv

extern "C" std::int32_t ReadSector0(std::uint32_t driveNumber) {
  return kuv::RunExport([&](kuv::Status& why) -> std::int32_t {
    if (driveNumber > 0x7FFFFFFF) {
      why = kuv::Status(ENOENT, "no such drive");
      return 0;
    }
    auto disk = kuv::Env().OpenDisk(static_cast<int>(driveNumber), kuv::DiskAccess::kRead);
    if (!disk.ok()) {
      why = disk.status();
      return 0;
    }
    std::uint8_t scratch[kuv::kSectorBytes];
    why = (*disk)->ReadAt(kuv::kSectorBytes, scratch);
    return why.ok() ? 1 : 0;
  });
}

extern "C" std::int32_t GetSizeFromSector(std::int32_t driveNumber, kuv::DriveRecord* info) {
  return kuv::RunExport([&](kuv::Status& why) -> std::int32_t {
    if (!info) {
      why = kuv::Status(EINVAL, "no drive record");
      return 0;
    }
    std::memset(static_cast<void*>(info), 0, sizeof *info);
    info->driveNumber = driveNumber;
    info->connectionState = 0;
    info->fileSystemType = kuv::kFsUnknown;
    auto disk = kuv::Env().OpenDisk(driveNumber, kuv::DiskAccess::kRead);
    if (!disk.ok()) {
      why = disk.status();
      return 0;
    }
    kuv::SectorSizes sizes = kuv::ReadSectorSizes(kuv::DiskReadAt(**disk));
    info->fileSystemType = sizes.fileSystemType;
    info->totalSectors = sizes.totalSectors;
    info->freeSectors = sizes.freeSectors;
    return 1;
  });
}
