// /proc/self/mountinfo holds paths any user can choose (a mount point with escapes, spaces, odd
// bytes): parsing must take every line apart without reading past it. Volume labels, which anyone
// who formats a stick chooses, come through udev's escapes the same way.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "panelio/linux/mountinfo.h"
#include "panelio/linux/udev_walk.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const kuv::MountEntry& entry : kuv::ParseMountInfo(text)) {
    // Unescaping only ever shortens a field.
    if (entry.mountPoint.size() > size || entry.source.size() > size) __builtin_trap();
  }
  // Undoing \xNN escapes only ever shortens the label.
  if (kuv::VolumeLabel(text, "").size() > size) __builtin_trap();
  return 0;
}
