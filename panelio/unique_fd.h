#pragma once
// An owned file descriptor, closed when it goes out of scope, and the read and write loops every
// backend needs (short transfers and EINTR are not failures).

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "panelio/file_io.h"

namespace kuv {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(std::exchange(other.fd_, -1));
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// Writes all of bytes. 0 on success, else the errno of the failed write (EIO for a write that
// took nothing).
inline int WriteAll(int fd, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    // At most 1 GiB a call: the count is 32-bit on Windows.
    const auto chunk = static_cast<unsigned>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
    ssize_t n = ::write(fd, bytes.data() + done, chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

inline int WriteAll(int fd, std::string_view bytes) {
  return WriteAll(fd, {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
}

// Reads from fd to its end, appending to out. 0 on success, else the errno of the failed read.
inline int ReadAll(int fd, std::string& out) {
  char buffer[16384];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return 0;
    out.append(buffer, static_cast<std::size_t>(n));
  }
}

// Fills out from offset, stopping early only at the end of the file. The bytes read, or -1 with
// errno set. The caller keeps offset + out.size() within the platform's file offsets.
inline std::ptrdiff_t PreadFull(int fd, std::span<std::uint8_t> out, std::uint64_t offset) {
  std::size_t done = 0;
  while (done < out.size()) {
    std::ptrdiff_t n = ReadAtOffset(fd, out.data() + done, out.size() - done, offset + done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<std::ptrdiff_t>(done);
}

}  // namespace kuv
