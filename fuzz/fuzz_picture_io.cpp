// Picture files come from users and from the simulator's state folder; the readers must refuse
// anything malformed with an error, never crash, and what they accept must survive a round trip.
#include <cstddef>
#include <cstdint>
#include <span>

#include "common/picture_io.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  for (const kuv::PictureResult& result :
       {kuv::DecodePbm(bytes), kuv::DecodePng(bytes), kuv::DecodePicture(bytes)}) {
    if (!result) {
      if (result.error.empty()) __builtin_trap();
      continue;
    }
    const kuv::Picture& picture = *result.picture;
    if (picture.width < 1 || picture.height < 1 || picture.width > kuv::kMaxPictureSide ||
        picture.height > kuv::kMaxPictureSide ||
        picture.dots.size() != static_cast<std::size_t>(picture.width) * picture.height) {
      __builtin_trap();
    }
    const kuv::PictureResult again = kuv::DecodePbm(kuv::EncodePbm(picture));
    if (!again || !(*again.picture == picture)) __builtin_trap();
  }
  return 0;
}
