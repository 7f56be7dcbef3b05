// A bridge's reply to ATA PASS-THROUGH is outside bytes: sense data of any format and length must
// be judged without reading past what the device wrote, and never taken as success with ERR set.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "panelio/pass_through.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  kuv::ScsiReply reply;
  reply.scsiStatus = data[0];
  reply.hostStatus = data[1];
  reply.driverStatus = data[2];
  reply.senseLength = data[3];
  std::size_t n = std::min(size - 4, reply.sense.size());
  std::memcpy(reply.sense.data(), data + 4, n);
  bool ok = kuv::AtaPassThroughSucceeded(reply);
  // Bytes past senseLength must not change the verdict.
  std::size_t valid = std::min<std::size_t>(reply.senseLength, reply.sense.size());
  kuv::ScsiReply masked = reply;
  std::fill(masked.sense.begin() + static_cast<std::ptrdiff_t>(valid), masked.sense.end(), 0xFF);
  if (kuv::AtaPassThroughSucceeded(masked) != ok) __builtin_trap();
  if (ok && !reply.Good() && reply.hostStatus != 0) __builtin_trap();
  return 0;
}
