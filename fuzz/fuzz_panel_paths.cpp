// kuvlcd's panel paths file sits in the user's runtime folder, which another program of the user
// may have written: the decoder must never crash, and what it keeps must fit the record's field.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "app/model/panel_paths_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::optional<kuv::PanelPaths> decoded = kuv::DecodePanelPaths(bytes, "scope");
  if (!decoded) return 0;
  const kuv::PanelPaths& paths = *decoded;
  for (const auto& path : paths) {
    if (path.size() >= std::size(kuv::DriveRecord{}.hidPath)) __builtin_trap();
  }
  // What was kept writes out and reads back the same.
  if (kuv::DecodePanelPaths(kuv::EncodePanelPaths(paths, "scope"), "scope") != paths) {
    __builtin_trap();
  }
  return 0;
}
