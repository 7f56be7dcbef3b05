#pragma once
// LCD_IMAGE.BMP: the 96x96 one-bit BMP a drive keeps its picture in, shared byte for byte with the
// Windows programs. Any BMP variant of that shape is read; the writer emits the one fixed layout.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/drive_table.h"
#include "common/picture_io.h"

namespace kuv {

inline constexpr std::size_t kBmpFileSize = 1214;
inline constexpr std::size_t kBmpPixelOffset = 62;

struct BmpColour {
  std::uint8_t blue = 0;
  std::uint8_t green = 0;
  std::uint8_t red = 0;
  bool operator==(const BmpColour&) const = default;
};

// A decoded 96x96 one-bit picture: its two-entry colour table and its palette indices, rows top
// first, 12 bytes a row, leftmost dot in bit 7; a set bit selects colours[1].
struct BmpImage {
  std::array<BmpColour, 2> colours{{{0, 0, 0}, {255, 255, 255}}};
  Raster bits{};
  bool operator==(const BmpImage&) const = default;
};

enum class BmpStatus {
  kOk,
  kUnreadable,      // not a BMP this reader understands, or cut short
  kWrongSize,       // a BMP, but not 96 by 96 dots
  kTooManyColours,  // 96 by 96, but more than one bit per dot
};

struct BmpReadResult {
  BmpStatus status = BmpStatus::kUnreadable;
  int width = 0;
  int height = 0;
  int bitsPerPixel = 0;
  BmpImage image;  // filled only when status is kOk
  std::string error;
};

// Reads a BMP: core or info headers (up to version 5), top-down or bottom-up, with or without
// the size fields filled in. Only uncompressed 96x96 one-bit pictures come back as kOk.
BmpReadResult DecodeBmp(std::span<const std::uint8_t> bytes);

// The fixed 1214-byte layout: 40-byte header, two-entry table, bottom row first.
std::vector<std::uint8_t> EncodeBmp(const BmpImage& image);

// The default picture: black then white, every dot white.
BmpImage DefaultBmpImage();

// False only for a table of pure white then pure black: there a set bit means black.
bool NormalPolarity(const BmpImage& image);

}  // namespace kuv
