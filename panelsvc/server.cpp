#include "panelsvc/server.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "panelsvc/dispatch.h"

namespace kuv::svc {

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Waits for fd to become ready for events until the deadline; false on time-out or error.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
  while (true) {
    pollfd p{fd, events, 0};
    int n = ::poll(&p, 1, RemainingMs(deadline));
    if (n < 0 && errno == EINTR) continue;
    return n > 0;
  }
}

std::string Errno(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

bool AnotherServiceAnswers(const sockaddr_un& address) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool answers = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return answers;
}

}  // namespace

std::unique_ptr<Server> Server::Open(const std::string& path, const ServerOptions& options,
                                     std::string* error) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) {
    *error = "socket path empty or too long: " + path;
    return nullptr;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

  struct stat st;
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      *error = path + " exists and is not a socket";
      return nullptr;
    }
    if (AnotherServiceAnswers(address)) {
      *error = "another service already answers on " + path;
      return nullptr;
    }
    ::unlink(path.c_str());
  }

  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = Errno("socket");
    return nullptr;
  }
  // Everyone may connect; the request policy decides what each record may do.
  mode_t old = ::umask(0111);
  int bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  int bindErrno = errno;
  ::umask(old);
  if (bound != 0) {
    errno = bindErrno;
    *error = Errno(("bind " + path).c_str());
    ::close(fd);
    return nullptr;
  }
  if (::chmod(path.c_str(), 0666) != 0 || ::listen(fd, SOMAXCONN) != 0 ||
      ::lstat(path.c_str(), &st) != 0) {
    *error = Errno(("listen " + path).c_str());
    ::close(fd);
    ::unlink(path.c_str());
    return nullptr;
  }
  std::unique_ptr<Server> server(new Server(fd, path, options));
  server->device_ = st.st_dev;
  server->inode_ = st.st_ino;
  return server;
}

Server::Server(int fd, std::string path, ServerOptions options)
    : fd_(fd), path_(std::move(path)), options_(std::move(options)) {}

Server::~Server() {
  ::close(fd_);
  struct stat st;
  if (::lstat(path_.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_) {
    ::unlink(path_.c_str());
  }
}

void Server::Log(const std::string& line) const {
  if (options_.log) {
    options_.log(line);
  } else {
    LogLine(line);
  }
}

void Server::Run(int stopFd, const RequestHandler& handler) {
  while (true) {
    pollfd fds[2] = {{stopFd, POLLIN, 0}, {fd_, POLLIN, 0}};
    int n = ::poll(fds, 2, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      Log(Errno("poll"));
      return;
    }
    if (fds[0].revents != 0) return;
    if (fds[1].revents == 0) continue;
    int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
      // A client that gave up between connect and accept, or a passing lack of descriptors.
      if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED) Log(Errno("accept"));
      continue;
    }
    ServeConnection(client, handler);
    ::close(client);
  }
}

void Server::ServeConnection(int client, const RequestHandler& handler) {
  ucred credentials{};
  socklen_t length = sizeof credentials;
  if (::getsockopt(client, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
      length != sizeof credentials) {
    Log("dropped a client whose credentials could not be read");
    return;
  }
  const Peer peer{credentials.pid, credentials.uid, credentials.gid};
  auto who = [&peer] {
    return "pid " + std::to_string(peer.pid) + " uid " + std::to_string(peer.uid);
  };

  RequestRecord record = MakeRequest(0);
  auto bytes = AsWritableBytes(record);
  std::size_t got = 0;
  const auto receiveDeadline = Clock::now() + options_.receiveTimeout;
  while (got < bytes.size()) {
    if (!WaitFor(client, POLLIN, receiveDeadline)) {
      Log("dropped client " + who() + ": no whole record within the time limit (" +
          std::to_string(got) + " bytes)");
      return;
    }
    ssize_t n = ::recv(client, bytes.data() + got, bytes.size() - got, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) {
      Log("dropped client " + who() + ": connection closed after " + std::to_string(got) + " of " +
          std::to_string(bytes.size()) + " bytes");
      return;
    }
    got += static_cast<std::size_t>(n);
  }

  handler(record, peer);
  ++served_;

  std::size_t sent = 0;
  const auto sendDeadline = Clock::now() + options_.sendTimeout;
  while (sent < bytes.size()) {
    ssize_t n =
        ::send(client, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      if (WaitFor(client, POLLOUT, sendDeadline)) continue;
      Log("client " + who() + " did not take its answer in time");
      return;
    }
    if (n <= 0) {
      Log("client " + who() + " left before its answer: " + std::strerror(errno));
      return;
    }
    sent += static_cast<std::size_t>(n);
  }
}

}  // namespace kuv::svc
