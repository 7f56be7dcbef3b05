#include "app/compose/qr_picture.h"

namespace kuv {
namespace {

constexpr std::uint32_t kRgbWhite = 0xFFFFFF;
constexpr std::uint32_t kRgbBlack = 0x000000;

void PutLe(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) {
    out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

}  // namespace

Picture DrawQrPicture(QrSymbol& symbol, int offset) {
  // The canvas as painted, before its colour table is swapped: a black field one dot in from the
  // top and left, white modules for dark ones. Swapping the table inverts every dot.
  Picture canvas(kPanelSide, kPanelSide, kBlack);
  for (int i = 0; i < kPanelSide; ++i) {
    canvas.at(i, 0) = kWhite;
    canvas.at(0, i) = kWhite;
  }
  symbol.SetLightColor(kRgbBlack);
  symbol.SetDarkColor(kRgbWhite);
  symbol.Paint(canvas, offset, offset);
  for (std::uint8_t& dot : canvas.dots) dot = dot == kWhite ? kBlack : kWhite;
  return canvas;
}

std::vector<std::uint8_t> EncodeQrTempBmp(const Picture& picture) {
  if (picture.width != kPanelSide || picture.height != kPanelSide) return {};
  constexpr std::size_t kHeader = 62;
  constexpr std::size_t kRowBytes = 12;
  constexpr std::size_t kPixelBytes = kRowBytes * kPanelSide;
  std::vector<std::uint8_t> out(kHeader + kPixelBytes, 0);
  out[0] = 'B';
  out[1] = 'M';
  PutLe(out, 2, static_cast<std::uint32_t>(out.size()), 4);
  PutLe(out, 10, kHeader, 4);
  PutLe(out, 14, 40, 4);
  PutLe(out, 18, kPanelSide, 4);
  PutLe(out, 22, kPanelSide, 4);
  PutLe(out, 26, 1, 2);
  PutLe(out, 28, 1, 2);
  PutLe(out, 34, kPixelBytes, 4);
  PutLe(out, 38, 3780, 4);  // 96 dots per inch, as metres
  PutLe(out, 42, 3780, 4);
  PutLe(out, 46, 2, 4);
  PutLe(out, 50, 2, 4);
  // Entry 0 black (54..57 stay zero), entry 1 white.
  out[58] = out[59] = out[60] = 0xFF;
  for (int y = 0; y < kPanelSide; ++y) {
    const std::size_t row = kHeader + static_cast<std::size_t>(kPanelSide - 1 - y) * kRowBytes;
    for (int x = 0; x < kPanelSide; ++x) {
      if (picture.at(x, y) == kWhite) {
        out[row + static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
      }
    }
  }
  return out;
}

}  // namespace kuv
