#pragma once
// The service's door on Windows: the named pipe the Windows programs use, in byte mode with
// 512-byte buffers, one request record per connection, and the named event they wait for, set
// after every reply. Several instances of the pipe read records at once, so a client that
// connects and says nothing holds up no one but its own user; records are served one at a time,
// taking users in turn.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/request_record.h"
#include "common/service_client.h"
#include "panelsvc/peer_identity.h"
#include "panelsvc/service_log.h"

namespace kuv::svc {

struct PipeServerOptions {
  // \\.\pipe\NAME; the event is then Global\NAME.
  std::string pipeName = kDefaultServicePipe;
  // A client that has not sent its whole record this long after it connected is dropped.
  std::chrono::milliseconds receiveTimeout{5000};
  // A client that does not take its answer by then is dropped.
  std::chrono::milliseconds sendTimeout{5000};
  // Instances of the pipe, all made at the start and kept, so that no other program can add an
  // instance of its own to answer in the service's place. One is always kept listening: when a
  // client takes the last, the oldest connection still owing its record of the user holding the
  // most is closed.
  int instances = 32;
  RateLimitedLog* log = nullptr;  // null: every line to LogUnlimited
};

// Serves one record in place for the peer.
using PipeRequestHandler = std::function<void(RequestRecord& record, const Peer& peer)>;

class PipeServer {
 public:
  // Makes the pipe's instances and the event, with access for SYSTEM, Administrators and Users
  // named by their well-known SIDs. Fails (error set) when the pipe exists already.
  static std::unique_ptr<PipeServer> Open(const PipeServerOptions& options, std::string* error);
  PipeServer(const PipeServer&) = delete;
  PipeServer& operator=(const PipeServer&) = delete;
  ~PipeServer();

  // Serves until Stop; the request being served when it comes is finished, and answers already
  // made are still sent (each within sendTimeout).
  void Run(const PipeRequestHandler& handler);

  // Ends Run; may be called from any thread (the service's control handler, Ctrl+C).
  void Stop();

  // Requests handled so far; may be read from another thread while Run serves.
  std::uint64_t served() const;

 private:
  struct State;
  explicit PipeServer(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace kuv::svc
