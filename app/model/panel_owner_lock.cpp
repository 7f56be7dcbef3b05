#include "app/model/panel_owner_lock.h"

#include "app/model/user_folders.h"
#include "app/model/volume_files.h"

namespace kuv {

std::optional<std::string> PanelOwnerLockPath(std::string& error) {
  std::optional<std::string> runtime = UserRuntimeFolder(error);
  if (!runtime) return std::nullopt;
  return JoinPath(*runtime, "kuvlcd-panels.lock");
}

}  // namespace kuv
