#include "app/model/volume_files.h"

#include <cerrno>
#include <filesystem>

namespace kuv {
namespace {

constexpr char kSeparator = static_cast<char>(std::filesystem::path::preferred_separator);

std::filesystem::path PathOf(std::string_view utf8) {
  return std::filesystem::path(
      std::u8string_view(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

}  // namespace

bool IsAbsolutePath(std::string_view path) {
  return PathOf(path).is_absolute();
}

bool IsPathSeparator(char c) {
  return c == '/' || c == kSeparator;
}

std::string WithoutTrailingSeparators(std::string path) {
  while (path.size() > 1 && IsPathSeparator(path.back()) &&
         !PathOf(path).relative_path().empty()) {
    path.pop_back();
  }
  return path;
}

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string path(folder);
  if (!path.empty() && !IsPathSeparator(path.back())) path += kSeparator;
  return path += name;
}

int ReplaceFile(OwnFolder& folder, std::string_view name, std::string_view bytes,
                const std::function<bool()>& clearRefused) {
  std::string temp;
  int err = folder.WriteTemp(name, bytes, temp);
  if (err != 0) return err;
  err = folder.CommitTemp(temp, name);
  if ((err == EACCES || err == EPERM) && clearRefused && clearRefused()) {
    err = folder.CommitTemp(temp, name);
  }
  if (err != 0) folder.Remove(temp);
  return err;
}

}  // namespace kuv
