// The sense data of CHECK POWER MODE comes from the disk or a USB bridge: decoding the count
// register must stay inside the buffer whatever lengths the descriptors claim.
#include <cstddef>
#include <cstdint>
#include <span>

#include "panelio/power_mode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::span<const std::uint8_t> sense(bytes, size);
  const std::optional<std::uint8_t> count = kuv::AtaCountFromSense(sense);
  const std::string_view name = kuv::PowerModeName(count);
  if (name.empty()) __builtin_trap();
  if (count && kuv::PowerModeAsleep(*count) != (name == "standby")) __builtin_trap();
  return 0;
}
