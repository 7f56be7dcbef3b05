#pragma once
// The sector reader: finds the file-system type, size and free space of a drive from its own
// partition table and file-system structures, for drives whose volume the system does not mount
// (video-recorder disks with XFS or ext, unpartitioned disks). It depends on nothing but bytes, so
// the Linux backend, the simulator and tests all feed it through a ReadAt.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace kuv {

inline constexpr std::size_t kSectorBytes = 512;

// Reads exactly out.size() bytes at byteOffset from the start of the drive. False when the read
// fails or comes up short (past the end of the drive); out's content is then unspecified.
using ReadAt = std::function<bool(std::uint64_t byteOffset, std::span<std::uint8_t> out)>;

// What the sector reader found. Counts are 0 when not found.
struct SectorSizes {
  // 1: the sizes must come from the sectors (a file system the system does not mount, or no
  // recognised partition); 0: the first partition holds a volume the system mounts (NTFS, FAT,
  // FAT32, exFAT ...), so the caller asks the volume, or sector 0 could not be read.
  std::int32_t answer = 0;
  // 0 none or unknown, 2 FAT32, 4 XFS, 5 ext2/3/4 (the values of DriveRecord::fileSystemType).
  std::int32_t fileSystemType = 0;
  // FAT32: sectors of the data area and free sectors, in the volume's sector unit (512 bytes on
  // every real volume). XFS and ext: file-system blocks.
  std::uint64_t totalSectors = 0;
  std::uint64_t freeSectors = 0;
  // The same sizes in bytes; GetLcdInfo takes totalMB and freeMB from them (>> 20).
  std::uint64_t totalBytes = 0;
  std::uint64_t freeBytes = 0;
};

// Runs the sector reader over a drive whose LBAs count blockBytes (512, or 4096 on a 4Kn disk;
// anything else not a power of two from 512 to 65536 is taken as 512): block 0 (the first
// partition entry of the MBR, or the first entry of the GPT entry array, found from the GPT header
// in block 1, behind a protective entry 0xEE), then the first partition's boot sector or
// superblock. All reads are 512 bytes at 64-bit byte offsets. Outside bytes are never trusted:
// a failed or short read ends the reader with what it found so far, an implausible superblock
// (block size out of range, a size that does not fit in 64 bits) is not recognised, free counts
// are never above totals, and FAT32's "free count unknown" gives 0 free. Never throws.
//
// GetSizeFromSector stores fileSystemType, totalSectors and freeSectors; GetLcdInfo also uses
// answer and, when fileSystemType is not 0, totalBytes and freeBytes.
SectorSizes ReadSectorSizes(const ReadAt& readAt, std::uint32_t blockBytes = kSectorBytes);

// A ReadAt over an open file descriptor (image file or block device) with pread; does not own fd,
// which must outlive the returned function.
ReadAt FdReadAt(int fd);

// An image file or block device opened read-only for the sector reader; closes it when destroyed.
class SectorFile {
 public:
  // Opens path for reading. nullopt when it cannot be opened; *error then holds the errno.
  static std::optional<SectorFile> Open(const std::string& path, int* error = nullptr);

  SectorFile(SectorFile&& other) noexcept;
  SectorFile& operator=(SectorFile&& other) noexcept;
  SectorFile(const SectorFile&) = delete;
  SectorFile& operator=(const SectorFile&) = delete;
  ~SectorFile();

  // Valid while this object lives.
  ReadAt Reader() const { return FdReadAt(fd_); }
  int fd() const { return fd_; }

 private:
  explicit SectorFile(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace kuv
