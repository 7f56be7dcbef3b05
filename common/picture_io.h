#pragma once
// One-bit pictures and their files: the 96x96 panel raster as PBM, PNG and text art, for the
// command line, the simulator's panel snapshots and the tests.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/drive_table.h"

namespace kuv {

inline constexpr std::uint8_t kWhite = 1;
inline constexpr std::uint8_t kBlack = 0;
inline constexpr int kPanelSide = 96;
// Larger files are refused so that a hostile header cannot make a reader allocate gigabytes.
inline constexpr int kMaxPictureSide = 2048;

// A one-bit picture, one byte per dot, row-major from the top-left: 1 white, 0 black (ink).
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> dots;

  Picture() = default;
  Picture(int w, int h, std::uint8_t fill = kWhite)
      : width(w),
        height(h),
        dots(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), fill) {}

  bool Contains(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
  // Unchecked access; callers stay inside the picture.
  std::uint8_t at(int x, int y) const { return dots[Index(x, y)]; }
  std::uint8_t& at(int x, int y) { return dots[Index(x, y)]; }
  // Writes a dot; dots outside the picture are ignored.
  void Set(int x, int y, std::uint8_t value) {
    if (Contains(x, y)) dots[Index(x, y)] = value;
  }
  bool operator==(const Picture&) const = default;

 private:
  std::size_t Index(int x, int y) const {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
           static_cast<std::size_t>(x);
  }
};

// A picture from rows of text, one character per dot: 'X' or '#' ink, anything else white.
Picture PictureFromArt(std::span<const char* const> rows);

// The 96x96 picture of a raster (1152 bytes, 12 per row, leftmost dot in the top bit, 1 white).
Picture PictureFromRaster(const Raster& raster);
// The raster of a 96x96 picture; nothing for any other size.
std::optional<Raster> RasterFromPicture(const Picture& picture);

// The panel takes the composed picture turned a quarter clockwise into its scan order: raster row
// r is picture column r, and dot c of that row is the picture dot in row 95 - c. These two give
// the picture a person facing the panel sees from a panel raster, and back (nothing unless the
// picture is 96x96).
Picture PictureOfPanelRaster(const Raster& raster);
std::optional<Raster> PanelRasterOfPicture(const Picture& picture);

// A decoded picture, or the reason the bytes are not one.
struct PictureResult {
  std::optional<Picture> picture;
  std::string error;
  explicit operator bool() const { return picture.has_value(); }
};

// PBM, plain (P1) or raw (P4).
PictureResult DecodePbm(std::span<const std::uint8_t> bytes);
// PNG of any colour type and depth; transparent dots count as white, the rest is thresholded at
// half brightness.
PictureResult DecodePng(std::span<const std::uint8_t> bytes);
// PBM or PNG, told apart by their first bytes.
PictureResult DecodePicture(std::span<const std::uint8_t> bytes);

// Raw PBM (P4).
std::vector<std::uint8_t> EncodePbm(const Picture& picture);
// Grey PNG with every dot drawn as a scale x scale square (scale 1 to 64); empty on failure.
std::vector<std::uint8_t> EncodePng(const Picture& picture, int scale = 1);
// One character per dot and a newline after each row.
std::string TextArt(const Picture& picture, char ink = '#', char white = '.');

// Whole-file helpers; errors name the path and the system's reason.
PictureResult ReadPictureFile(const std::string& path);
bool WriteFileBytes(const std::string& path, std::span<const std::uint8_t> bytes,
                    std::string* error);

}  // namespace kuv
