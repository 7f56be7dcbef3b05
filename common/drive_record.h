#pragma once
// The 2520-byte drive information record. GetLcdInfo fills it, the device request record carries
// it and the program keeps one per slot; the Windows programs share the layout, so every offset is
// fixed below and checked at compile time.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

namespace kuv {

static_assert(std::endian::native == std::endian::little,
              "the shared records are little-endian and are copied as bytes");

inline constexpr std::int32_t kEmptyDriveNumber = -10;
inline constexpr std::size_t kSmartSectorSize = 512;

// Values of `connectionState`.
enum ConnectionState : std::int32_t {
  kBridgePlain = 1,
  kBridgeLocked = 2,
  kBridgeUnlocked = 3,
  kNotSiliconImageHost = 4,
  kSiliconImageWithFilter = 5,
  kSiliconImageWithoutFilter = 6,
  kNoPanel = 7,
  kHidUntied = 8,
};

// Values of `fileSystemType`. 4 and 5 are disks a video recorder formatted: XFS or ext volumes
// that are not mounted, or mounted read-only. Any other file system this machine mounts
// read-write is an ordinary drive like NTFS (7): `fileSystem` carries the kernel's name for it
// ("ext4", "xfs", "btrfs", ...), and its settings live on the volume.
enum FileSystemType : std::int32_t {
  kFsUnknown = 0,
  kFsNtfs = 1,
  kFsFat32 = 2,
  kFsFat = 3,
  kFsXfs = 4,
  kFsExt = 5,
  kFsExfat = 6,
  kFsOtherReadWrite = 7,
};

struct DriveRecord {
  std::uint8_t smartThresholds[512];
  std::uint8_t smartData[512];
  std::uint16_t panelState;
  char16_t volumeLabel[36];
  char16_t driveLetter[128];
  char16_t friendlyName[260];
  char16_t serialNumber[21];
  char16_t fileSystem[16];
  std::int32_t panelModel;
  std::int32_t driveNumber;
  std::uint32_t totalMB;
  std::uint32_t freeMB;
  std::uint8_t reserved[4];
  std::uint64_t totalSectors;
  std::uint64_t freeSectors;
  std::int32_t connectionState;
  std::int32_t fileSystemType;
  char16_t hidPath[260];
  std::int32_t health;
  std::int32_t temperature;
};

static_assert(sizeof(DriveRecord) == 2520);
static_assert(offsetof(DriveRecord, smartThresholds) == 0);
static_assert(offsetof(DriveRecord, smartData) == 512);
static_assert(offsetof(DriveRecord, panelState) == 1024);
static_assert(offsetof(DriveRecord, volumeLabel) == 1026);
static_assert(offsetof(DriveRecord, driveLetter) == 1098);
static_assert(offsetof(DriveRecord, friendlyName) == 1354);
static_assert(offsetof(DriveRecord, serialNumber) == 1874);
static_assert(offsetof(DriveRecord, fileSystem) == 1916);
static_assert(offsetof(DriveRecord, panelModel) == 1948);
static_assert(offsetof(DriveRecord, driveNumber) == 1952);
static_assert(offsetof(DriveRecord, totalMB) == 1956);
static_assert(offsetof(DriveRecord, freeMB) == 1960);
static_assert(offsetof(DriveRecord, reserved) == 1964);
static_assert(offsetof(DriveRecord, totalSectors) == 1968);
static_assert(offsetof(DriveRecord, freeSectors) == 1976);
static_assert(offsetof(DriveRecord, connectionState) == 1984);
static_assert(offsetof(DriveRecord, fileSystemType) == 1988);
static_assert(offsetof(DriveRecord, hidPath) == 1992);
static_assert(offsetof(DriveRecord, health) == 2512);
static_assert(offsetof(DriveRecord, temperature) == 2516);
static_assert(std::is_trivially_copyable_v<DriveRecord>);

// An empty slot: all zero but `driveNumber` -10.
DriveRecord EmptyDriveRecord();

// The layout rule: drives with file-system type 2, 4 or 5 get the bar layout.
constexpr bool UsesBarLayout(std::int32_t fileSystemType) {
  return fileSystemType == kFsFat32 || fileSystemType == kFsXfs || fileSystemType == kFsExt;
}

// Drives formatted by a video recorder keep their settings in the profile, not on the drive.
constexpr bool IsVideoRecorderDisk(std::int32_t fileSystemType) {
  return fileSystemType == kFsXfs || fileSystemType == kFsExt;
}

// The record as the bytes that travel on the wire, and back.
std::span<const std::uint8_t, sizeof(DriveRecord)> AsBytes(const DriveRecord& record);
DriveRecord DriveRecordFromBytes(std::span<const std::uint8_t, sizeof(DriveRecord)> bytes);

}  // namespace kuv
