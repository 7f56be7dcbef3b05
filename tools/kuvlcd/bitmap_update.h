#pragma once
// The bitmap half of kuvlcd update and the photo conversion shared with kuvlcd convert.

#include <cstdint>
#include <optional>
#include <string>

#include "app/compose/bmp_file.h"
#include "app/compose/photo_convert.h"
#include "app/model/headless_session.h"
#include "tools/kuvlcd/cli.h"

namespace kuv::cli {

// The options of `update --bitmap`: the picture, its settings and its conversion.
OptionGroup BitmapOptionGroup();

struct BitmapOptions {
  std::string file;
  std::optional<std::int32_t> area;  // kAreaAll, kAreaUpper or kAreaLower
  std::optional<std::int32_t> rotation;
  bool reverse = false;
  bool convert = false;
  PhotoOptions photo;
};

// --threshold and --line-art; UsageError when out of range.
PhotoOptions ParsePhotoOptions(const Args& args);
// The options of `update --bitmap FILE`, checked; UsageError for a value out of range.
BitmapOptions ParseBitmapOptions(const Args& args);

// Reads any picture and converts it; throws std::runtime_error when it cannot be read.
BmpImage ConvertPictureFile(const PhotoOptions& photo, const std::string& path);

// Runs Update LCD on the bitmap tab for the selected slot with the picture. Returns the exit
// status.
int RunBitmapUpdate(const BitmapOptions& options, HeadlessSession& session, int slot);

}  // namespace kuv::cli
