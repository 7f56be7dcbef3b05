#pragma once
// The service's door: a Unix stream socket anyone may connect to, one request record per
// connection, served strictly one connection after another.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/request_record.h"
#include "panelsvc/peer_identity.h"

namespace kuv::svc {

struct ServerOptions {
  // A client that has not sent its whole record by then is dropped.
  std::chrono::milliseconds receiveTimeout{5000};
  // A client that does not take its answer by then is dropped.
  std::chrono::milliseconds sendTimeout{5000};
  std::function<void(const std::string&)> log;  // empty: LogLine
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

  // Serves connections until stopFd becomes readable; the connection being served when that
  // happens is finished first. Bad clients (silent, short, gone) are dropped and logged.
  void Run(int stopFd, const RequestHandler& handler);

  std::uint64_t served() const { return served_; }

 private:
  Server(int fd, std::string path, ServerOptions options);
  void ServeConnection(int client, const RequestHandler& handler);
  void Log(const std::string& line) const;

  int fd_;
  std::string path_;
  ServerOptions options_;
  std::uint64_t device_ = 0;
  std::uint64_t inode_ = 0;
  std::uint64_t served_ = 0;
};

}  // namespace kuv::svc
