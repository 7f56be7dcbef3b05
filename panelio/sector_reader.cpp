#include "panelio/sector_reader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <limits>
#include <utility>

#include "common/drive_record.h"
#include "panelio/file_io.h"
#include "panelio/unique_fd.h"

namespace kuv {

namespace {

using Sector = std::array<std::uint8_t, kSectorBytes>;

std::uint16_t Le16(const Sector& s, std::size_t at) {
  return static_cast<std::uint16_t>(s[at] | (s[at + 1] << 8));
}

std::uint32_t Le32(const Sector& s, std::size_t at) {
  return static_cast<std::uint32_t>(Le16(s, at)) |
         (static_cast<std::uint32_t>(Le16(s, at + 2)) << 16);
}

std::uint64_t Le64(const Sector& s, std::size_t at) {
  return static_cast<std::uint64_t>(Le32(s, at)) |
         (static_cast<std::uint64_t>(Le32(s, at + 4)) << 32);
}

std::uint32_t Be32(const Sector& s, std::size_t at) {
  return (static_cast<std::uint32_t>(s[at]) << 24) | (static_cast<std::uint32_t>(s[at + 1]) << 16) |
         (static_cast<std::uint32_t>(s[at + 2]) << 8) | s[at + 3];
}

std::uint64_t Be64(const Sector& s, std::size_t at) {
  return (static_cast<std::uint64_t>(Be32(s, at)) << 32) | Be32(s, at + 4);
}

std::optional<std::uint64_t> Multiply(std::uint64_t a, std::uint64_t b) {
  std::uint64_t product = 0;
  if (__builtin_mul_overflow(a, b, &product)) return std::nullopt;
  return product;
}

std::optional<std::uint64_t> Add(std::uint64_t a, std::uint64_t b) {
  std::uint64_t sum = 0;
  if (__builtin_add_overflow(a, b, &sum)) return std::nullopt;
  return sum;
}

// The caller's reader is outside code behind the C ABI: an empty or throwing one is a failed read.
bool ReadBytes(const ReadAt& readAt, std::optional<std::uint64_t> byteOffset, Sector& out) {
  if (!byteOffset || !readAt) return false;
  try {
    return readAt(*byteOffset, std::span<std::uint8_t>(out));
  } catch (...) {
    return false;
  }
}

// The disk's addressing: an LBA counts logical blocks of this many bytes; the structures read
// here all sit in the first 512 bytes of their block.
struct Lba {
  const ReadAt& readAt;
  std::uint64_t blockBytes;

  std::optional<std::uint64_t> Bytes(std::optional<std::uint64_t> lba) const {
    if (!lba) return std::nullopt;
    return Multiply(*lba, blockBytes);
  }
  bool Read(std::optional<std::uint64_t> lba, Sector& out) const {
    return ReadBytes(readAt, Bytes(lba), out);
  }
  // Bytes past the start of block lba (the ext superblock at 1024, the FSInfo sector).
  bool ReadPast(std::uint64_t lba, std::optional<std::uint64_t> offset, Sector& out) const {
    if (!offset) return false;
    auto start = Bytes(lba);
    return ReadBytes(readAt, start ? Add(*start, *offset) : std::nullopt, out);
  }
};

constexpr std::uint8_t kExtendedBootSignature = 0x29;
constexpr std::uint32_t kFsInfoLeadSignature = 0x41615252;
constexpr std::uint32_t kFsInfoStructSignature = 0x61417272;
constexpr std::uint32_t kFat32FreeUnknown = 0xFFFFFFFF;

// Sets fileSystemType 2 and the sizes when the partition's first sector is a FAT32 boot sector.
void ReadFat32(const Lba& disk, std::uint64_t start, SectorSizes& sizes) {
  Sector boot{};
  if (!disk.Read(start, boot) || boot[66] != kExtendedBootSignature) return;
  sizes.fileSystemType = kFsFat32;

  std::uint16_t bytesPerSector = Le16(boot, 11);
  std::uint8_t sectorsPerCluster = boot[13];
  std::uint16_t reservedSectors = Le16(boot, 14);
  std::uint8_t fatCount = boot[16];
  std::uint32_t volumeSectors = Le32(boot, 32);
  std::uint32_t sectorsPerFat = Le32(boot, 36);
  std::uint16_t fsInfoSector = Le16(boot, 48);

  // A damaged boot sector can claim more overhead than the volume has: no data area then.
  std::uint64_t overhead = reservedSectors + static_cast<std::uint64_t>(fatCount) * sectorsPerFat;
  std::uint64_t total = volumeSectors > overhead ? volumeSectors - overhead : 0;
  bool plausibleUnit =
      bytesPerSector >= 512 && bytesPerSector <= 4096 && std::has_single_bit(bytesPerSector);
  std::uint64_t unit = plausibleUnit ? bytesPerSector : kSectorBytes;
  sizes.totalSectors = total;
  sizes.totalBytes = total * unit;  // below 2^32 * 2^12

  // 0 and 0xFFFF mean the volume has no FSInfo sector.
  if (fsInfoSector == 0 || fsInfoSector == 0xFFFF) return;
  Sector info{};
  if (!disk.ReadPast(start, std::uint64_t{fsInfoSector} * unit, info)) return;
  if (Le32(info, 0) != kFsInfoLeadSignature || Le32(info, 484) != kFsInfoStructSignature) return;
  std::uint32_t freeClusters = Le32(info, 488);
  if (freeClusters == kFat32FreeUnknown) return;  // the volume never counted: report none free
  std::uint64_t free =
      std::min<std::uint64_t>(std::uint64_t{freeClusters} * sectorsPerCluster, total);
  sizes.freeSectors = free;
  sizes.freeBytes = free * unit;
}

void SetBlockSizes(SectorSizes& sizes, std::int32_t type, std::uint64_t blocks,
                   std::uint64_t freeBlocks, std::uint64_t blockSize, std::uint64_t totalBytes) {
  std::uint64_t free = std::min(freeBlocks, blocks);
  sizes.fileSystemType = type;
  sizes.totalSectors = blocks;
  sizes.freeSectors = free;
  sizes.totalBytes = totalBytes;
  sizes.freeBytes = free * blockSize;  // free <= blocks, so this cannot overflow either
}

enum class Probe { kFound, kAbsent, kReadFailed };

Probe ReadXfs(const Lba& disk, std::uint64_t start, SectorSizes& sizes) {
  Sector sb{};
  if (!disk.Read(start, sb)) return Probe::kReadFailed;
  if (std::memcmp(sb.data(), "XFSB", 4) != 0) return Probe::kAbsent;
  std::uint32_t blockSize = Be32(sb, 4);
  if (blockSize < 512 || blockSize > 65536 || !std::has_single_bit(blockSize))
    return Probe::kAbsent;
  std::uint64_t dataBlocks = Be64(sb, 8);
  auto totalBytes = Multiply(dataBlocks, blockSize);
  if (!totalBytes) return Probe::kAbsent;  // larger than any byte count: not a real superblock
  SetBlockSizes(sizes, kFsXfs, dataBlocks, Be64(sb, 144), blockSize, *totalBytes);
  return Probe::kFound;
}

constexpr std::uint16_t kExtMagic = 0xEF53;
constexpr std::uint32_t kExtMaxLogBlockSize = 6;  // 64 KiB blocks
constexpr std::uint32_t kExtIncompat64Bit = 0x80;

Probe ReadExt(const Lba& disk, std::uint64_t start, SectorSizes& sizes) {
  Sector sb{};
  if (!disk.ReadPast(start, 1024, sb)) return Probe::kReadFailed;
  if (Le16(sb, 56) != kExtMagic) return Probe::kAbsent;
  std::uint32_t logBlockSize = Le32(sb, 24);
  if (logBlockSize > kExtMaxLogBlockSize) return Probe::kAbsent;
  std::uint64_t blockSize = std::uint64_t{1024} << logBlockSize;
  std::uint64_t blocks = Le32(sb, 4);
  std::uint64_t freeBlocks = Le32(sb, 12);
  // Volumes past 2^32 blocks keep the high halves further on; without them the counts wrap.
  if (Le32(sb, 96) & kExtIncompat64Bit) {
    blocks |= std::uint64_t{Le32(sb, 0x150)} << 32;
    freeBlocks |= std::uint64_t{Le32(sb, 0x158)} << 32;
  }
  auto totalBytes = Multiply(blocks, blockSize);
  if (!totalBytes) return Probe::kAbsent;
  SetBlockSizes(sizes, kFsExt, blocks, freeBlocks, blockSize, *totalBytes);
  return Probe::kFound;
}

// The answer for a partition the system does not mount by itself: 1 when XFS or ext was found.
std::int32_t ReadLinuxFileSystem(const Lba& disk, std::uint64_t start, SectorSizes& sizes) {
  switch (ReadXfs(disk, start, sizes)) {
    case Probe::kFound:
      return 1;
    case Probe::kReadFailed:
      return 0;
    case Probe::kAbsent:
      break;
  }
  return ReadExt(disk, start, sizes) == Probe::kFound ? 1 : 0;
}

// {E3C9E316-0B5C-4DB8-817D-F92DF00215AE}: the platform's reserved partition, placed first on
// disks it partitioned itself, so the disk carries volumes the system mounts.
constexpr std::array<std::uint8_t, 4> kReservedPartitionPrefix = {0x16, 0xE3, 0xC9, 0xE3};

// Where the GPT entry array starts: the header's own field (LBA 1, "EFI PART"), or LBA 2 where the
// header is missing or names a place inside the header's own blocks.
std::uint64_t GptEntryLba(const Lba& disk) {
  Sector header{};
  if (!disk.Read(1, header) || std::memcmp(header.data(), "EFI PART", 8) != 0) return 2;
  std::uint64_t lba = Le64(header, 72);
  return lba >= 2 ? lba : 2;
}

}  // namespace

SectorSizes ReadSectorSizes(const ReadAt& readAt, std::uint32_t blockBytes) {
  SectorSizes sizes;
  if (blockBytes < kSectorBytes || blockBytes > 65536 || !std::has_single_bit(blockBytes))
    blockBytes = kSectorBytes;
  const Lba disk{readAt, blockBytes};
  Sector mbr{};
  if (!disk.Read(0, mbr)) return sizes;

  std::uint8_t type = mbr[450];
  std::uint64_t start = Le32(mbr, 454);
  switch (type) {
    case 0x01:
    case 0x04:
    case 0x06:
    case 0x07:
    case 0x0E:
    case 0x0F:
    case 0x42:
      sizes.answer = 0;
      break;
    case 0x0B:
    case 0x0C:
      ReadFat32(disk, start, sizes);
      sizes.answer = 0;
      break;
    case 0x83:
      sizes.answer = ReadLinuxFileSystem(disk, start, sizes);
      break;
    case 0xEE: {
      Sector entries{};
      if (!disk.Read(GptEntryLba(disk), entries)) return sizes;
      if (std::equal(kReservedPartitionPrefix.begin(), kReservedPartitionPrefix.end(),
                     entries.begin())) {
        sizes.answer = 0;
        break;
      }
      sizes.answer = ReadLinuxFileSystem(disk, Le64(entries, 32), sizes);
      break;
    }
    default:
      sizes.answer = 1;
      break;
  }
  return sizes;
}

ReadAt FdReadAt(int fd) {
  return [fd](std::uint64_t byteOffset, std::span<std::uint8_t> out) {
    constexpr auto kMaxOffset =
        static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (byteOffset > kMaxOffset || out.size() > kMaxOffset - byteOffset) return false;
    return PreadFull(fd, out, byteOffset) == static_cast<std::ptrdiff_t>(out.size());
  };
}

std::optional<SectorFile> SectorFile::Open(const std::string& path, int* error) {
  int fd = OpenFd(path, O_RDONLY);
  int reason = errno;
  if (fd >= 0) {
    FileStamp stamp;
    if (StampOfFd(fd, stamp) == 0 && stamp.directory) {
      ::close(fd);
      fd = -1;
      reason = EISDIR;
    }
  }
  if (fd < 0) {
    if (error) *error = reason;
    return std::nullopt;
  }
  return SectorFile(fd);
}

SectorFile::SectorFile(SectorFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

SectorFile& SectorFile::operator=(SectorFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

SectorFile::~SectorFile() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace kuv
