// /proc/self/mountinfo holds paths any user can choose (a mount point with escapes, spaces, odd
// bytes): parsing must take every line apart without reading past it. Volume labels, which anyone
// who formats a stick chooses, come through udev's escapes the same way.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/utf16.h"
#include "panelio/linux/mountinfo.h"
#include "panelio/linux/udev_walk.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const kuv::MountEntry& entry : kuv::ParseMountInfo(text)) {
    // Unescaping only ever shortens a field.
    if (entry.mountPoint.size() > size || entry.source.size() > size) __builtin_trap();
  }
  // A label always comes out as UTF-8, whatever bytes the volume holds; a code-page byte takes
  // at most three bytes of UTF-8.
  for (auto codePage : {kuv::CodePage::kWindows1252, kuv::CodePage::kCp932}) {
    const std::string label = kuv::VolumeLabel(text, "", codePage);
    if (label.size() > 3 * size || !kuv::IsUtf8(label)) __builtin_trap();
  }
  return 0;
}
