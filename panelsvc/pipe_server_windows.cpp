#include <windows.h>
// Declared in terms of what windows.h declares.
#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <optional>
#include <vector>

#include "common/utf16.h"
#include "panelsvc/dispatch.h"
#include "panelsvc/fair_share.h"
#include "panelsvc/pipe_server.h"

namespace kuv::svc {

namespace {

using Clock = std::chrono::steady_clock;

// The completion key Stop posts; the instances use their index.
constexpr ULONG_PTR kStopKey = ~ULONG_PTR{0};

// SYSTEM and Administrators may do anything; Users may read and write, which is what a client's
// GENERIC_READ | GENERIC_WRITE asks for, but neither change the access list nor take ownership.
constexpr const wchar_t* kPipeAccess = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FRFW;;;BU)";
// The Windows programs' clients create or open the event asking for all access, so Users get it.
constexpr const wchar_t* kEventAccess =
    L"D:P(A;;0x1F0003;;;SY)(A;;0x1F0003;;;BA)(A;;0x1F0003;;;BU)";

std::wstring Wide(std::string_view utf8) {
  const std::u16string text = Utf8ToUtf16(utf8);
  return std::wstring(text.begin(), text.end());
}

std::string ErrorText(const char* what, DWORD error) {
  return std::string(what) + " failed with error " + std::to_string(error);
}

struct SecurityDescriptor {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
  explicit SecurityDescriptor(const wchar_t* sddl) {
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor,
                                                             nullptr)) {
      attributes.lpSecurityDescriptor = descriptor;
    }
  }
  ~SecurityDescriptor() {
    if (descriptor) LocalFree(descriptor);
  }
  bool valid() const { return descriptor != nullptr; }
};

DWORD MillisecondsUntil(Clock::time_point deadline, Clock::time_point now) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
  return left <= 0 ? 0 : static_cast<DWORD>(std::min<long long>(left, 60000));
}

}  // namespace

struct PipeServer::State {
  enum class Stage { kListening, kReading, kReady, kSending, kDraining, kResetting };
  struct Instance {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    OVERLAPPED overlapped{};  // the one operation the instance has in flight
    bool pending = false;
    Stage stage = Stage::kListening;
    Clock::time_point deadline;
    RequestRecord record = MakeRequest(0);
    std::size_t done = 0;  // bytes received, then bytes sent
    Peer peer;
    std::uint64_t order = 0;  // arrival, then completion of the record
    std::uint8_t extra = 0;   // where a byte the client should not send after its answer goes
  };

  PipeServerOptions options;
  HANDLE port = nullptr;
  HANDLE event = nullptr;
  std::vector<Instance> instances;
  std::map<std::string, UserId> users;  // the number each account counts as
  std::map<UserId, std::uint64_t> lastServed;
  std::uint64_t sequence = 0;
  std::atomic<std::uint64_t> served{0};
  bool stopping = false;

  ~State() {
    for (auto& instance : instances) {
      if (instance.pending) CancelIoEx(instance.pipe, &instance.overlapped);
      if (instance.pipe != INVALID_HANDLE_VALUE) CloseHandle(instance.pipe);
    }
    if (port) CloseHandle(port);
    if (event) CloseHandle(event);
  }

  void Log(UserId uid, const std::string& line) const {
    if (options.log) {
      options.log->Write(uid, LogKind::kError, line);
    } else {
      LogUnlimited(uid, LogKind::kError, line);
    }
  }

  UserId UserOf(const std::string& account) {
    // Every client whose account cannot be told counts as one user.
    auto [it, added] = users.try_emplace(account, static_cast<UserId>(users.size()));
    if (added && !account.empty()) {
      const std::string line = "uid " + std::to_string(it->second) + " stands for " + account;
      if (options.log) {
        options.log->Write(it->second, LogKind::kChange, line);
      } else {
        LogUnlimited(it->second, LogKind::kChange, line);
      }
    }
    return it->second;
  }

  // Lets the client of instance i go and waits for the next one.
  void Release(std::size_t i) {
    DisconnectNamedPipe(instances[i].pipe);
    Listen(i);
  }

  // Waits for a client on instance i, which has none.
  void Listen(std::size_t i) {
    Instance& c = instances[i];
    c.stage = Stage::kListening;
    c.done = 0;
    c.peer = Peer{};
    c.record = MakeRequest(0);
    if (stopping) return;
    c.overlapped = OVERLAPPED{};
    if (ConnectNamedPipe(c.pipe, &c.overlapped) || GetLastError() == ERROR_IO_PENDING) {
      c.pending = true;
    } else if (GetLastError() == ERROR_PIPE_CONNECTED) {
      // A client that came before the connect was asked for: no completion will tell.
      Connected(i);
    } else if (GetLastError() == ERROR_NO_DATA) {
      // One that came and went already.
      Release(i);
    } else {
      Log(0, ErrorText("ConnectNamedPipe", GetLastError()));
    }
  }

  // Drops the client of instance i; the instance listens again once nothing is in flight.
  void Reset(std::size_t i) {
    Instance& c = instances[i];
    if (c.pending) {
      c.stage = Stage::kResetting;
      CancelIoEx(c.pipe, &c.overlapped);
      return;
    }
    Release(i);
  }

  // Starts the next transfer of instance i; false (and the client dropped) when it cannot.
  bool Transfer(std::size_t i) {
    Instance& c = instances[i];
    c.overlapped = OVERLAPPED{};
    BOOL started;
    if (c.stage == Stage::kReading) {
      started = ReadFile(c.pipe, AsWritableBytes(c.record).data() + c.done,
                         static_cast<DWORD>(kRequestRecordSize - c.done), nullptr, &c.overlapped);
    } else if (c.stage == Stage::kSending) {
      started = WriteFile(c.pipe, AsBytes(c.record).data() + c.done,
                          static_cast<DWORD>(kRequestRecordSize - c.done), nullptr, &c.overlapped);
    } else {
      // Answered: the pipe is let go once the client closes its end (having read everything)
      // or the time is up, since disconnecting would drop what it has not read yet.
      started = ReadFile(c.pipe, &c.extra, 1, nullptr, &c.overlapped);
    }
    if (started || GetLastError() == ERROR_IO_PENDING) {
      c.pending = true;
      return true;
    }
    Failed(i, GetLastError());
    return false;
  }

  void Failed(std::size_t i, DWORD error) {
    Instance& c = instances[i];
    if (c.stage == Stage::kReading) {
      Log(c.peer.uid, "dropped client " + Describe(c.peer) + ": connection closed after " +
                          std::to_string(c.done) + " of " + std::to_string(kRequestRecordSize) +
                          " bytes");
    } else if (c.stage == Stage::kSending) {
      Log(c.peer.uid,
          "client " + Describe(c.peer) + " left before its answer: error " + std::to_string(error));
    }
    Reset(i);
  }

  void Connected(std::size_t i) {
    Instance& c = instances[i];
    const PipeClient client = AskPipeClient(c.pipe);
    c.peer.pid = client.pid;
    c.peer.uid = UserOf(client.account);
    c.stage = Stage::kReading;
    c.order = sequence++;
    c.deadline = Clock::now() + options.receiveTimeout;
    if (!MakeRoom(i)) return;
    Transfer(i);
  }

  // Keeps one instance listening when the client of instance i took the last; false when that
  // client is the one to go.
  bool MakeRoom(std::size_t i) {
    // Only a client still sending its record can hold an instance for long. Any other instance
    // (listening, being let go, its record waiting for the device, its answer on the way or its
    // client closing after it) listens again in a moment, each bounded by its deadline, so
    // closing anyone for the newcomer would be needless.
    const bool anyMoving = std::any_of(instances.begin(), instances.end(),
                                       [](const auto& c) { return c.stage != Stage::kReading; });
    if (anyMoving || instances.size() < 2) return true;
    std::vector<std::size_t> byArrival;
    for (std::size_t k = 0; k < instances.size(); ++k) {
      if (k != i && instances[k].stage != Stage::kResetting) byArrival.push_back(k);
    }
    std::sort(byArrival.begin(), byArrival.end(),
              [this](auto a, auto b) { return instances[a].order < instances[b].order; });
    std::vector<Holding> open;
    for (auto k : byArrival) {
      const Instance& c = instances[k];
      open.push_back({c.peer.uid, c.stage == Stage::kReading, c.order});
    }
    const std::string all = std::to_string(instances.size());
    const Instance& newcomer = instances[i];
    const auto victim = ConnectionToClose(newcomer.peer.uid, open);
    if (!victim) {
      Log(newcomer.peer.uid, "dropped client " + Describe(newcomer.peer) + ": all " + all +
                                 " connections are open and its user holds the most");
      Reset(i);
      return false;
    }
    const std::size_t k = byArrival[*victim];
    Log(instances[k].peer.uid, "closed client " + Describe(instances[k].peer) + " after " +
                                   std::to_string(instances[k].done) +
                                   " bytes to admit another: all " + all +
                                   " connections are open and its user holds the most");
    Reset(k);
    return true;
  }

  void Completed(std::size_t i, bool ok, DWORD moved, DWORD error) {
    Instance& c = instances[i];
    c.pending = false;
    switch (c.stage) {
      case Stage::kResetting:
        Release(i);
        return;
      case Stage::kListening:
        if (ok) {
          Connected(i);
        } else {
          Release(i);
        }
        return;
      case Stage::kReading:
      case Stage::kSending:
        if (!ok || moved == 0) {
          Failed(i, ok ? ERROR_NO_DATA : error);
          return;
        }
        c.done += moved;
        if (c.done < kRequestRecordSize) {
          Transfer(i);
        } else if (c.stage == Stage::kReading) {
          RecordWhole(i);
        } else {
          c.stage = Stage::kDraining;
          Transfer(i);
        }
        return;
      case Stage::kDraining:
      case Stage::kReady:
        Reset(i);
        return;
    }
  }

  void RecordWhole(std::size_t i) {
    Instance& c = instances[i];
    c.stage = Stage::kReady;
    c.order = sequence++;
    // Only now does the system lend the client's token; its account is the one that counts.
    c.peer.token = TakePipeClientToken(c.pipe);
    if (c.peer.token) c.peer.uid = UserOf(TokenAccount(c.peer.token.get()));
  }

  void Expire(Clock::time_point now) {
    for (std::size_t i = 0; i < instances.size(); ++i) {
      Instance& c = instances[i];
      if (now < c.deadline) continue;
      if (c.stage == Stage::kReading) {
        Log(c.peer.uid, "dropped client " + Describe(c.peer) +
                            ": no whole record within the time limit (" + std::to_string(c.done) +
                            " bytes)");
      } else if (c.stage == Stage::kSending) {
        Log(c.peer.uid, "client " + Describe(c.peer) + " did not take its answer in time");
      } else if (c.stage != Stage::kDraining) {
        continue;
      }
      Reset(i);
    }
  }

  std::optional<Clock::time_point> NextDeadline() const {
    std::optional<Clock::time_point> next;
    if (options.log) next = options.log->NextFlush();
    for (const auto& c : instances) {
      if (c.stage != Stage::kReading && c.stage != Stage::kSending && c.stage != Stage::kDraining) {
        continue;
      }
      if (!next || c.deadline < *next) next = c.deadline;
    }
    return next;
  }

  bool AnyReady() const {
    return std::any_of(instances.begin(), instances.end(),
                       [](const auto& c) { return c.stage == Stage::kReady; });
  }

  void ServeOne(const PipeRequestHandler& handler) {
    std::vector<Waiting> waiting;
    std::vector<std::size_t> which;
    for (std::size_t i = 0; i < instances.size(); ++i) {
      if (instances[i].stage != Stage::kReady) continue;
      waiting.push_back({instances[i].peer.uid, instances[i].order});
      which.push_back(i);
    }
    const auto chosen = NextToServe(waiting, lastServed);
    if (!chosen) return;
    const std::size_t i = which[*chosen];
    Instance& c = instances[i];
    handler(c.record, c.peer);
    ++served;
    lastServed[c.peer.uid] = sequence++;
    // Clients that wait for the event read their answer once it is set; the read then waits for
    // the bytes that follow.
    if (event) SetEvent(event);
    c.stage = Stage::kSending;
    c.done = 0;
    c.deadline = Clock::now() + options.sendTimeout;
    Transfer(i);
  }

  // Takes one completion, waiting up to timeout; false when none came.
  bool TakeCompletion(DWORD timeout) {
    DWORD moved = 0;
    ULONG_PTR key = 0;
    OVERLAPPED* overlapped = nullptr;
    const BOOL ok = GetQueuedCompletionStatus(port, &moved, &key, &overlapped, timeout);
    const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    if (!overlapped) {
      if (ok && key == kStopKey) {
        stopping = true;
        return true;
      }
      if (error != WAIT_TIMEOUT) Log(0, ErrorText("GetQueuedCompletionStatus", error));
      return false;
    }
    if (key < instances.size()) Completed(key, ok, moved, error);
    return true;
  }

  // After a stop: answers already made are still sent, then every instance is let go.
  void FinishSending() {
    for (std::size_t i = 0; i < instances.size(); ++i) {
      Stage stage = instances[i].stage;
      if (stage != Stage::kSending && stage != Stage::kDraining) Reset(i);
    }
    while (true) {
      const auto now = Clock::now();
      Expire(now);
      const bool inFlight =
          std::any_of(instances.begin(), instances.end(), [](const auto& c) { return c.pending; });
      if (!inFlight) return;
      const auto next = NextDeadline();
      if (!TakeCompletion(next ? MillisecondsUntil(*next, now) : 1000) && !next) return;
    }
  }
};

PipeServer::PipeServer(std::unique_ptr<State> state) : state_(std::move(state)) {}

PipeServer::~PipeServer() = default;

std::unique_ptr<PipeServer> PipeServer::Open(const PipeServerOptions& options, std::string* error) {
  auto state = std::make_unique<State>();
  state->options = options;
  const std::wstring pipeName = Wide(options.pipeName);
  const std::size_t slash = pipeName.find_last_of(L'\\');
  const std::wstring eventName =
      L"Global\\" + (slash == std::wstring::npos ? pipeName : pipeName.substr(slash + 1));
  SecurityDescriptor pipeAccess(kPipeAccess);
  SecurityDescriptor eventAccess(kEventAccess);
  if (!pipeAccess.valid() || !eventAccess.valid()) {
    *error = ErrorText("ConvertStringSecurityDescriptorToSecurityDescriptor", GetLastError());
    return nullptr;
  }
  // Before the pipe, so that a client that finds the pipe finds the event too.
  state->event = CreateEventW(&eventAccess.attributes, FALSE, FALSE, eventName.c_str());
  if (!state->event) {
    // Our own clients read their answers from the pipe; only those that wait for the event miss
    // it, and they are told why in the log.
    state->Log(0, ErrorText("CreateEvent Global\\ event", GetLastError()) +
                      ": clients that wait for it will wait in vain");
  }
  state->port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
  if (!state->port) {
    *error = ErrorText("CreateIoCompletionPort", GetLastError());
    return nullptr;
  }
  const int count = std::max(1, options.instances);
  state->instances.resize(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    auto& instance = state->instances[static_cast<std::size_t>(i)];
    // The first instance fails when the pipe exists, so no one else's pipe is served alongside.
    const DWORD open =
        PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (i == 0 ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
    instance.pipe = CreateNamedPipeW(
        pipeName.c_str(), open,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
        static_cast<DWORD>(count), 512, 512, 1000, &pipeAccess.attributes);
    if (instance.pipe == INVALID_HANDLE_VALUE) {
      *error = ErrorText(("CreateNamedPipe " + options.pipeName).c_str(), GetLastError());
      return nullptr;
    }
    if (!CreateIoCompletionPort(instance.pipe, state->port, static_cast<ULONG_PTR>(i), 0)) {
      *error = ErrorText("CreateIoCompletionPort", GetLastError());
      return nullptr;
    }
  }
  return std::unique_ptr<PipeServer>(new PipeServer(std::move(state)));
}

void PipeServer::Run(const PipeRequestHandler& handler) {
  State& s = *state_;
  for (std::size_t i = 0; i < s.instances.size(); ++i) s.Listen(i);
  while (!s.stopping) {
    // Everything that completed is taken in before deadlines are judged: a long device request
    // may have kept the loop from seeing a record that arrived in time.
    auto now = Clock::now();
    const auto next = s.NextDeadline();
    const DWORD wait = s.AnyReady() ? 0 : next ? MillisecondsUntil(*next, now) : INFINITE;
    if (s.TakeCompletion(wait)) {
      while (!s.stopping && s.TakeCompletion(0)) {
      }
    }
    if (s.stopping) break;
    if (s.options.log) s.options.log->Flush();
    s.Expire(Clock::now());
    s.ServeOne(handler);
  }
  s.FinishSending();
}

void PipeServer::Stop() {
  PostQueuedCompletionStatus(state_->port, 0, kStopKey, nullptr);
}

std::uint64_t PipeServer::served() const {
  return state_->served.load();
}

}  // namespace kuv::svc
