#include "app/compose/photo_convert.h"

#include <algorithm>
#include <cmath>

#include "common/picture_io.h"

namespace kuv {
namespace {

constexpr int kSide = kPanelSide;
constexpr std::uint8_t kPaper = 255;

}  // namespace

GreyImage FitToPanel(const GreyImage& source) {
  GreyImage out{kSide, kSide, std::vector<std::uint8_t>(kSide * kSide, kPaper)};
  if (source.width <= 0 || source.height <= 0 ||
      source.grey.size() !=
          static_cast<std::size_t>(source.width) * static_cast<std::size_t>(source.height)) {
    return out;
  }
  // The longer side becomes 96 dots; the shorter keeps the proportion, at least one dot.
  const double scale = static_cast<double>(kSide) / std::max(source.width, source.height);
  const int w = std::clamp(static_cast<int>(std::lround(source.width * scale)), 1, kSide);
  const int h = std::clamp(static_cast<int>(std::lround(source.height * scale)), 1, kSide);
  const int left = (kSide - w) / 2;
  const int top = (kSide - h) / 2;
  for (int y = 0; y < h; ++y) {
    // Each target dot averages the source area it covers; enlarging takes the nearest dot.
    const double sy0 = static_cast<double>(y) * source.height / h;
    const double sy1 = static_cast<double>(y + 1) * source.height / h;
    const int y0 = std::min(static_cast<int>(sy0), source.height - 1);
    const int y1 = std::clamp(static_cast<int>(std::ceil(sy1)), y0 + 1, source.height);
    for (int x = 0; x < w; ++x) {
      const double sx0 = static_cast<double>(x) * source.width / w;
      const double sx1 = static_cast<double>(x + 1) * source.width / w;
      const int x0 = std::min(static_cast<int>(sx0), source.width - 1);
      const int x1 = std::clamp(static_cast<int>(std::ceil(sx1)), x0 + 1, source.width);
      std::uint64_t sum = 0;
      for (int sy = y0; sy < y1; ++sy) {
        const std::size_t row =
            static_cast<std::size_t>(sy) * static_cast<std::size_t>(source.width);
        for (int sx = x0; sx < x1; ++sx) sum += source.grey[row + static_cast<std::size_t>(sx)];
      }
      const auto count = static_cast<std::uint64_t>(y1 - y0) * static_cast<std::uint64_t>(x1 - x0);
      out.grey[static_cast<std::size_t>((top + y) * kSide + left + x)] =
          static_cast<std::uint8_t>((sum + count / 2) / count);
    }
  }
  return out;
}

BmpImage ConvertPhoto(const GreyImage& source, const PhotoOptions& options) {
  const GreyImage fitted = FitToPanel(source);
  const int threshold = std::clamp(options.threshold, 0, 256);
  // Floyd-Steinberg over two rows of running errors, in sixteenths.
  std::vector<int> current(kSide + 2, 0);
  std::vector<int> next(kSide + 2, 0);
  BmpImage image;
  image.bits.fill(0);
  for (int y = 0; y < kSide; ++y) {
    std::fill(next.begin(), next.end(), 0);
    for (int x = 0; x < kSide; ++x) {
      const int grey = fitted.grey[static_cast<std::size_t>(y * kSide + x)];
      const int value =
          options.dither ? grey + current[static_cast<std::size_t>(x + 1)] / 16 : grey;
      const bool white = value >= threshold;
      if (white) {
        image.bits[static_cast<std::size_t>(y * 12 + x / 8)] |=
            static_cast<std::uint8_t>(0x80u >> (x % 8));
      }
      if (!options.dither) continue;
      const int error = value - (white ? 255 : 0);
      current[static_cast<std::size_t>(x + 2)] += error * 7;
      next[static_cast<std::size_t>(x)] += error * 3;
      next[static_cast<std::size_t>(x + 1)] += error * 5;
      next[static_cast<std::size_t>(x + 2)] += error * 1;
    }
    std::swap(current, next);
  }
  return image;
}

}  // namespace kuv
