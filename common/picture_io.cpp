#include "common/picture_io.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace kuv {

namespace {

PictureResult Fail(std::string error) {
  return PictureResult{std::nullopt, std::move(error)};
}

bool IsPbmSpace(std::uint8_t c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Reads the PBM header fields one by one; comments run from '#' to the end of the line.
class PbmHeader {
 public:
  explicit PbmHeader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  void SkipSpaceAndComments() {
    while (pos_ < bytes_.size()) {
      if (IsPbmSpace(bytes_[pos_])) {
        ++pos_;
      } else if (bytes_[pos_] == '#') {
        while (pos_ < bytes_.size() && bytes_[pos_] != '\n' && bytes_[pos_] != '\r') ++pos_;
      } else {
        break;
      }
    }
  }

  // A decimal number from 1 to kMaxPictureSide, or -1.
  int ReadSide() {
    SkipSpaceAndComments();
    long value = 0;
    std::size_t digits = 0;
    while (pos_ < bytes_.size() && bytes_[pos_] >= '0' && bytes_[pos_] <= '9') {
      value = value * 10 + (bytes_[pos_] - '0');
      ++pos_;
      if (++digits > 6) return -1;
    }
    if (digits == 0 || value < 1 || value > kMaxPictureSide) return -1;
    return static_cast<int>(value);
  }

  std::size_t pos() const { return pos_; }
  void Advance() { ++pos_; }
  bool AtEnd() const { return pos_ >= bytes_.size(); }
  std::uint8_t Peek() const { return bytes_[pos_]; }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 2;  // after the magic
};

}  // namespace

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

PictureResult DecodePbm(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 2 || bytes[0] != 'P' || (bytes[1] != '1' && bytes[1] != '4')) {
    return Fail("not a PBM file (P1 or P4 expected)");
  }
  const bool plain = bytes[1] == '1';
  PbmHeader header(bytes);
  if (header.AtEnd() || !IsPbmSpace(header.Peek())) return Fail("PBM: malformed header");
  const int width = header.ReadSide();
  const int height = header.ReadSide();
  if (width < 0 || height < 0) {
    return Fail("PBM: width and height must be 1 to " + std::to_string(kMaxPictureSide));
  }
  Picture picture(width, height);
  if (plain) {
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        header.SkipSpaceAndComments();
        if (header.AtEnd()) return Fail("PBM: the file ends before the last dot");
        const std::uint8_t c = header.Peek();
        if (c != '0' && c != '1') return Fail("PBM: dots must be 0 or 1");
        picture.at(x, y) = c == '1' ? kBlack : kWhite;
        header.Advance();
      }
    }
    return PictureResult{std::move(picture), {}};
  }
  // Exactly one whitespace byte separates a raw header from the dots.
  if (header.AtEnd() || !IsPbmSpace(header.Peek())) return Fail("PBM: malformed header");
  const std::size_t start = header.pos() + 1;
  const std::size_t stride = static_cast<std::size_t>(width + 7) / 8;
  if (bytes.size() < start || bytes.size() - start < stride * static_cast<std::size_t>(height)) {
    return Fail("PBM: the file ends before the last row");
  }
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint8_t byte =
          bytes[start + stride * static_cast<std::size_t>(y) + static_cast<std::size_t>(x / 8)];
      picture.at(x, y) = ((byte >> (7 - x % 8)) & 1) ? kBlack : kWhite;
    }
  }
  return PictureResult{std::move(picture), {}};
}

PictureResult DecodePng(std::span<const std::uint8_t> bytes) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) {
    return Fail(std::string("PNG: ") + image.message);
  }
  if (image.width < 1 || image.height < 1 || image.width > kMaxPictureSide ||
      image.height > kMaxPictureSide) {
    png_image_free(&image);
    return Fail("PNG: width and height must be 1 to " + std::to_string(kMaxPictureSide));
  }
  // Grey with alpha, so that transparent dots can be taken as white background.
  image.format = PNG_FORMAT_GA;
  std::vector<std::uint8_t> buffer(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, buffer.data(), 0, nullptr)) {
    std::string error = std::string("PNG: ") + image.message;
    png_image_free(&image);
    return Fail(std::move(error));
  }
  const int width = static_cast<int>(image.width);
  const int height = static_cast<int>(image.height);
  png_image_free(&image);
  Picture picture(width, height);
  for (std::size_t i = 0; i < picture.dots.size(); ++i) {
    const unsigned grey = buffer[2 * i];
    const unsigned alpha = buffer[2 * i + 1];
    // Composite on white, then threshold.
    const unsigned shown = (grey * alpha + 255u * (255u - alpha)) / 255u;
    picture.dots[i] = shown >= 128 ? kWhite : kBlack;
  }
  return PictureResult{std::move(picture), {}};
}

PictureResult DecodePicture(std::span<const std::uint8_t> bytes) {
  static constexpr std::uint8_t kPngMagic[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (bytes.size() >= 8 && std::memcmp(bytes.data(), kPngMagic, 8) == 0) return DecodePng(bytes);
  if (bytes.size() >= 2 && bytes[0] == 'P') return DecodePbm(bytes);
  return Fail("not a PBM or PNG file");
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

void AppendPngBytes(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

void FlushNothing(png_structp) {}

// Writes the one-bit rows with libpng; false when libpng reports an error.
bool WritePngRows(std::vector<std::uint8_t>& out, std::vector<png_bytep>& rows, int width,
                  int height) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, &out, AppendPngBytes, FlushNothing);
  // Panel snapshots are written on every picture a simulated panel completes: favour speed.
  png_set_compression_level(png, 1);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 1,
               PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE,
               PNG_FILTER_TYPE_BASE);
  png_write_info(png, info);
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

std::vector<std::uint8_t> EncodePng(const Picture& picture, int scale) {
  if (scale < 1 || scale > 64 || picture.width < 1 || picture.height < 1) return {};
  const int width = picture.width * scale;
  const int height = picture.height * scale;
  // One bit per dot, most significant first, 1 = white: the panel's own raster layout.
  const std::size_t stride = (static_cast<std::size_t>(width) + 7) / 8;
  std::vector<std::uint8_t> bits(stride * static_cast<std::size_t>(height), 0);
  std::vector<png_bytep> rows(static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = bits.data() + stride * static_cast<std::size_t>(y);
    rows[static_cast<std::size_t>(y)] = row;
    for (int x = 0; x < width; ++x) {
      if (picture.at(x / scale, y / scale)) row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    }
  }
  std::vector<std::uint8_t> out;
  if (!WritePngRows(out, rows, width, height)) return {};
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

PictureResult ReadPictureFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Fail(path + ": " + std::strerror(errno));
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  if (in.bad()) return Fail(path + ": read error");
  PictureResult result = DecodePicture(bytes);
  if (!result) result.error = path + ": " + result.error;
  return result;
}

bool WriteFileBytes(const std::string& path, std::span<const std::uint8_t> bytes,
                    std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  bool ok = file != nullptr;
  if (ok) ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (file && std::fclose(file) != 0) ok = false;
  if (!ok && error) *error = path + ": " + std::strerror(errno);
  return ok;
}

}  // namespace kuv
