// kuvlcd sim plug and unplug rewrite world.json: any text must give a world text or a clear error,
// and unplugging then plugging a device must give a world that can be changed again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "panelio/sim/world_plug.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const char* name : {"tray2", "usb-bridge", "disk3", "bridge1"}) {
    for (bool plug : {false, true}) {
      auto out = kuv::sim::ChangePlug(text, name, plug);
      if (!out.ok()) {
        if (out.status().context().empty()) __builtin_trap();
        continue;
      }
      auto back = kuv::sim::ChangePlug(*out, name, !plug);
      if (!back.ok() && back.status().code() == EINVAL) __builtin_trap();
    }
  }
  return 0;
}
