#include "common/picture_io.h"

#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/files.h"

namespace kuv {

Picture PictureFromArt(std::span<const char* const> rows) {
  const int height = static_cast<int>(rows.size());
  const int width = height ? static_cast<int>(std::strlen(rows[0])) : 0;
  Picture picture(width, height);
  for (int y = 0; y < height; ++y) {
    const char* row = rows[static_cast<std::size_t>(y)];
    for (int x = 0; x < width && row[x]; ++x) {
      picture.at(x, y) = (row[x] == 'X' || row[x] == '#') ? kBlack : kWhite;
    }
  }
  return picture;
}

Picture PictureFromRaster(const Raster& raster) {
  Picture picture(kPanelSide, kPanelSide);
  // Byte by byte: the renderer converts several times per composition.
  std::uint8_t* dot = picture.dots.data();
  for (const std::uint8_t byte : raster) {
    for (int bit = 7; bit >= 0; --bit) *dot++ = static_cast<std::uint8_t>((byte >> bit) & 1);
  }
  return picture;
}

std::optional<Raster> RasterFromPicture(const Picture& picture) {
  if (picture.width != kPanelSide || picture.height != kPanelSide) return std::nullopt;
  Raster raster;
  const std::uint8_t* dot = picture.dots.data();
  for (std::uint8_t& byte : raster) {
    unsigned bits = 0;
    for (int i = 0; i < 8; ++i) bits = (bits << 1) | (dot[i] != kBlack ? 1u : 0u);
    byte = static_cast<std::uint8_t>(bits);
    dot += 8;
  }
  return raster;
}

Picture PictureOfPanelRaster(const Raster& raster) {
  const Picture scan = PictureFromRaster(raster);
  Picture picture(kPanelSide, kPanelSide);
  for (int y = 0; y < kPanelSide; ++y) {
    for (int x = 0; x < kPanelSide; ++x) picture.at(x, y) = scan.at(kPanelSide - 1 - y, x);
  }
  return picture;
}

std::optional<Raster> PanelRasterOfPicture(const Picture& picture) {
  if (picture.width != kPanelSide || picture.height != kPanelSide) return std::nullopt;
  Picture scan(kPanelSide, kPanelSide);
  for (int r = 0; r < kPanelSide; ++r) {
    for (int c = 0; c < kPanelSide; ++c) scan.at(c, r) = picture.at(r, kPanelSide - 1 - c);
  }
  return RasterFromPicture(scan);
}

std::vector<std::uint8_t> EncodePbm(const Picture& picture) {
  const std::string header =
      "P4\n" + std::to_string(picture.width) + " " + std::to_string(picture.height) + "\n";
  const std::size_t stride = static_cast<std::size_t>(picture.width + 7) / 8;
  std::vector<std::uint8_t> out(header.begin(), header.end());
  out.resize(header.size() + stride * static_cast<std::size_t>(picture.height), 0);
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      if (picture.at(x, y) == kBlack) {
        out[header.size() + stride * static_cast<std::size_t>(y) +
            static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80u >> (x % 8));
      }
    }
  }
  return out;
}

namespace {

void AppendBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void AppendChunk(std::vector<std::uint8_t>& out, const char (&type)[5],
                 std::span<const std::uint8_t> data) {
  AppendBigEndian(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  AppendBigEndian(out, static_cast<std::uint32_t>(
                           ::crc32(0, out.data() + start, static_cast<uInt>(out.size() - start))));
}

}  // namespace

// Written with zlib alone rather than libpng, so that the service, which writes the simulated
// panels' snapshots, need not load a picture library it has no other use for.
std::vector<std::uint8_t> EncodePng(const Picture& picture, int scale) {
  if (scale < 1 || scale > 64 || picture.width < 1 || picture.height < 1) return {};
  const int width = picture.width * scale;
  const int height = picture.height * scale;
  // Each row: filter type 0, then one bit per dot, most significant first, 1 = white.
  const std::size_t stride = 1 + (static_cast<std::size_t>(width) + 7) / 8;
  std::vector<std::uint8_t> rows(stride * static_cast<std::size_t>(height), 0);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = rows.data() + stride * static_cast<std::size_t>(y) + 1;
    for (int x = 0; x < width; ++x) {
      if (picture.at(x / scale, y / scale))
        row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    }
  }
  uLongf packedSize = ::compressBound(static_cast<uLong>(rows.size()));
  std::vector<std::uint8_t> packed(packedSize);
  // Panel snapshots are written on every picture a simulated panel completes: favour speed.
  if (::compress2(packed.data(), &packedSize, rows.data(), static_cast<uLong>(rows.size()), 1) !=
      Z_OK) {
    return {};
  }
  packed.resize(packedSize);
  std::vector<std::uint8_t> header;
  AppendBigEndian(header, static_cast<std::uint32_t>(width));
  AppendBigEndian(header, static_cast<std::uint32_t>(height));
  // Bit depth 1, grey, deflate, adaptive filtering, no interlace.
  header.insert(header.end(), {1, 0, 0, 0, 0});
  std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  AppendChunk(out, "IHDR", header);
  AppendChunk(out, "IDAT", packed);
  AppendChunk(out, "IEND", {});
  return out;
}

std::string TextArt(const Picture& picture, char ink, char white) {
  std::string art;
  art.reserve(static_cast<std::size_t>(picture.width + 1) *
              static_cast<std::size_t>(picture.height));
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) art.push_back(picture.at(x, y) == kBlack ? ink : white);
    art.push_back('\n');
  }
  return art;
}

bool WriteFileBytes(const std::string& path, std::span<const std::uint8_t> bytes,
                    std::string* error) {
  std::FILE* file = OpenFile(path, "wb");
  bool ok = file != nullptr;
  if (ok) ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (file && std::fclose(file) != 0) ok = false;
  if (!ok && error) *error = path + ": " + std::strerror(errno);
  return ok;
}

}  // namespace kuv
