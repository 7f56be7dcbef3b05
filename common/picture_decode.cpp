// The decoders of picture files from outside. They live apart from the rest of picture_io.h so
// that a program which only writes pictures (the service, for the simulated panels) does not
// load libpng.

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/files.h"
#include "common/picture_io.h"

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

PictureResult ReadPictureFile(const std::string& path) {
  std::FILE* file = OpenFile(path, "rb");
  if (!file) return Fail(path + ": " + std::strerror(errno));
  std::vector<std::uint8_t> bytes;
  std::uint8_t buffer[65536];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
    bytes.insert(bytes.end(), buffer, buffer + n);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) return Fail(path + ": read error");
  PictureResult result = DecodePicture(bytes);
  if (!result) result.error = path + ": " + result.error;
  return result;
}

}  // namespace kuv
