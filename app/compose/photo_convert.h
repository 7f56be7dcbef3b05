#pragma once
// Any picture made into a panel picture: fitted into 96x96 with its aspect kept, then made black
// and white by error diffusion (for photos) or a plain threshold (for line art).

#include <cstdint>
#include <vector>

#include "app/compose/bmp_file.h"

namespace kuv {

// An 8-bit grey picture, row-major from the top-left, 0 black to 255 white.
struct GreyImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> grey;
};

// A dot of a colour picture as grey on white paper (transparent parts are white), in the luma
// weights of a photograph; the picture loaders of both platforms convert with it.
inline std::uint8_t GreyOverWhite(int red, int green, int blue, int alpha) {
  const int luma = (red * 299 + green * 587 + blue * 114) / 1000;
  return static_cast<std::uint8_t>((luma * alpha + 255 * (255 - alpha)) / 255);
}

struct PhotoOptions {
  bool dither = true;   // error diffusion; off gives a plain threshold for line art
  int threshold = 128;  // grey values at or above it become white (0 to 256)
};

// A 96x96 grey picture: the source scaled by area averaging to fit, centred on white. An empty
// or inconsistent source gives a white picture.
GreyImage FitToPanel(const GreyImage& source);

// The standard black-then-white picture of a fitted grey picture.
BmpImage ConvertPhoto(const GreyImage& source, const PhotoOptions& options);

}  // namespace kuv
