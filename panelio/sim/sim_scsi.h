#pragma once
// The SCSI replies every simulated device shares.

#include <cstdint>

#include "panelio/env.h"

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

// ILLEGAL REQUEST, invalid field in the command block.
inline ScsiReply IllegalRequest() {
  return CheckCondition(0x05, 0x24);
}

}  // namespace kuv::sim
