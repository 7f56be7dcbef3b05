#pragma once
// For tests only: reads a QR code from a picture with zbar, the way a phone camera would see
// the panel (scaled up, any orientation). Present when the build found zbar.

#ifdef KUVLCD_HAVE_ZBAR
#include <zbar.h>

#include <string>
#include <vector>

#include "common/picture_io.h"

namespace kuv::testing {

inline std::string DecodeQrWithZbar(const Picture& picture) {
  constexpr int kScale = 4;
  const int width = picture.width * kScale;
  const int height = picture.height * kScale;
  std::vector<unsigned char> grey(static_cast<std::size_t>(width) *
                                  static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      grey[static_cast<std::size_t>(y * width + x)] =
          picture.at(x / kScale, y / kScale) == kWhite ? 255 : 0;
    }
  }
  zbar::ImageScanner scanner;
  scanner.set_config(zbar::ZBAR_NONE, zbar::ZBAR_CFG_ENABLE, 0);
  scanner.set_config(zbar::ZBAR_QRCODE, zbar::ZBAR_CFG_ENABLE, 1);
  zbar::Image image(static_cast<unsigned>(width), static_cast<unsigned>(height), "Y800",
                    grey.data(), grey.size());
  if (scanner.scan(image) <= 0) return "<nothing decoded>";
  return image.symbol_begin()->get_data();
}

}  // namespace kuv::testing
#endif
