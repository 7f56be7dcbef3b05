#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/files.h"

namespace kuv {

std::FILE* OpenFile(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

bool ReplaceFileWith(const std::string& path, std::span<const std::uint8_t> bytes,
                     std::string* error) {
  std::string temp = path + ".XXXXXX";
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = path + ": " + std::strerror(errno);
    return false;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  int err = done == bytes.size() ? 0 : (errno != 0 ? errno : EIO);
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && std::rename(temp.c_str(), path.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(temp.c_str());
    if (error) *error = path + ": " + std::strerror(err);
    return false;
  }
  return true;
}

}  // namespace kuv
