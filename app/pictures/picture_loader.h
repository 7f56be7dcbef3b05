#pragma once
// Any picture file the platform's image codecs read (PNG, JPEG, GIF, BMP of any depth) as a grey
// picture for the photo conversion.

#include <optional>
#include <string>

#include "app/compose/photo_convert.h"

namespace kuv {

// Transparent parts count as white paper. Pictures with more than 16 million dots are refused,
// so that a hostile header cannot make the program allocate gigabytes.
std::optional<GreyImage> LoadGreyImage(const std::string& path, std::string& error);

// The same, through the picture module that kuvlcd loads on first use: a program that only
// updates text never maps the image codecs and their graphics libraries. The error names the
// module when it is missing.
std::optional<GreyImage> LoadGreyImageThroughModule(const std::string& path, std::string& error);

}  // namespace kuv
