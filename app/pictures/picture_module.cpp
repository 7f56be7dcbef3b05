// The picture module's one entry, looked up by name after dlopen.

#include "app/pictures/picture_loader.h"
#include "app/pictures/picture_module.h"

extern "C" __attribute__((visibility("default"))) int kuvlcd_load_grey_image(
    const std::string* path, kuv::GreyImage* image, std::string* error) {
  std::optional<kuv::GreyImage> loaded = kuv::LoadGreyImage(*path, *error);
  if (!loaded) return 0;
  *image = std::move(*loaded);
  return 1;
}
