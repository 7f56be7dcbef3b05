// The disk helpers among the exports: a sector read that makes a drive busy, and sizes from a
// drive's own sectors.

#include "panelio/disk_helpers.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "panelio/panelio.h"
#include "panelio/pass_through.h"

namespace kuv {
namespace {

constexpr std::uint32_t kMaxBlockBytes = 65536;

}  // namespace

ReadAt DiskReadAt(Disk& disk) {
  return [&disk](std::uint64_t byteOffset, std::span<std::uint8_t> out) {
    Status s = disk.ReadAt(byteOffset, out);
    KeepErrno(s);
    return s.ok();
  };
}

SectorSizes ReadDiskSectorSizes(Disk& disk) {
  auto block = disk.LogicalBlockBytes();
  return ReadSectorSizes(DiskReadAt(disk), block.ok() ? *block : kSectorBytes);
}

Status ReadBlockFromMedium(Disk& disk, std::uint64_t lba) {
  auto block = disk.LogicalBlockBytes();
  if (!block.ok()) return block.status();
  if (*block < 512 || *block > kMaxBlockBytes || (*block & (*block - 1)) != 0)
    return Status(EINVAL, "logical block size " + std::to_string(*block));
  // Aligned to the page, which covers every logical block size up to it and O_DIRECT's demands.
  const std::align_val_t alignment{std::max<std::size_t>(*block, 4096)};
  auto release = [alignment](std::uint8_t* p) { ::operator delete[](p, alignment); };
  std::unique_ptr<std::uint8_t[], decltype(release)> buffer(
      static_cast<std::uint8_t*>(
          ::operator new[](static_cast<std::size_t>(alignment), alignment, std::nothrow)),
      release);
  if (!buffer) return Status(ENOMEM, "block buffer");
  return disk.ReadMedium(lba, std::span<std::uint8_t>(buffer.get(), *block));
}

Status CheckMediumRead(const std::string& disk, std::uint64_t lba,
                       std::span<const std::uint8_t> out, std::uint64_t block) {
  if (block == 0 || out.empty() || out.size() % block != 0 ||
      reinterpret_cast<std::uintptr_t>(out.data()) % block != 0)
    return PosixError("direct read of " + disk + ": not whole aligned blocks", EINVAL);
  if (lba > static_cast<std::uint64_t>(LLONG_MAX) / block - 1)
    return PosixError("read " + disk, EINVAL);
  return {};
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
    why = kuv::ReadBlockFromMedium(**disk, 1);
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
    kuv::SectorSizes sizes = kuv::ReadDiskSectorSizes(**disk);
    info->fileSystemType = sizes.fileSystemType;
    info->totalSectors = sizes.totalSectors;
    info->freeSectors = sizes.freeSectors;
    return 1;
  });
}
