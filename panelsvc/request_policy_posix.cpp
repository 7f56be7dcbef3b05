#include "panelsvc/request_policy_posix.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <vector>

namespace kuv::svc {

TargetOpen OpenTarget(std::int32_t command, const TargetPath& target) {
  TargetOpen open;
  auto split = SplitAbsolutePath(target.mountPoint, PathStyle::kPosix);
  if (!split) {
    open.refusal = "mount point is not a plain absolute path: " + target.mountPoint;
    open.error = EACCES;
    return open;
  }
  std::vector<std::string> names(split->parts.begin(), split->parts.end());
  if (command != kCmdCreateDirectory) names.emplace_back(kLcdFolderName);
  UniqueFd folder(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
  std::string prefix;
  for (const auto& name : names) {
    prefix += '/';
    prefix += name;
    UniqueFd next(
        ::openat(folder.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (!next.valid() || ::fstat(next.get(), &st) != 0) {
      open.error = errno;
      // A link (opened as itself) or anything else that is not a folder is refused; a missing
      // name is the operation's plain failure.
      if (open.error == ENOTDIR || open.error == ELOOP) {
        open.refusal = "symbolic link or not a folder in path: " + prefix;
        open.error = EACCES;
      }
      return open;
    }
    if (!S_ISDIR(st.st_mode)) {
      open.refusal = "not a folder: " + prefix;
      open.error = EACCES;
      return open;
    }
    folder = std::move(next);
  }
  const std::size_t slash = target.path.rfind('/');
  open.target = OpenedTarget{std::move(folder), target.path.substr(slash + 1), target.path};
  return open;
}

}  // namespace kuv::svc
