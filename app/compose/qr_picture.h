#pragma once
// The QR picture of the panel: the symbol drawn on the 96x96 screen, and its temporary BMP file.

#include <cstdint>
#include <string>
#include <vector>

#include "app/compose/qr_symbol.h"
#include "common/picture_io.h"

namespace kuv {

inline constexpr char kQrImageFileName[] = "QrImageTmp.bmp";

// The 96x96 screen with the symbol's top-left corner at (offset, offset): dark modules black,
// the margin and the rest of the screen white, the top row and left column black. Sets the
// symbol's colours for painting.
Picture DrawQrPicture(QrSymbol& symbol, int offset);

// A 96x96 picture as a one-bit BMP: colour table black then white, a set bit white, rows bottom
// first; empty for any other size.
std::vector<std::uint8_t> EncodeQrTempBmp(const Picture& picture);

}  // namespace kuv
