#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/service_client.h"
#include "common/service_transport.h"

namespace kuv::transport {

struct Connection {
  int fd;
};

namespace {

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

bool MakeAddress(const std::string& path, sockaddr_un* address) {
  *address = {};
  address->sun_family = AF_UNIX;
  if (path.size() >= sizeof address->sun_path) return false;
  std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
  return true;
}

// Moves every byte one non-blocking call at a time, waiting for `events` between partial moves;
// `move` is send or recv on the connection.
template <typename Byte, typename Move>
Transfer MoveAll(int fd, std::span<Byte> bytes, short events, Clock::time_point deadline,
                 Move move) {
  Byte* data = bytes.data();
  std::size_t size = bytes.size();
  while (size > 0) {
    ssize_t n = move(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (Transfer t = WaitFor(fd, events, deadline); t != Transfer::kDone) return t;
      continue;
    }
    if (n <= 0) return Transfer::kFailed;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return Transfer::kDone;
}

}  // namespace

void ConnectionCloser::operator()(Connection* connection) const {
  ::close(connection->fd);
  delete connection;
}

std::string DefaultAddress() {
  return kDefaultServiceSocket;
}

bool AddressUsable(const std::string& address) {
  sockaddr_un unused;
  return MakeAddress(address, &unused);
}

ConnectionPtr Connect(const std::string& address) {
  sockaddr_un socketAddress;
  if (!MakeAddress(address, &socketAddress)) return nullptr;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  ConnectionPtr connection(new Connection{fd});
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&socketAddress), sizeof socketAddress) != 0) {
    return nullptr;
  }
  return connection;
}

Transfer SendAll(Connection& connection, std::span<const std::uint8_t> bytes,
                 Clock::time_point deadline) {
  return MoveAll(connection.fd, bytes, POLLOUT, deadline,
                 [](int fd, const std::uint8_t* data, std::size_t size) {
                   return ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
                 });
}

Transfer ReceiveAll(Connection& connection, std::span<std::uint8_t> bytes,
                    Clock::time_point deadline) {
  return MoveAll(connection.fd, bytes, POLLIN, deadline,
                 [](int fd, std::uint8_t* data, std::size_t size) {
                   return ::recv(fd, data, size, MSG_DONTWAIT);
                 });
}

}  // namespace kuv::transport
