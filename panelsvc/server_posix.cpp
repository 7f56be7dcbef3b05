#include "panelsvc/server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "panelio/unique_fd.h"
#include "panelsvc/dispatch.h"
#include "panelsvc/fair_share.h"

namespace kuv::svc {

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline, Clock::time_point now) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
  return left.count() > 0 ? static_cast<int>(std::min<std::int64_t>(left.count(), 60000)) : 0;
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

struct Server::Connection {
  enum class State { kWaiting, kReading, kReady, kSending };
  UniqueFd fd;
  Peer peer;
  State state = State::kWaiting;
  Clock::time_point deadline;
  std::uint64_t order = 0;  // arrival, then completion of the record
  std::size_t done = 0;     // bytes received, then bytes sent
  RequestRecord record = MakeRequest(0);
  bool closed = false;

  std::string Who() const { return Describe(peer); }
};

Server::Server(int fd, std::string path, ServerOptions options)
    : fd_(fd), path_(std::move(path)), options_(std::move(options)) {}

Server::~Server() {
  ::close(fd_);
  struct stat st;
  if (::lstat(path_.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_) {
    ::unlink(path_.c_str());
  }
}

void Server::Log(uid_t uid, const std::string& line) const {
  if (options_.log) {
    options_.log->Write(uid, LogKind::kError, line);
  } else {
    LogUnlimited(uid, LogKind::kError, line);
  }
}

void Server::AcceptAll() {
  while (true) {
    UniqueFd client(::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!client.valid()) {
      // Nothing more to accept, a client that gave up between connect and accept, or a passing
      // lack of descriptors: the listening socket stays readable and is tried again.
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) Log(0, Errno("accept"));
      return;
    }
    auto c = std::make_unique<Connection>();
    if (!ReadPeer(client.get(), &c->peer)) {
      Log(0, "dropped a client whose credentials could not be read");
      continue;
    }
    const uid_t uid = c->peer.uid;
    const auto total = static_cast<std::size_t>(options_.openTotal);
    if (OpenFor(uid) >= options_.openPerUid || OpenTotal() >= total) {
      // A client that closed and at once connected again must not find its old slots still taken.
      DropHungUp();
    }
    if (OpenFor(uid) >= options_.openPerUid) {
      Log(uid, "dropped client " + c->Who() + ": its user has " +
                   std::to_string(options_.openPerUid) + " connections open already");
      continue;
    }
    if (OpenTotal() >= total) {
      Connection* victim = MakeRoomVictim(uid);
      if (!victim) {
        Log(uid, "dropped client " + c->Who() + ": all " + std::to_string(total) +
                     " connections are open and its user holds the most");
        continue;
      }
      // Logged against the user who held the most, whose share it is.
      Log(victim->peer.uid, "closed client " + victim->Who() + " after " +
                                std::to_string(victim->done) + " bytes to admit another: all " +
                                std::to_string(total) + " connections are open and its user " +
                                "holds the most");
      victim->closed = true;
      victim->fd.reset();
    }
    c->fd = std::move(client);
    c->order = sequence_++;
    connections_.push_back(std::move(c));
  }
}

int Server::OpenFor(uid_t uid) const {
  return static_cast<int>(
      std::count_if(connections_.begin(), connections_.end(),
                    [uid](const auto& c) { return c->peer.uid == uid && !c->closed; }));
}

std::size_t Server::OpenTotal() const {
  return static_cast<std::size_t>(std::count_if(connections_.begin(), connections_.end(),
                                                [](const auto& c) { return !c->closed; }));
}

Server::Connection* Server::MakeRoomVictim(uid_t newcomer) {
  using State = Connection::State;
  std::vector<Holding> open;
  std::vector<Connection*> which;
  for (auto& c : connections_) {
    if (c->closed) continue;
    open.push_back({c->peer.uid, c->state == State::kWaiting || c->state == State::kReading,
                    c->order});
    which.push_back(c.get());
  }
  const auto victim = ConnectionToClose(newcomer, open);
  return victim ? which[*victim] : nullptr;
}

void Server::DropHungUp() {
  std::vector<pollfd> fds;
  std::vector<Connection*> owing;
  for (auto& c : connections_) {
    using State = Connection::State;
    if (c->closed || (c->state != State::kWaiting && c->state != State::kReading)) continue;
    fds.push_back({c->fd.get(), POLLIN, 0});
    owing.push_back(c.get());
  }
  if (fds.empty() || ::poll(fds.data(), fds.size(), 0) <= 0) return;
  for (std::size_t i = 0; i < owing.size(); ++i) {
    if ((fds[i].revents & (POLLHUP | POLLERR)) == 0) continue;
    // A client that sent its record whole before leaving is served as before.
    int queued = 0;
    if ((fds[i].revents & POLLERR) == 0 && ::ioctl(owing[i]->fd.get(), FIONREAD, &queued) == 0 &&
        owing[i]->done + static_cast<std::size_t>(std::max(queued, 0)) >= kRequestRecordSize) {
      continue;
    }
    Log(owing[i]->peer.uid, "dropped client " + owing[i]->Who() + ": connection closed after " +
                                std::to_string(owing[i]->done) + " bytes");
    owing[i]->closed = true;
  }
  std::erase_if(connections_, [](const auto& c) { return c->closed; });
}

void Server::StartReading(Clock::time_point now) {
  std::map<uid_t, int> reading;
  for (const auto& c : connections_) {
    if (c->state == Connection::State::kReading) ++reading[c->peer.uid];
  }
  // connections_ is in arrival order, so each user's oldest waiting clients go first.
  for (auto& c : connections_) {
    if (c->state != Connection::State::kWaiting) continue;
    int& count = reading[c->peer.uid];
    if (count >= options_.readingPerUid) continue;
    ++count;
    c->state = Connection::State::kReading;
    c->deadline = now + options_.receiveTimeout;
  }
}

void Server::Receive(Connection& c) {
  auto bytes = AsWritableBytes(c.record);
  while (c.done < bytes.size()) {
    ssize_t n = ::recv(c.fd.get(), bytes.data() + c.done, bytes.size() - c.done, MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (n <= 0) {
      Log(c.peer.uid, "dropped client " + c.Who() + ": connection closed after " +
                          std::to_string(c.done) + " of " + std::to_string(bytes.size()) +
                          " bytes");
      c.closed = true;
      return;
    }
    c.done += static_cast<std::size_t>(n);
  }
  c.state = Connection::State::kReady;
  c.order = sequence_++;
}

void Server::Send(Connection& c) {
  auto bytes = AsBytes(c.record);
  while (c.done < bytes.size()) {
    ssize_t n = ::send(c.fd.get(), bytes.data() + c.done, bytes.size() - c.done,
                       MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (n <= 0) {
      Log(c.peer.uid,
          "client " + c.Who() + " left before its answer: " + std::strerror(n < 0 ? errno : EIO));
      c.closed = true;
      return;
    }
    c.done += static_cast<std::size_t>(n);
  }
  c.closed = true;  // answered whole
}

void Server::ServeOne(const RequestHandler& handler) {
  std::vector<Waiting> waiting;
  std::vector<Connection*> which;
  for (auto& c : connections_) {
    if (c->state != Connection::State::kReady || c->closed) continue;
    waiting.push_back({c->peer.uid, c->order});
    which.push_back(c.get());
  }
  const auto chosen = NextToServe(waiting, lastServed_);
  Connection* next = chosen ? which[*chosen] : nullptr;
  if (!next) return;
  handler(next->record, next->peer);
  ++served_;
  lastServed_[next->peer.uid] = sequence_++;
  next->state = Connection::State::kSending;
  next->done = 0;
  next->deadline = Clock::now() + options_.sendTimeout;
  Send(*next);
}

void Server::Expire(Clock::time_point now) {
  for (auto& c : connections_) {
    if (c->closed || now < c->deadline) continue;
    if (c->state == Connection::State::kReading) {
      // A long device request may have kept the loop from reading what arrived in time.
      Receive(*c);
      if (c->closed || c->state != Connection::State::kReading) continue;
      Log(c->peer.uid, "dropped client " + c->Who() + ": no whole record within the time limit (" +
                           std::to_string(c->done) + " bytes)");
      c->closed = true;
    } else if (c->state == Connection::State::kSending) {
      Log(c->peer.uid, "client " + c->Who() + " did not take its answer in time");
      c->closed = true;
    }
  }
  std::erase_if(connections_, [](const auto& c) { return c->closed; });
  // Users without connections need no turn kept.
  std::erase_if(lastServed_, [this](const auto& entry) {
    return std::none_of(connections_.begin(), connections_.end(),
                        [&entry](const auto& c) { return c->peer.uid == entry.first; });
  });
}

void Server::FinishSending() {
  for (auto& c : connections_) {
    if (c->state != Connection::State::kSending) continue;
    while (!c->closed) {
      const auto now = Clock::now();
      if (now >= c->deadline) break;
      pollfd p{c->fd.get(), POLLOUT, 0};
      if (::poll(&p, 1, RemainingMs(c->deadline, now)) < 0 && errno != EINTR) break;
      Send(*c);
    }
  }
  connections_.clear();
}

void Server::Run(int stopFd, const RequestHandler& handler) {
  const int flags = ::fcntl(fd_, F_GETFL);
  if (flags < 0 || ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK) != 0) {
    Log(0, Errno("fcntl"));
    return;
  }
  std::vector<pollfd> fds;
  std::vector<Connection*> polled;
  while (true) {
    auto now = Clock::now();
    if (options_.log) options_.log->Flush();
    Expire(now);
    StartReading(now);

    bool ready = false;
    fds.assign({{stopFd, POLLIN, 0}, {fd_, POLLIN, 0}});
    polled.clear();
    std::optional<Clock::time_point> wake;
    if (options_.log) wake = options_.log->NextFlush();
    for (auto& c : connections_) {
      using State = Connection::State;
      if (c->state == State::kReady) ready = true;
      if (c->state != State::kReading && c->state != State::kSending) continue;
      fds.push_back(
          {c->fd.get(), static_cast<short>(c->state == State::kReading ? POLLIN : POLLOUT), 0});
      polled.push_back(c.get());
      if (!wake || c->deadline < *wake) wake = c->deadline;
    }
    const int timeout = ready ? 0 : wake ? RemainingMs(*wake, now) : -1;
    int n = ::poll(fds.data(), fds.size(), timeout);
    if (n < 0) {
      if (errno == EINTR) continue;
      Log(0, Errno("poll"));
      return;
    }
    if (fds[0].revents != 0) {
      FinishSending();
      return;
    }
    for (std::size_t i = 0; i < polled.size(); ++i) {
      if (fds[i + 2].revents == 0) continue;
      if (polled[i]->state == Connection::State::kReading) {
        Receive(*polled[i]);
      } else {
        Send(*polled[i]);
      }
    }
    if (fds[1].revents != 0) AcceptAll();
    ServeOne(handler);
  }
}

}  // namespace kuv::svc
