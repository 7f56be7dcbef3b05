#pragma once
// S.M.A.R.T. retrieval: IDENTIFY DEVICE, the attribute data sector and the threshold sector of one
// drive over whichever of three transports reaches it (the SATA filter on a Silicon Image adapter's
// port, the platform's own ATA route, ATA PASS-THROUGH through a USB bridge), and the parsing of
// what the drive returns. IDENTIFY and the sectors are outside bytes: every parser here reads
// exactly the 512 bytes it is given and nothing else.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "panelio/env.h"

namespace kuv {

inline constexpr std::size_t kAtaSectorBytes = 512;
using AtaSector = std::array<std::uint8_t, kAtaSectorBytes>;
using IdentifyView = std::span<const std::uint8_t, kAtaSectorBytes>;

inline constexpr std::size_t kSerialUnits = 21;  // 20 characters and the NUL

// The serial number of IDENTIFY words 10 to 19 (bytes swapped in each word, ATA string order) with
// its leading spaces skipped; trailing spaces stay. Bytes are taken one unit each (Latin-1), so a
// garbled serial still gives a defined text of at most 20 units; all spaces give "".
std::u16string SerialFromIdentify(IdentifyView identify);

// True when IDENTIFY reports the S.M.A.R.T. feature set (word 82 bit 0) and ATA-3 or later: word 80
// neither 0x0000 nor 0xFFFF, its highest set bit among bits 14 to 1 at position 3 or above.
bool SmartCapable(IdentifyView identify);

// Control codes of the SATA filter's requests.
enum class FilterCode : std::uint32_t {
  kIdentify = 0x1B0501,
  kReadData = 0x1B0502,
  kReadThresholds = 0x1B0503,
  kEnable = 0x1B0504,
};

inline constexpr std::size_t kFilterRequestBytes = 69;  // what the filter reads
inline constexpr std::size_t kFilterBufferBytes = 557;  // what it may write back
inline constexpr std::size_t kFilterDataOffset = 44;    // the 512 reply bytes start here

// The filter's request for code, addressed to the drive at path/target, in a zeroed 557-byte
// buffer (the first 69 bytes are the request).
std::array<std::uint8_t, kFilterBufferBytes> BuildFilterRequest(FilterCode code,
                                                                std::uint8_t pathId,
                                                                std::uint8_t targetId);

// The 512 reply bytes of a filter answer of `returned` bytes; nullopt when the answer is too short
// to hold them.
std::optional<AtaSector> FilterReplyData(std::span<const std::uint8_t> buffer,
                                         std::size_t returned);

// ATA PASS-THROUGH command blocks (unused bytes 0). subCommand is 0xD0 (READ DATA) or 0xD1 (READ
// THRESHOLDS).
std::array<std::uint8_t, 16> IdentifyCdb12();
std::array<std::uint8_t, 16> IdentifyCdb16();
std::array<std::uint8_t, 16> SmartReadCdb12(std::uint8_t subCommand);
std::array<std::uint8_t, 16> SmartReadCdb16(std::uint8_t subCommand);

// IDENTIFY DEVICE by ATA PASS-THROUGH on an open drive: the medium must answer CHECK VERIFY, then
// the 12-byte form is tried and, when refused, the 16-byte form. 0 with identify filled; 0x8000000E
// when the medium is not ready or both forms failed (identify then holds zeros or is untouched);
// 0x80000001 for a null disk.
std::uint32_t PassThroughIdentify(Disk* disk, std::span<std::uint8_t, kAtaSectorBytes> identify);

enum class SmartTransport { kNone, kFilter, kPlatform, kBridge };

// Where the outputs of ReadSmart go; a null pointer is not written.
struct SmartOutputs {
  std::uint8_t* thresholds = nullptr;  // 512 bytes
  std::uint8_t* data = nullptr;        // 512 bytes
  char16_t* serial = nullptr;          // 21 units
};

struct SmartOutcome {
  bool capable = false;  // the export's answer: S.M.A.R.T. supported, ATA-3 or later
  SmartTransport transport = SmartTransport::kNone;
  bool dataRead = false;
  bool thresholdsRead = false;
  Status why;  // the last failure met on the way, for errno
};

// The whole retrieval for one drive. A sector is written only when its read succeeded; the serial
// is written when IDENTIFY was taken (on the filter path always, even when the filter did not
// answer, which gives "").
SmartOutcome ReadSmart(DeviceEnv& env, int driveNumber, const SmartOutputs& out);

}  // namespace kuv
