#include "app/pictures/picture_loader.h"

namespace kuv {

// Windows's codecs are system libraries that COM maps when the first picture is read, so the
// loader is linked in: a text update never asks for them.
std::optional<GreyImage> LoadGreyImageThroughModule(const std::string& path, std::string& error) {
  return LoadGreyImage(path, error);
}

}  // namespace kuv
