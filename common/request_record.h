#pragma once
// The 9784-byte device request record: the program fills one, the service answers in the same
// record. The Windows programs share it byte for byte, so every offset is fixed and checked below.
// Command 6 reads the bytes from `path` on differently (a 32-unit path, `writeLength` and
// `writeData` running to the end of the record); its accessors work on the raw bytes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "common/drive_record.h"

namespace kuv {

inline constexpr std::size_t kRequestRecordSize = 9784;
inline constexpr std::size_t kRequestLineSlots = 96;
inline constexpr std::size_t kRequestLineSlotSize = 64;
inline constexpr std::size_t kRequestPathUnits = 260;
inline constexpr std::size_t kWritePathUnits = 32;  // command 6: the path ends before writeLength
inline constexpr std::size_t kWriteLengthOffset = 6224;
inline constexpr std::size_t kWriteDataOffset = 6228;
inline constexpr std::size_t kWriteDataMax = kRequestRecordSize - kWriteDataOffset;  // 3556

// Command codes of the request record.
enum RequestCommand : std::int32_t {
  kCmdGetLcdInfo = 1,
  kCmdSendLineData = 2,
  kCmdAddSataFilter = 3,
  kCmdAddSataFilterToo = 4,  // an older code for the same operation
  kCmdCreateDirectory = 5,
  kCmdWriteFile = 6,
  kCmdDeleteFile = 7,
  kCmdStopLcdTimer = 8,
  kCmdGetSmartInfo = 9,
  kCmdSetAutorun = 10,
  kCmdGetSizeFromSector = 11,
  // Codes the Windows programs never send: the same record, no field moved.
  kCmdGetSmartUnlessAsleep = 12,  // as 9, but a disk in standby or sleep is not read
  kCmdGetPowerMode = 13,          // ATA CHECK POWER MODE of the drive
};

// `result` of command 12 when the disk was asleep and nothing was read (driveInfo comes back as
// sent); otherwise command 12 answers as command 9.
inline constexpr std::int32_t kSmartSkippedAsleep = 2;
// `result` of command 13: the sector count register of CHECK POWER MODE (0x00 standby, 0x80 idle,
// 0xFF active ...), or kPowerModeUnknown when the disk could not be asked.
inline constexpr std::int32_t kPowerModeUnknown = -2;

// True for a command 13 answer of a disk whose platters are stopped: standby (0x00, 0x01) and the
// NV cache modes with the spindle down (0x40, 0x41).
constexpr bool PowerModeResultAsleep(std::int32_t result) {
  return result == 0x00 || result == 0x01 || result == 0x40 || result == 0x41;
}

struct RequestRecord {
  std::int32_t command;
  std::int32_t result;
  std::uint32_t lastError;
  std::int32_t driveNumber;
  std::uint8_t lineRecords[kRequestLineSlots][kRequestLineSlotSize];
  char16_t path[kRequestPathUnits];
  std::uint8_t spare[572];  // only command 6's writeData reaches into these bytes
  std::int32_t autoUpdateFlag;
  DriveRecord driveInfo;
  std::int32_t autorun;
  std::uint8_t reserved[4];

  // Command 6 view: the path as it must fit before writeLength (first 32 units).
  std::u16string_view WritePath() const;
  std::int32_t WriteLength() const;
  // The writeLength bytes to append; nullopt when writeLength is negative or beyond the field.
  std::optional<std::span<const std::uint8_t>> WriteData() const;
  // Sets the command 6 fields; false (record unchanged) when the path has 32 units or more or
  // the data is longer than 3556 bytes.
  bool SetWrite(std::u16string_view filePath, std::span<const std::uint8_t> data);

  // Commands 5 and 7: the path up to its NUL (the whole field when it has none).
  std::u16string_view Path() const;
  // False (path left empty) when the text does not fit with its NUL.
  bool SetPath(std::u16string_view text);

  std::span<std::uint8_t, kRequestLineSlotSize> LineSlot(std::size_t i) {
    return std::span<std::uint8_t, kRequestLineSlotSize>(lineRecords[i], kRequestLineSlotSize);
  }
  // Command 10 registers the program only when the low byte is 1.
  bool AutorunOn() const { return (autorun & 0xFF) == 1; }
  bool AutoUpdate() const { return (autoUpdateFlag & 0xFF) != 0; }
};

static_assert(sizeof(RequestRecord) == kRequestRecordSize);
static_assert(std::is_standard_layout_v<RequestRecord>);
static_assert(std::is_trivially_copyable_v<RequestRecord>);
static_assert(offsetof(RequestRecord, command) == 0);
static_assert(offsetof(RequestRecord, result) == 4);
static_assert(offsetof(RequestRecord, lastError) == 8);
static_assert(offsetof(RequestRecord, driveNumber) == 12);
static_assert(offsetof(RequestRecord, lineRecords) == 16);
static_assert(offsetof(RequestRecord, path) == 6160);
static_assert(offsetof(RequestRecord, spare) == 6680);
static_assert(offsetof(RequestRecord, autoUpdateFlag) == 7252);
static_assert(offsetof(RequestRecord, driveInfo) == 7256);
static_assert(offsetof(RequestRecord, autorun) == 9776);
static_assert(offsetof(RequestRecord, reserved) == 9780);
static_assert(offsetof(RequestRecord, path) + kWritePathUnits * 2 == kWriteLengthOffset);
static_assert(kWriteLengthOffset + 4 == kWriteDataOffset);
static_assert(kWriteDataMax == 3556);

// A zeroed record carrying only the command code, as every request starts.
RequestRecord MakeRequest(std::int32_t command);

// Requests as the program sends them; the rest of each record is zero.
RequestRecord GetLcdInfoRequest(std::int32_t driveNumber, std::u16string_view hidPath,
                                bool autoUpdate);
RequestRecord SendLineDataRequest(
    std::int32_t driveNumber,
    std::span<const std::uint8_t, kRequestLineSlots * kRequestLineSlotSize> slots);
RequestRecord DriveRequest(std::int32_t command, std::int32_t driveNumber);  // 8, 9, 11
RequestRecord GetSmartInfoRequest(std::int32_t driveNumber, const DriveRecord& info,
                                  bool unlessAsleep = false);
RequestRecord SetAutorunRequest(bool on);

// The record as the bytes that travel on the wire, and back.
std::span<const std::uint8_t, kRequestRecordSize> AsBytes(const RequestRecord& record);
std::span<std::uint8_t, kRequestRecordSize> AsWritableBytes(RequestRecord& record);

}  // namespace kuv
