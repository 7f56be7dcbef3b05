#pragma once
// The service's door: a Unix stream socket anyone may connect to, one request record per
// connection. Records are read from many connections at once, so a client that connects and says
// nothing holds up no one but its own user; they are served one at a time, taking users in turn.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/request_record.h"
#include "panelsvc/peer_identity.h"
#include "panelsvc/service_log.h"

namespace kuv::svc {

struct ServerOptions {
  // A client that has not sent its whole record this long after its reading began is dropped.
  std::chrono::milliseconds receiveTimeout{5000};
  // A client that does not take its answer by then is dropped.
  std::chrono::milliseconds sendTimeout{5000};
  // Connections of one uid read at the same time; later ones wait, unread and untimed, behind
  // them, so one user's silent clients cost that user alone.
  int readingPerUid = 4;
  // Connections one uid may hold open at all; more are closed at once.
  int openPerUid = 64;
  // Connections of everyone together. When they are all open, a newcomer takes the place of the
  // oldest connection still owing its record of the user holding the most (the newcomer's own
  // user counted with it, and first among equals), so no group of users can lock out the rest.
  int openTotal = 512;
  RateLimitedLog* log = nullptr;  // null: every line to LogUnlimited
};

// Serves one record in place for the peer.
using RequestHandler = std::function<void(RequestRecord& record, const Peer& peer)>;

class Server {
 public:
  // Binds and listens on path with mode 0666. Replaces a stale socket file, but fails (error set)
  // when a service already answers there or the path is something other than a socket.
  static std::unique_ptr<Server> Open(const std::string& path, const ServerOptions& options,
                                      std::string* error);
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;
  // Closes the socket and removes its file when it is still the one this server bound.
  ~Server();

  // Serves connections until stopFd becomes readable; the request being served when that happens
  // is finished and answers already made are still sent (each within sendTimeout). Bad clients
  // (silent, short, gone, too many) are dropped and logged.
  void Run(int stopFd, const RequestHandler& handler);

  // Requests handled so far; may be read from another thread while Run serves.
  std::uint64_t served() const { return served_.load(); }

 private:
  using Clock = std::chrono::steady_clock;
  struct Connection;

  Server(int fd, std::string path, ServerOptions options);
  // A client's fault, held to its user's share of the log.
  void Log(uid_t uid, const std::string& line) const;
  void AcceptAll();
  // Live connections of one user, and of everyone; those already closed are only waiting to be
  // erased.
  int OpenFor(uid_t uid) const;
  std::size_t OpenTotal() const;
  // The connection to close so that a newcomer of uid fits in the total: the oldest still owing
  // its record, of the user holding the most; null when that is the newcomer's own user and none
  // of its other connections owes a record (the newcomer is then the one to go).
  Connection* MakeRoomVictim(uid_t uid);
  // Drops clients that hung up before sending their whole record.
  void DropHungUp();
  void StartReading(Clock::time_point now);
  void Receive(Connection& c);
  void Send(Connection& c);
  void ServeOne(const RequestHandler& handler);
  void Expire(Clock::time_point now);
  void FinishSending();

  int fd_;
  std::string path_;
  ServerOptions options_;
  std::uint64_t device_ = 0;
  std::uint64_t inode_ = 0;
  std::atomic<std::uint64_t> served_{0};
  std::uint64_t sequence_ = 0;
  std::vector<std::unique_ptr<Connection>> connections_;
  std::map<uid_t, std::uint64_t> lastServed_;
};

}  // namespace kuv::svc
