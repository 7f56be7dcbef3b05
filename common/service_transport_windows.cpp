#include <windows.h>

#include <algorithm>
#include <string_view>

#include "common/service_client.h"
#include "common/service_transport.h"
#include "common/utf16.h"

namespace kuv::transport {

struct Connection {
  HANDLE pipe = INVALID_HANDLE_VALUE;
  HANDLE event = nullptr;  // the service's event, held open for the whole exchange
  HANDLE done = nullptr;   // completion of this connection's overlapped transfers
};

namespace {

std::wstring Wide(std::string_view utf8) {
  const std::u16string text = Utf8ToUtf16(utf8);
  return std::wstring(text.begin(), text.end());
}

// Services that serve the pipe open the event of the same name in the global namespace after
// reading a record, and some stop serving for good when it does not exist; the pipe
// \\.\pipe\NAME goes with the event Global\NAME.
std::wstring EventName(const std::wstring& pipe) {
  const std::size_t slash = pipe.find_last_of(L'\\');
  return L"Global\\" + (slash == std::wstring::npos ? pipe : pipe.substr(slash + 1));
}

// Makes sure the event exists while the request is served. Our own service needs nothing from it
// (the reply is read from our connection, not announced by an event that another client's reply
// may have set), so it is neither waited for nor reset: a reset could swallow the signal another
// program's client waits for. False when the event does not exist and cannot be made: a service
// that needs it would then stop serving everyone.
bool HoldEvent(const std::wstring& pipe, HANDLE* event) {
  const std::wstring name = EventName(pipe);
  *event = CreateEventW(nullptr, FALSE, FALSE, name.c_str());
  if (*event) return true;
  *event = OpenEventW(SYNCHRONIZE, FALSE, name.c_str());
  if (*event) return true;
  // Denied: it exists, with an access list that lets this user do nothing with it.
  return GetLastError() == ERROR_ACCESS_DENIED;
}

DWORD MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<DWORD>(std::min<long long>(left, 60000));
}

// Waits for one overlapped transfer; cancels it (and waits for the cancellation) at the deadline.
Transfer Complete(Connection& c, OVERLAPPED& overlapped, BOOL started, DWORD* moved,
                  Clock::time_point deadline) {
  if (!started && GetLastError() != ERROR_IO_PENDING) return Transfer::kFailed;
  while (true) {
    const DWORD wait = WaitForSingleObject(c.done, MillisecondsLeft(deadline));
    if (wait == WAIT_OBJECT_0) break;
    if (wait == WAIT_TIMEOUT && Clock::now() < deadline) continue;
    CancelIoEx(c.pipe, &overlapped);
    GetOverlappedResult(c.pipe, &overlapped, moved, TRUE);
    return wait == WAIT_TIMEOUT ? Transfer::kTimedOut : Transfer::kFailed;
  }
  return GetOverlappedResult(c.pipe, &overlapped, moved, FALSE) ? Transfer::kDone
                                                                : Transfer::kFailed;
}

// Moves size bytes one overlapped transfer after another; start begins the transfer of what is
// left from the given offset on (ReadFile or WriteFile).
template <typename Start>
Transfer MoveAll(Connection& c, std::size_t size, Clock::time_point deadline, Start start) {
  std::size_t done = 0;
  while (done < size) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = c.done;
    DWORD moved = 0;
    const BOOL started = start(done, &overlapped);
    if (Transfer t = Complete(c, overlapped, started, &moved, deadline); t != Transfer::kDone) {
      return t;
    }
    if (moved == 0) return Transfer::kFailed;
    done += moved;
  }
  return Transfer::kDone;
}

}  // namespace

void ConnectionCloser::operator()(Connection* connection) const {
  if (connection->pipe != INVALID_HANDLE_VALUE) CloseHandle(connection->pipe);
  if (connection->event) CloseHandle(connection->event);
  if (connection->done) CloseHandle(connection->done);
  delete connection;
}

std::string DefaultAddress() {
  return kDefaultServicePipe;
}

bool AddressUsable(const std::string& address) {
  return !address.empty();
}

ConnectionPtr Connect(const std::string& address) {
  const std::wstring pipe = Wide(address);
  ConnectionPtr connection(new Connection);
  if (!HoldEvent(pipe, &connection->event)) return nullptr;
  connection->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!connection->done) return nullptr;
  // Not shared, existing pipe only; the service may act as this user for the files it touches.
  connection->pipe =
      CreateFileW(pipe.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                  FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IMPERSONATION, nullptr);
  if (connection->pipe == INVALID_HANDLE_VALUE) return nullptr;
  return connection;
}

Transfer SendAll(Connection& connection, std::span<const std::uint8_t> bytes,
                 Clock::time_point deadline) {
  const Transfer sent =
      MoveAll(connection, bytes.size(), deadline, [&](std::size_t done, OVERLAPPED* overlapped) {
        return WriteFile(connection.pipe, bytes.data() + done,
                         static_cast<DWORD>(bytes.size() - done), nullptr, overlapped);
      });
  if (sent != Transfer::kDone) return sent;
  // The written record has been taken from the pipe once the flush returns.
  return FlushFileBuffers(connection.pipe) ? Transfer::kDone : Transfer::kFailed;
}

Transfer ReceiveAll(Connection& connection, std::span<std::uint8_t> bytes,
                    Clock::time_point deadline) {
  return MoveAll(connection, bytes.size(), deadline, [&](std::size_t done, OVERLAPPED* overlapped) {
    return ReadFile(connection.pipe, bytes.data() + done, static_cast<DWORD>(bytes.size() - done),
                    nullptr, overlapped);
  });
}

}  // namespace kuv::transport
