#include "common/service_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
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

using Clock = std::chrono::steady_clock;

enum class Transfer { kDone, kTimedOut, kFailed };

// Waits until fd is ready for events or the deadline passes.
Transfer WaitFor(int fd, short events, Clock::time_point deadline) {
  while (true) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return Transfer::kTimedOut;
    pollfd p{fd, events, 0};
    int n = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 60000)));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Transfer::kFailed;
    if (n > 0) return Transfer::kDone;
  }
}

Transfer SendAll(int fd, const std::uint8_t* data, std::size_t size, Clock::time_point deadline) {
  while (size > 0) {
    ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (Transfer t = WaitFor(fd, POLLOUT, deadline); t != Transfer::kDone) return t;
      continue;
    }
    if (n <= 0) return Transfer::kFailed;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return Transfer::kDone;
}

Transfer ReceiveAll(int fd, std::uint8_t* data, std::size_t size, Clock::time_point deadline) {
  while (size > 0) {
    ssize_t n = ::recv(fd, data, size, MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (Transfer t = WaitFor(fd, POLLIN, deadline); t != Transfer::kDone) return t;
      continue;
    }
    if (n <= 0) return Transfer::kFailed;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return Transfer::kDone;
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
      const auto deadline = Clock::now() + options.answerTimeout;
      Transfer t = SendAll(fd.get(), out.data(), out.size(), deadline);
      if (t == Transfer::kDone) {
        t = ReceiveAll(fd.get(), AsWritableBytes(answer).data(), kRequestRecordSize, deadline);
      }
      if (t == Transfer::kDone) {
        record = answer;
        return ExchangeOutcome::kAnswered;
      }
      record.result = -1;
      return t == Transfer::kTimedOut ? ExchangeOutcome::kUnreachable : ExchangeOutcome::kBroken;
    }
    record.result = -1;
    if (options.pauseFor) {
      options.pauseFor(options.pause);
    } else {
      std::this_thread::sleep_for(options.pause);
    }
  }
  record.result = -1;
  return ExchangeOutcome::kUnreachable;
}

}  // namespace kuv
