#include <cerrno>

#include "panelsvc/platform.h"

namespace kuv::svc {

PathStyle HostPathStyle() {
  return PathStyle::kPosix;
}
int LastSystemError() {
  return errno;
}
void ClearSystemError() {
  errno = 0;
}
int AccessDeniedError() {
  return EACCES;
}
int InvalidArgumentError() {
  return EINVAL;
}

}  // namespace kuv::svc
