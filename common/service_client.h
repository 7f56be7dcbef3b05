#pragma once
// The client side of the device service: one request record per connection to the service (its
// Unix socket here, its named pipe on Windows), answered on the same connection.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "common/request_record.h"

namespace kuv {

// In the folder the service's unit has systemd make for it (RuntimeDirectory=panelsvc).
inline constexpr const char* kDefaultServiceSocket = "/run/panelsvc/QmLcdDeviceService.sock";
// On Windows the service listens on the pipe the Windows programs use.
inline constexpr const char* kDefaultServicePipe = R"(\\.\pipe\QmLcdDeviceService)";

// Where the service listens: $KUVLCD_SOCKET when set and not empty, else the platform's default
// above (the socket, or the pipe on Windows).
std::string ServiceSocketPath();

struct ServiceClientOptions {
  std::string socketPath;  // empty: ServiceSocketPath(); a pipe name on Windows
  int attempts = 10;
  std::chrono::milliseconds pause{300};  // after every failed connect, the last one included
  // Makes the pause; empty sleeps the thread. Tests count the pauses here.
  std::function<void(std::chrono::milliseconds)> pauseFor{};
  // How long a connected client waits for the whole answer before it gives the service up as
  // unreachable: longer than one device command's 120 s time-out, so a slow drive still answers,
  // but bounded, so a service that is stuck does not freeze the program for good.
  std::chrono::milliseconds answerTimeout{150000};
};

enum class ExchangeOutcome {
  kAnswered,     // the whole answer is in the record
  kUnreachable,  // no connection in the given attempts, or no answer within answerTimeout
  kBroken,       // connected, but the connection broke before the whole answer came back
};

// As ExchangeRequest, telling why `result` is -1 when the service gave no answer.
ExchangeOutcome TryExchangeRequest(RequestRecord& record, const ServiceClientOptions& options = {});

// Sends the record and reads the answer back into it whole. When the service cannot be reached
// in the given attempts, does not answer in time, or the connection breaks before the whole
// answer came back, the record is left as sent except `result`, which becomes -1. Returns
// `result`.
std::int32_t ExchangeRequest(RequestRecord& record, const ServiceClientOptions& options = {});

}  // namespace kuv
