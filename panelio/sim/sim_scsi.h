#pragma once
// The SCSI replies every simulated device shares.

#include <cstdint>

#include "panelio/env.h"
#include "panelio/sim/world.h"

namespace kuv::sim {

// CHECK CONDITION with fixed-format sense: the sense key and additional sense code.
inline ScsiReply CheckCondition(std::uint8_t key, std::uint8_t asc) {
  ScsiReply reply;
  reply.scsiStatus = 0x02;
  reply.senseLength = 18;
  reply.sense[0] = 0x70;
  reply.sense[2] = key;
  reply.sense[7] = 10;
  reply.sense[12] = asc;
  return reply;
}

// CHECK CONDITION, RECOVERED ERROR, "ATA pass-through information available" (00/1D), with the
// ATA registers a translation layer returns: in an ATA Status Return descriptor, or in the
// information field of fixed-format sense (error, status, device, count; VALID set), as libata
// fills them.
inline ScsiReply AtaRegistersReply(SenseFormat format, std::uint8_t status, std::uint8_t count) {
  ScsiReply reply;
  reply.scsiStatus = 0x02;
  if (format == SenseFormat::kFixed) {
    reply.senseLength = 18;
    reply.sense[0] = 0xF0;
    reply.sense[2] = 0x01;
    reply.sense[4] = status;
    reply.sense[6] = count;
    reply.sense[7] = 10;
    reply.sense[13] = 0x1D;
    return reply;
  }
  reply.senseLength = 22;
  reply.sense[0] = 0x72;
  reply.sense[1] = 0x01;
  reply.sense[3] = 0x1D;
  reply.sense[7] = 14;
  reply.sense[8] = 0x09;
  reply.sense[9] = 0x0C;
  reply.sense[13] = count;
  reply.sense[21] = status;
  return reply;
}

// ILLEGAL REQUEST, invalid field in the command block.
inline ScsiReply IllegalRequest() {
  return CheckCondition(0x05, 0x24);
}

}  // namespace kuv::sim
