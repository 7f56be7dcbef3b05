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

}  // namespace kuv
