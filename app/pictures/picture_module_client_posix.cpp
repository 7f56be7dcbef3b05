// kuvlcd's side of the picture module: found beside the program (its build tree) or in the
// library folder it was installed with, loaded once, kept for the process.

#include <dlfcn.h>
#include <unistd.h>


#include "app/pictures/picture_loader.h"
#include "app/pictures/picture_module.h"

namespace kuv {
namespace {

std::string ProgramFolder() {
  std::string path(4096, '\0');
  ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
  if (n <= 0) return ".";
  path.resize(static_cast<std::size_t>(n));
  return path.substr(0, path.rfind('/'));
}

struct LoadedModule {
  PictureModuleEntry entry = nullptr;
  std::string error;
};

LoadedModule Load() {
  LoadedModule loaded;
  const std::string folder = ProgramFolder();
  for (const std::string& candidate :
       {folder + "/" + kPictureModuleFile,
        folder + "/" KUVLCD_PICTURE_MODULE_FROM_BINDIR "/" + kPictureModuleFile}) {
    if (::access(candidate.c_str(), F_OK) != 0) continue;
    void* handle = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      const char* why = ::dlerror();
      loaded.error = why ? why : candidate + ": cannot be loaded";
      return loaded;
    }
    loaded.entry = reinterpret_cast<PictureModuleEntry>(::dlsym(handle, kPictureModuleEntry));
    if (!loaded.entry) loaded.error = candidate + ": no picture entry";
    return loaded;
  }
  loaded.error = std::string("picture conversion is not installed (") + kPictureModuleFile +
                 " is neither beside the program nor in its library folder)";
  return loaded;
}

}  // namespace

std::optional<GreyImage> LoadGreyImageThroughModule(const std::string& path, std::string& error) {
  static const LoadedModule module = Load();
  if (!module.entry) {
    error = module.error;
    return std::nullopt;
  }
  GreyImage image;
  if (module.entry(&path, &image, &error) == 0) return std::nullopt;
  return image;
}

}  // namespace kuv
