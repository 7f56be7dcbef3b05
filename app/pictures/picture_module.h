#pragma once
// The contract between kuvlcd and its picture module: one C-named entry, C++ arguments (both are
// built together, with the same compiler and standard library).

#include <string>

#include "app/compose/photo_convert.h"

// The module file's name, and its entry's. The entry answers 1 with the picture, or 0 with the
// error.
inline constexpr const char* kPictureModuleFile = "kuvlcd-pictures.so";
inline constexpr const char* kPictureModuleEntry = "kuvlcd_load_grey_image";
using PictureModuleEntry = int (*)(const std::string* path, kuv::GreyImage* image,
                                   std::string* error);
