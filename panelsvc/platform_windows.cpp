#include <windows.h>

#include "panelsvc/platform.h"

namespace kuv::svc {

PathStyle HostPathStyle() {
  return PathStyle::kWindows;
}
int LastSystemError() {
  return static_cast<int>(GetLastError());
}
void ClearSystemError() {
  SetLastError(ERROR_SUCCESS);
}
int AccessDeniedError() {
  return ERROR_ACCESS_DENIED;
}
int InvalidArgumentError() {
  return ERROR_INVALID_PARAMETER;
}

}  // namespace kuv::svc
