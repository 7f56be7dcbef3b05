#include "app/model/panel_owner_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>


namespace kuv {

std::unique_ptr<PanelOwnerLock> PanelOwnerLock::Acquire(const std::string& who,
                                                        std::string& error) {
  const std::optional<std::string> lockPath = PanelOwnerLockPath(error);
  if (!lockPath) return nullptr;
  const std::string& path = *lockPath;
  // The folder is the user's alone; still, never follow a link, and only trust a file of our own.
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
    error = path + " is not a file of this user";
    ::close(fd);
    return nullptr;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int err = errno;
    if (err == EWOULDBLOCK) {
      char holder[128] = {};
      ssize_t n = ::pread(fd, holder, sizeof holder - 1, 0);
      std::string text = n > 0 ? std::string(holder, static_cast<std::size_t>(n)) : "another copy";
      while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) text.pop_back();
      error = text + " already drives the panels of this user";
    } else {
      error = "cannot lock " + path + ": " + std::strerror(err);
    }
    ::close(fd);
    return nullptr;
  }
  std::string holder = who + " (pid " + std::to_string(::getpid()) + ")\n";
  if (::ftruncate(fd, 0) == 0) {
    [[maybe_unused]] ssize_t n = ::pwrite(fd, holder.data(), holder.size(), 0);
  }
  return std::unique_ptr<PanelOwnerLock>(new PanelOwnerLock(fd));
}

PanelOwnerLock::~PanelOwnerLock() {
  ::close(static_cast<int>(file_));
}

}  // namespace kuv
