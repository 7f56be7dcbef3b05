#pragma once
// The pass-through primitive in its two forms, the vendor panel queries built on it, and the
// hardware identifiers every part of the library shares.

#include <array>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <span>

#include "panelio/env.h"

namespace kuv {

inline constexpr std::uint16_t kPanelVendorId = 0x3E5B;
inline constexpr std::uint16_t kHidPanelProductId = 0x1110;
inline constexpr std::uint16_t kNonPanelBridgeProductId = 0x1106;
inline constexpr char kBridgeIdText[] = "MB86C3";
inline constexpr char kIntermediateNodePrefix[] = "TVQ1CR\\";
inline constexpr std::uint32_t kPassThroughTimeoutSeconds = 120;

// Errors of device operations that carry no errno of their own (a device that answered CHECK
// CONDITION) are reported as EIO.
void KeepErrno(const Status& status);

// Runs the body of an export, body(Status& why), and then sets errno from why: 0 on success, else
// the failing operation's errno. The body's handles are closed by then, so closing them cannot
// overwrite the reason the service reports as lastError.
template <typename Body>
auto RunExport(Body&& body) {
  Status why;
  auto result = body(why);
  errno = 0;
  KeepErrno(why);
  return result;
}

// ATA status register bits.
inline constexpr std::uint8_t kAtaStatusErr = 0x01;
inline constexpr std::uint8_t kAtaStatusDf = 0x20;
inline constexpr std::uint8_t kAtaStatusDrdy = 0x40;
inline constexpr std::uint8_t kAtaStatusBsy = 0x80;

// The ATA registers a translation layer returned in sense data, with the sense it came in.
struct AtaReturn {
  std::uint8_t senseKey = 0;
  std::uint8_t asc = 0;
  std::uint8_t ascq = 0;
  std::uint8_t error = 0;
  std::uint8_t status = 0;
  std::uint8_t count = 0;  // bits 7:0 of the count register
};

// The registers of an ATA Status Return descriptor (descriptor format 0x72/0x73, code 0x09), or of
// the information field of fixed format (0x70/0x71, VALID bit ignored, with ASC/ASCQ 0x00/0x1D):
// error, status, device, count. nullopt when the sense holds neither. Reads only within sense.
std::optional<AtaReturn> AtaReturnFromSense(std::span<const std::uint8_t> sense);

// Whether a reply to an ATA PASS-THROUGH command says the drive completed it: GOOD, or a CHECK
// CONDITION that only returns the ATA registers (sense key NO SENSE or RECOVERED ERROR, ASC/ASCQ
// 00/1D) with neither ERR nor DF in the returned status, which many SAT bridges send for every
// command.
bool AtaPassThroughSucceeded(const ScsiReply& reply);

// One ATA command by ATA PASS-THROUGH (16) on the disk: PIO data-in of one 512-byte sector (the
// sector count is at least 1 then, since the bridge takes the transfer length from it) or
// non-data. dataIn is written only when the drive completed the command and all 512 bytes came;
// a short transfer is an error.
Status AtaPassThroughCommand(Disk& disk, const AtaTaskFile& registers,
                             std::span<std::uint8_t> dataIn);

// Sends one command; ok only when it was delivered and the device answered GOOD on every level
// (for an ATA PASS-THROUGH command: completed, and with the whole data transferred).
Status SendScsi(Disk& disk, std::span<const std::uint8_t> cdb, DataDirection direction,
                std::span<std::uint8_t> data, std::uint8_t lun = 0);

// The 16-byte form: 16 command bytes, data in or out, 120 s, 32 bytes of sense. 0 on success,
// 0x8000000E when the request failed or the status is not 0, 0x80000001 for a null disk or a null
// buffer with a length. *why, when given, receives the failure.
std::uint32_t PassThrough16(Disk* disk, std::span<const std::uint8_t, 16> cdb, bool dataIn,
                            std::span<std::uint8_t> data, Status* why = nullptr);

// The descriptor form (line transfer): the command length, transfer length, direction and logical
// unit come from the descriptor.
struct PassThroughDescriptor {
  std::uint8_t cdbLength = 16;
  std::uint32_t transferLength = 0;
  DataDirection direction = DataDirection::kNone;
  std::uint8_t lun = 0;
};
// 1 when the command was accepted, 0 otherwise (also for null pointers or a length over 16).
int PassThroughDescribed(Disk* disk, const PassThroughDescriptor& descriptor,
                         const std::uint8_t* cdb, std::uint8_t* buffer, Status* why = nullptr);

// Vendor READ BUFFER queries of a bridge panel (0x3C, 0x01, id). Each answers 0 with the reply
// filled, or its own failure code with the reply left as it was.
std::uint32_t QueryPanelId(Disk& disk, std::array<std::uint8_t, 8>& reply);      // 0x55, 0x81000007
std::uint32_t QueryPanelState(Disk& disk, std::array<std::uint8_t, 12>& reply);  // 0x51, 0x81000008
std::uint32_t QueryPanelWord(Disk& disk, std::uint16_t& word);                   // 0xE4, 0x81000010

// True when the 8 reply bytes of query 0x55 contain "MB86C3".
bool IsBridgeIdText(std::span<const std::uint8_t, 8> reply);

// `connectionState` from byte 1 of query 0x51: bit 0 clear 1; set with bit 2 2, without 3.
std::int32_t ConnectionStateFromPanelState(std::uint8_t byte1);

// `panelModel` of a bridge enclosure from its USB product id.
std::int32_t PanelModelFromProduct(std::uint16_t product);

}  // namespace kuv
