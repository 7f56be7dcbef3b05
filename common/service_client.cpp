#include "common/service_client.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace kuv {

namespace {

class UniqueFd {
 public:
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool SendAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool ReceiveAll(int fd, std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::recv(fd, data, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::string ServiceSocketPath() {
  const char* path = std::getenv("KUVLCD_SOCKET");
  return path && *path ? std::string(path) : std::string(kDefaultServiceSocket);
}

std::int32_t ExchangeRequest(RequestRecord& record, const ServiceClientOptions& options) {
  TryExchangeRequest(record, options);
  return record.result;
}

ExchangeOutcome TryExchangeRequest(RequestRecord& record, const ServiceClientOptions& options) {
  const std::string path = options.socketPath.empty() ? ServiceSocketPath() : options.socketPath;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    // A path that cannot be a socket address never becomes reachable; no point in waiting.
    record.result = -1;
    return ExchangeOutcome::kUnreachable;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

  for (int attempt = 0; attempt < options.attempts; ++attempt) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.get() >= 0 &&
        ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
      RequestRecord answer;
      auto out = AsBytes(record);
      if (SendAll(fd.get(), out.data(), out.size()) &&
          ReceiveAll(fd.get(), AsWritableBytes(answer).data(), kRequestRecordSize)) {
        record = answer;
        return ExchangeOutcome::kAnswered;
      }
      record.result = -1;
      return ExchangeOutcome::kBroken;
    }
    record.result = -1;
    std::this_thread::sleep_for(options.pause);
  }
  return ExchangeOutcome::kUnreachable;
}

}  // namespace kuv
