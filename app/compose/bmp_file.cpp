#include "app/compose/bmp_file.h"

#include <algorithm>
#include <cstring>

namespace kuv {
namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kCoreHeaderSize = 12;
constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::size_t kLargestHeaderSize = 124;  // version 5
constexpr std::size_t kRowBytes = 12;            // 96 dots, already a multiple of 4 bytes
constexpr std::int32_t kResolution = 3780;       // 96 dots per inch, in dots per metre
constexpr std::uint32_t kMaxTableEntries = 256;

std::uint16_t U16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
std::uint32_t U32(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
         (static_cast<std::uint32_t>(b[at + 2]) << 16) |
         (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
void Put16(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
  out[at] = static_cast<std::uint8_t>(v);
  out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
  for (std::size_t i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

BmpReadResult Fail(BmpStatus status, std::string error, BmpReadResult result = {}) {
  result.status = status;
  result.error = std::move(error);
  return result;
}

bool ValidDepth(int bits) {
  return bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

}  // namespace

BmpReadResult DecodeBmp(std::span<const std::uint8_t> bytes) {
  BmpReadResult result;
  if (bytes.size() < kFileHeaderSize + kCoreHeaderSize || bytes[0] != 'B' || bytes[1] != 'M') {
    return Fail(BmpStatus::kUnreadable, "not a BMP file");
  }
  const std::uint32_t pixelOffset = U32(bytes, 10);
  const std::uint32_t headerSize = U32(bytes, 14);
  const bool core = headerSize == kCoreHeaderSize;
  if (!core && (headerSize < kInfoHeaderSize || headerSize > kLargestHeaderSize)) {
    return Fail(BmpStatus::kUnreadable, "unknown BMP header size");
  }
  if (bytes.size() < kFileHeaderSize + headerSize) {
    return Fail(BmpStatus::kUnreadable, "BMP header cut short");
  }

  std::int64_t width = 0;
  std::int64_t height = 0;
  std::uint16_t planes = 0;
  std::uint32_t compression = 0;
  std::uint32_t tableEntries = 0;
  if (core) {
    width = U16(bytes, 18);
    height = U16(bytes, 20);
    planes = U16(bytes, 22);
    result.bitsPerPixel = U16(bytes, 24);
  } else {
    width = static_cast<std::int32_t>(U32(bytes, 18));
    height = static_cast<std::int32_t>(U32(bytes, 22));
    planes = U16(bytes, 26);
    result.bitsPerPixel = U16(bytes, 28);
    compression = U32(bytes, 30);
    tableEntries = U32(bytes, 46);
  }
  const bool topDown = height < 0;
  if (topDown) height = -height;
  if (width <= 0 || height == 0 || planes != 1 || !ValidDepth(result.bitsPerPixel)) {
    return Fail(BmpStatus::kUnreadable, "malformed BMP header", result);
  }
  result.width = static_cast<int>(std::min<std::int64_t>(width, INT32_MAX));
  result.height = static_cast<int>(std::min<std::int64_t>(height, INT32_MAX));
  if (width != kPanelSide || height != kPanelSide) {
    return Fail(BmpStatus::kWrongSize, "not 96 by 96 dots", result);
  }
  if (result.bitsPerPixel != 1) {
    return Fail(BmpStatus::kTooManyColours, "more than one bit per dot", result);
  }
  if (compression != 0) return Fail(BmpStatus::kUnreadable, "compressed BMP", result);

  // A one-bit table has two entries; a count of 0 means "as many as the depth allows".
  if (tableEntries == 0) tableEntries = 2;
  if (tableEntries < 2 || tableEntries > kMaxTableEntries) {
    return Fail(BmpStatus::kUnreadable, "colour table without two entries", result);
  }
  const std::size_t entrySize = core ? 3 : 4;
  const std::size_t tableAt = kFileHeaderSize + headerSize;
  if (bytes.size() < tableAt + 2 * entrySize) {
    return Fail(BmpStatus::kUnreadable, "colour table cut short", result);
  }
  for (std::size_t i = 0; i < 2; ++i) {
    const std::size_t at = tableAt + i * entrySize;
    result.image.colours[i] = {bytes[at], bytes[at + 1], bytes[at + 2]};
  }

  // Writers that leave the offset out put the pixels right behind the table.
  const std::size_t dataAt = pixelOffset != 0 ? pixelOffset : tableAt + tableEntries * entrySize;
  if (dataAt > bytes.size() || bytes.size() - dataAt < kRasterBytes) {
    return Fail(BmpStatus::kUnreadable, "pixel data cut short", result);
  }
  for (std::size_t row = 0; row < static_cast<std::size_t>(kPanelSide); ++row) {
    const std::size_t fileRow = topDown ? row : kPanelSide - 1 - row;
    std::memcpy(result.image.bits.data() + row * kRowBytes,
                bytes.data() + dataAt + fileRow * kRowBytes, kRowBytes);
  }
  result.status = BmpStatus::kOk;
  return result;
}

std::vector<std::uint8_t> EncodeBmp(const BmpImage& image) {
  std::vector<std::uint8_t> out(kBmpFileSize, 0);
  out[0] = 'B';
  out[1] = 'M';
  Put32(out, 2, static_cast<std::uint32_t>(kBmpFileSize));
  Put32(out, 10, static_cast<std::uint32_t>(kBmpPixelOffset));
  Put32(out, 14, static_cast<std::uint32_t>(kInfoHeaderSize));
  Put32(out, 18, kPanelSide);
  Put32(out, 22, kPanelSide);
  Put16(out, 26, 1);
  Put16(out, 28, 1);
  Put32(out, 34, static_cast<std::uint32_t>(kRasterBytes));
  Put32(out, 38, kResolution);
  Put32(out, 42, kResolution);
  Put32(out, 46, 2);
  Put32(out, 50, 2);
  for (std::size_t i = 0; i < 2; ++i) {
    const BmpColour& c = image.colours[i];
    out[54 + 4 * i] = c.blue;
    out[55 + 4 * i] = c.green;
    out[56 + 4 * i] = c.red;
  }
  for (std::size_t row = 0; row < static_cast<std::size_t>(kPanelSide); ++row) {
    std::memcpy(out.data() + kBmpPixelOffset + (kPanelSide - 1 - row) * kRowBytes,
                image.bits.data() + row * kRowBytes, kRowBytes);
  }
  return out;
}

BmpImage DefaultBmpImage() {
  BmpImage image;
  image.bits.fill(0xFF);
  return image;
}

bool NormalPolarity(const BmpImage& image) {
  const BmpColour white{255, 255, 255};
  const BmpColour black{0, 0, 0};
  return !(image.colours[0] == white && image.colours[1] == black);
}

}  // namespace kuv
