#include "panelio/pass_through.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include "panelio/panelio.h"

namespace kuv {

void KeepErrno(const Status& status) {
  if (!status.ok()) errno = status.code() > 0 ? status.code() : EIO;
}

namespace {

constexpr std::uint8_t kDriverSense = 0x08;  // the driver only says sense data came along

bool IsAtaPassThrough(std::span<const std::uint8_t> cdb) {
  return !cdb.empty() && (cdb[0] == 0x85 || cdb[0] == 0xA1);
}

}  // namespace

std::optional<AtaReturn> AtaReturnFromSense(std::span<const std::uint8_t> s) {
  if (s.size() < 8) return std::nullopt;
  const std::uint8_t code = s[0] & 0x7F;
  AtaReturn r;
  if (code == 0x72 || code == 0x73) {
    r.senseKey = s[1] & 0x0F;
    r.asc = s[2];
    r.ascq = s[3];
    // Descriptors follow the header; the ATA status return (type 9) holds the registers.
    const std::size_t end = std::min<std::size_t>(s.size(), 8 + std::size_t{s[7]});
    for (std::size_t at = 8; at + 2 <= end;) {
      const std::size_t size = 2 + std::size_t{s[at + 1]};
      if (at + size > end) break;
      if (s[at] == 0x09 && size >= 14) {
        r.error = s[at + 3];
        r.count = s[at + 5];
        r.status = s[at + 13];
        return r;
      }
      at += size;
    }
    return std::nullopt;
  }
  if (code == 0x70 || code == 0x71) {
    if (s.size() < 14) return std::nullopt;
    r.senseKey = s[2] & 0x0F;
    r.asc = s[12];
    r.ascq = s[13];
    // Only "ATA pass-through information available" puts the registers in the information field.
    if (r.asc != 0x00 || r.ascq != 0x1D) return std::nullopt;
    r.error = s[3];
    r.status = s[4];
    r.count = s[6];
    return r;
  }
  return std::nullopt;
}

bool AtaPassThroughSucceeded(const ScsiReply& reply) {
  if (reply.Good()) return true;
  if (reply.scsiStatus != 0x02 || reply.hostStatus != 0 || (reply.driverStatus & ~kDriverSense))
    return false;
  const std::size_t length = std::min<std::size_t>(reply.senseLength, reply.sense.size());
  std::optional<AtaReturn> ata =
      AtaReturnFromSense(std::span<const std::uint8_t>(reply.sense.data(), length));
  if (!ata || ata->senseKey > 1 || ata->asc != 0x00 || ata->ascq != 0x1D) return false;
  return (ata->status & (kAtaStatusErr | kAtaStatusDf)) == 0;
}

Status AtaPassThroughCommand(Disk& disk, const AtaTaskFile& r, std::span<std::uint8_t> dataIn) {
  if (!dataIn.empty() && dataIn.size() != 512) return Status(EINVAL, "ATA data length");
  const bool in = !dataIn.empty();
  // PIO data-in with the length in the sector count (T_LENGTH 2, in blocks), or non-data.
  const std::uint8_t count = in ? std::max<std::uint8_t>(r.sectorCount, 1) : r.sectorCount;
  const std::uint8_t cdb[16] = {0x85,
                                static_cast<std::uint8_t>(in ? 4 << 1 : 3 << 1),
                                static_cast<std::uint8_t>(in ? 0x0E : 0x00),
                                0,
                                r.features,
                                0,
                                count,
                                0,
                                r.lbaLow,
                                0,
                                r.lbaMid,
                                0,
                                r.lbaHigh,
                                r.device,
                                r.command,
                                0};
  // Zeroed, so nothing of an earlier use can pass for the drive's answer.
  std::array<std::uint8_t, 512> buffer{};
  Status why = SendScsi(disk, cdb, in ? DataDirection::kIn : DataDirection::kNone,
                        in ? std::span<std::uint8_t>(buffer) : std::span<std::uint8_t>());
  if (!why.ok()) return why;
  if (in) std::copy(buffer.begin(), buffer.end(), dataIn.begin());
  return {};
}

Status SendScsi(Disk& disk, std::span<const std::uint8_t> cdb, DataDirection direction,
                std::span<std::uint8_t> data, std::uint8_t lun) {
  auto reply = disk.Scsi({.cdb = cdb,
                          .direction = direction,
                          .data = data,
                          .timeoutSeconds = kPassThroughTimeoutSeconds,
                          .lun = lun});
  if (!reply.ok()) return reply.status();
  if (IsAtaPassThrough(cdb)) {
    char what[80];
    if (!AtaPassThroughSucceeded(*reply)) {
      std::snprintf(what, sizeof what,
                    "ATA PASS-THROUGH 0x%02X: status 0x%02X host 0x%02X driver 0x%02X", cdb[0],
                    reply->scsiStatus, reply->hostStatus, reply->driverStatus);
      return Status(EIO, what);
    }
    // A short transfer would leave part of the sector as whatever the buffer held before.
    if (direction == DataDirection::kIn && reply->residual != 0) {
      std::snprintf(what, sizeof what, "ATA PASS-THROUGH 0x%02X: %u bytes not transferred", cdb[0],
                    static_cast<unsigned>(reply->residual));
      return Status(EIO, what);
    }
    return {};
  }
  if (!reply->Good()) {
    char what[64];
    std::snprintf(what, sizeof what, "SCSI 0x%02X: status 0x%02X host 0x%02X driver 0x%02X",
                  cdb.empty() ? 0 : cdb[0], reply->scsiStatus, reply->hostStatus,
                  reply->driverStatus);
    return Status(EIO, what);
  }
  return {};
}

std::uint32_t PassThrough16(Disk* disk, std::span<const std::uint8_t, 16> cdb, bool dataIn,
                            std::span<std::uint8_t> data, Status* why) {
  if (!disk || (data.data() == nullptr && !data.empty())) {
    if (why) *why = Status(EINVAL, "pass-through: no disk or buffer");
    return kPanelBadHandle;
  }
  DataDirection direction = dataIn ? DataDirection::kIn : DataDirection::kOut;
  if (data.empty()) direction = DataDirection::kNone;
  Status s = SendScsi(*disk, cdb, direction, data);
  if (why) *why = s;
  return s.ok() ? kPanelOk : kPanelPassThroughFailed;
}

int PassThroughDescribed(Disk* disk, const PassThroughDescriptor& d, const std::uint8_t* cdb,
                         std::uint8_t* buffer, Status* why) {
  if (!disk || !cdb || d.cdbLength == 0 || d.cdbLength > 16 || (!buffer && d.transferLength > 0)) {
    if (why) *why = Status(EINVAL, "pass-through: bad descriptor");
    return 0;
  }
  std::span<std::uint8_t> data;
  if (d.transferLength > 0) data = std::span<std::uint8_t>(buffer, d.transferLength);
  Status s = SendScsi(*disk, std::span<const std::uint8_t>(cdb, d.cdbLength),
                      d.transferLength > 0 ? d.direction : DataDirection::kNone, data, d.lun);
  if (why) *why = s;
  return s.ok() ? 1 : 0;
}

namespace {

// READ BUFFER, vendor mode, into a scratch buffer first so a failed query leaves the reply alone.
template <std::size_t N>
bool ReadBuffer(Disk& disk, std::uint8_t id, std::array<std::uint8_t, N>& reply) {
  std::array<std::uint8_t, 16> cdb{0x3C, 0x01, id};
  std::array<std::uint8_t, N> scratch{};
  Status why;
  if (PassThrough16(&disk, cdb, true, scratch, &why) != kPanelOk) {
    KeepErrno(why);
    return false;
  }
  reply = scratch;
  return true;
}

}  // namespace

std::uint32_t QueryPanelId(Disk& disk, std::array<std::uint8_t, 8>& reply) {
  return ReadBuffer(disk, 0x55, reply) ? kPanelOk : kPanelIdQueryFailed;
}

std::uint32_t QueryPanelState(Disk& disk, std::array<std::uint8_t, 12>& reply) {
  return ReadBuffer(disk, 0x51, reply) ? kPanelOk : kPanelStateQueryFailed;
}

std::uint32_t QueryPanelWord(Disk& disk, std::uint16_t& word) {
  std::array<std::uint8_t, 8> reply{};
  if (!ReadBuffer(disk, 0xE4, reply)) return kPanelWordQueryFailed;
  word = static_cast<std::uint16_t>(reply[0] | reply[1] << 8);
  return kPanelOk;
}

bool IsBridgeIdText(std::span<const std::uint8_t, 8> reply) {
  constexpr std::size_t n = sizeof kBridgeIdText - 1;
  for (std::size_t i = 0; i + n <= reply.size(); ++i)
    if (std::memcmp(reply.data() + i, kBridgeIdText, n) == 0) return true;
  return false;
}

std::int32_t ConnectionStateFromPanelState(std::uint8_t byte1) {
  if (!(byte1 & 0x01)) return kBridgePlain;
  return (byte1 & 0x04) ? kBridgeLocked : kBridgeUnlocked;
}

std::int32_t PanelModelFromProduct(std::uint16_t product) {
  switch (product) {
    case 0x1101:
    case 0x1103:
      return 1;
    case 0x1104:
      return 2;
    case 0x1105:
      return 3;
    default:
      return 4;
  }
}

}  // namespace kuv
