#pragma once
// Reading a drive's own sectors through the environment.

#include <cstdint>
#include <span>
#include <string>

#include "panelio/env.h"
#include "panelio/sector_reader.h"

namespace kuv {

// A ReadAt over an open disk for the sector reader; disk must outlive it.
ReadAt DiskReadAt(Disk& disk);

// The sector reader over an open disk, in the disk's own logical block size.
SectorSizes ReadDiskSectorSizes(Disk& disk);

// Reads one logical block of the drive from its medium (past the page cache), into a buffer
// aligned for it, so the drive itself sees the read: what an HID panel reports as activity.
Status ReadBlockFromMedium(Disk& disk, std::uint64_t lba);

// What every backend demands of a read straight from the medium, as O_DIRECT does of a block
// device: whole logical blocks into a buffer aligned to them, at a byte offset a signed 64-bit
// offset holds. EINVAL naming the disk otherwise.
Status CheckMediumRead(const std::string& disk, std::uint64_t lba,
                       std::span<const std::uint8_t> out, std::uint64_t block);

}  // namespace kuv
