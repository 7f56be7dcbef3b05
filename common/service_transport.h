#pragma once
// How the service client reaches the service, the one part of it that differs per platform: a
// Unix stream socket here, the service's named pipe on Windows. service_client.cpp keeps the
// rules (attempts, pauses, what an outcome means) in one place for both.

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace kuv::transport {

using Clock = std::chrono::steady_clock;

enum class Transfer { kDone, kTimedOut, kFailed };

// Where the service listens when nothing else is said: a socket path or a pipe name.
std::string DefaultAddress();

// False for an address that can never name a service here (a socket path too long for its
// address), so that no time is spent trying it.
bool AddressUsable(const std::string& address);

// One connection to the service, closed with its last owner.
struct Connection;
struct ConnectionCloser {
  void operator()(Connection* connection) const;
};
using ConnectionPtr = std::unique_ptr<Connection, ConnectionCloser>;

// One attempt to connect; null when the service cannot be reached now (not there, or busy).
ConnectionPtr Connect(const std::string& address);

// Sends all of bytes, then makes sure they left this end, before deadline.
Transfer SendAll(Connection& connection, std::span<const std::uint8_t> bytes,
                 Clock::time_point deadline);

// Fills bytes from the connection before deadline; kFailed when it closes first.
Transfer ReceiveAll(Connection& connection, std::span<std::uint8_t> bytes,
                    Clock::time_point deadline);

}  // namespace kuv::transport
