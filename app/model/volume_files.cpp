#include "app/model/volume_files.h"

#include <cerrno>

namespace kuv {

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
