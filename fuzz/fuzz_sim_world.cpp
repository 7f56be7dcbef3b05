// world.json is written by hand or by scripts and read by a service running as root: any text must
// give a world or a clear error, and a world it gives must hold only the values it checked.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "panelio/sim/world.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto world = kuv::sim::ParseWorld(text, "/world");
  if (!world.ok()) {
    if (world.status().context().empty()) __builtin_trap();
    return 0;
  }
  for (const auto& disk : world->disks) {
    if (disk.number < 0 || disk.number > 31) __builtin_trap();
    if (disk.bridgePanel && disk.bridgePanel->idText.size() > 8) __builtin_trap();
    if (!disk.adapter.empty() && !world->FindAdapter(disk.adapter)) __builtin_trap();
  }
  for (const auto& hid : world->hidPanels)
    if (hid.name.empty() || hid.name.find('/') != std::string::npos) __builtin_trap();
  return 0;
}
