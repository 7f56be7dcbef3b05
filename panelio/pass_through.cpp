#include "panelio/pass_through.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "panelio/panelio.h"

namespace kuv {

void KeepErrno(const Status& status) {
  if (!status.ok()) errno = status.code() > 0 ? status.code() : EIO;
}

Status SendScsi(Disk& disk, std::span<const std::uint8_t> cdb, DataDirection direction,
                std::span<std::uint8_t> data, std::uint8_t lun) {
  auto reply = disk.Scsi({.cdb = cdb,
                          .direction = direction,
                          .data = data,
                          .timeoutSeconds = kPassThroughTimeoutSeconds,
                          .lun = lun});
  if (!reply.ok()) return reply.status();
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
