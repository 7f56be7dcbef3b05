// The sector reader sees whatever is on a drive: any bytes, any length, must give a defined answer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "panelio/sector_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kuv::ReadAt readAt = [data, size](std::uint64_t offset, std::span<std::uint8_t> out) {
    if (out.size() != kuv::kSectorBytes) __builtin_trap();
    if (offset > size || out.size() > size - offset) return false;
    std::memcpy(out.data(), data + offset, out.size());
    return true;
  };
  // The same bytes as a disk of 512-byte and of 4096-byte logical blocks.
  for (std::uint32_t block : {512u, 4096u}) {
    kuv::SectorSizes sizes = kuv::ReadSectorSizes(readAt, block);
    if (sizes.answer != 0 && sizes.answer != 1) __builtin_trap();
    switch (sizes.fileSystemType) {
      case 0:
        if (sizes.totalSectors || sizes.freeSectors || sizes.totalBytes || sizes.freeBytes) {
          __builtin_trap();
        }
        break;
      case 2:
      case 4:
      case 5:
        break;
      default:
        __builtin_trap();
    }
    if (sizes.freeSectors > sizes.totalSectors || sizes.freeBytes > sizes.totalBytes)
      __builtin_trap();
  }
  return 0;
}
