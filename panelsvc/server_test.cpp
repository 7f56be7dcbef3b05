#include "panelsvc/server.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "common/service_client.h"

namespace kuv::svc {
namespace {

int Connect(const std::string& path) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, path.c_str());
  EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  return fd;
}

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kuvserverXXXXXX";
    dir_ = ::mkdtemp(tmpl);
    path_ = dir_ + "/svc.sock";
    stopFd_ = ::eventfd(0, EFD_CLOEXEC);
  }
  void TearDown() override {
    Stop();
    ::close(stopFd_);
    std::filesystem::remove_all(dir_);
  }

  // Starts a server whose handler answers result = command * 10 after an optional delay.
  void Start(std::chrono::milliseconds receiveTimeout = std::chrono::milliseconds(5000),
             std::chrono::milliseconds handlerDelay = std::chrono::milliseconds(0)) {
    options_.receiveTimeout = receiveTimeout;
    log_ = std::make_unique<RateLimitedLog>(
        [this](const std::string& line) {
          std::lock_guard<std::mutex> lock(logMutex_);
          lines_.push_back(line);
        },
        RateLimitedLog::Clock::now, logShare_);
    options_.log = log_.get();
    ServerOptions options = options_;
    std::string error;
    server_ = Server::Open(path_, options, &error);
    ASSERT_TRUE(server_) << error;
    thread_ = std::thread([this, handlerDelay] {
      server_->Run(stopFd_, [this, handlerDelay](RequestRecord& record, const Peer& peer) {
        inHandler_ = true;
        if (onServe_) onServe_(peer);
        std::this_thread::sleep_for(handlerDelay);
        record.result = record.command * 10;
        lastPeer_ = peer;
      });
    });
  }
  void Stop() {
    if (!thread_.joinable()) return;
    std::uint64_t one = 1;
    ASSERT_EQ(::write(stopFd_, &one, sizeof one), 8);
    thread_.join();
  }
  std::int32_t Ask(std::int32_t command) {
    RequestRecord record = MakeRequest(command);
    return ExchangeRequest(record, {path_, 1, std::chrono::milliseconds(10)});
  }
  std::size_t LogSize() {
    std::lock_guard<std::mutex> lock(logMutex_);
    return lines_.size();
  }
  // The log lines holding every one of the words.
  std::vector<std::string> LogLinesWith(std::initializer_list<std::string> words) {
    std::lock_guard<std::mutex> lock(logMutex_);
    std::vector<std::string> found;
    for (const auto& line : lines_) {
      if (std::all_of(words.begin(), words.end(),
                      [&line](const std::string& w) { return line.find(w) != std::string::npos; }))
        found.push_back(line);
    }
    return found;
  }

  std::string dir_, path_;
  int stopFd_ = -1;
  std::unique_ptr<Server> server_;
  std::thread thread_;
  std::atomic<bool> inHandler_{false};
  Peer lastPeer_;
  std::mutex logMutex_;
  std::unique_ptr<RateLimitedLog> log_;
  std::vector<std::string> lines_;
  int logShare_ = 20;
  std::function<void(const Peer&)> onServe_;
  ServerOptions options_;
};

// A child process that connects count clients as uid, sends a whole record of command 1 on each
// when asked to (else keeps them silent), and waits until it is killed.
class UserClients {
 public:
  UserClients(const std::string& path, uid_t uid, int count, bool send = false) {
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      // The server runs in the parent: copies of its connections here would keep them open.
      ::close_range(3, static_cast<unsigned>(ready[1]) - 1, 0);
      ::close_range(static_cast<unsigned>(ready[1]) + 1, ~0u, 0);
      if (::setresgid(uid, uid, uid) != 0 || ::setresuid(uid, uid, uid) != 0) ::_exit(2);
      const RequestRecord record = MakeRequest(1);
      for (int i = 0; i < count; ++i) {
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, path.c_str());
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) ::_exit(3);
        if (send && ::send(fd, AsBytes(record).data(), kRequestRecordSize, 0) !=
                        static_cast<ssize_t>(kRequestRecordSize)) {
          ::_exit(4);
        }
      }
      char one = 1;
      (void)::write(ready[1], &one, 1);
      ::pause();
      ::_exit(0);
    }
    ::close(ready[1]);
    char byte = 0;
    connected_ = ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
  }
  ~UserClients() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  bool connected() const { return connected_; }

 private:
  pid_t pid_ = -1;
  bool connected_ = false;
};

TEST_F(ServerTest, AnswersOnTheSameConnectionWithThePeer) {
  // The service runs with umask 0077; every user may connect all the same.
  const mode_t umask = ::umask(077);
  Start();
  ::umask(umask);
  EXPECT_EQ(Ask(3), 30);
  EXPECT_EQ(lastPeer_.pid, ::getpid());
  EXPECT_EQ(lastPeer_.uid, ::getuid());
  struct stat st;
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666u);
}

TEST_F(ServerTest, GroupsComeFromTheConnection) {
  Start();
  EXPECT_EQ(Ask(1), 10);
  std::vector<gid_t> mine(static_cast<std::size_t>(::getgroups(0, nullptr)));
  ASSERT_EQ(::getgroups(static_cast<int>(mine.size()), mine.data()), static_cast<int>(mine.size()));
  std::vector<gid_t> seen = lastPeer_.groups;
  std::sort(mine.begin(), mine.end());
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, mine);
}

TEST_F(ServerTest, SilentClientsOfOneUserDoNotDelayAnother) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
  ::chmod(dir_.c_str(), 0755);
  Start();
  // Twice as many silent clients as the service reads at once for one user.
  UserClients silent(path_, 65534, 2 * options_.readingPerUid);
  ASSERT_TRUE(silent.connected());
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Ask(2), 20);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(ServerTest, NineUsersShareTheConnectionsFairly) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to connect as other users";
  ::chmod(dir_.c_str(), 0755);
  options_.openPerUid = 4;
  options_.openTotal = 32;
  logShare_ = 1;  // each user's first line only: a line charged to the wrong user goes missing
  Start(std::chrono::seconds(60));
  // Eight users fill every connection with silent clients.
  std::vector<std::unique_ptr<UserClients>> hogs;
  for (uid_t uid = 60001; uid <= 60008; ++uid) {
    hogs.push_back(std::make_unique<UserClients>(path_, uid, options_.openPerUid));
    ASSERT_TRUE(hogs.back()->connected()) << uid;
  }
  // The ninth is served all the same, at the cost of one silent client of a user holding the most.
  EXPECT_EQ(Ask(2), 20);
  const auto closed = LogLinesWith({"closed client", "to admit another"});
  ASSERT_EQ(closed.size(), 1u);
  EXPECT_NE(closed[0].find("uid 6000"), std::string::npos) << closed[0];
  EXPECT_NE(closed[0].find(" after 0 bytes"), std::string::npos) << closed[0];

  // The ninth user's own share of the log was not spent on the others' lines.
  int half = Connect(path_);
  RequestRecord record = MakeRequest(1);
  ASSERT_EQ(::send(half, AsBytes(record).data(), 100, 0), 100);
  ::close(half);
  const std::string mine = "uid " + std::to_string(::getuid()) + ": connection closed after 100";
  for (int i = 0; i < 500 && LogLinesWith({mine}).empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(LogLinesWith({mine}).size(), 1u);
}

// Whether the server has closed a client's connection, waiting for it at most two seconds.
bool ClosedByServer(int fd) {
  pollfd p{fd, POLLIN, 0};
  char byte;
  return ::poll(&p, 1, 2000) == 1 && ::recv(fd, &byte, 1, MSG_DONTWAIT) == 0;
}

TEST_F(ServerTest, WhenAllAreOpenTheUserHoldingTheMostMakesRoom) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to connect as other users";
  ::chmod(dir_.c_str(), 0755);
  options_.openTotal = 4;
  options_.openPerUid = 8;
  Start(std::chrono::seconds(60));
  std::vector<int> mine;
  for (int i = 0; i < 3; ++i) mine.push_back(Connect(path_));
  UserClients other(path_, 60001, 1);
  ASSERT_TRUE(other.connected());
  // All four are open. This user holds the most, so its own oldest client makes room for its
  // newest, and for the other user's next.
  mine.push_back(Connect(path_));
  EXPECT_TRUE(ClosedByServer(mine[0]));
  UserClients again(path_, 60001, 1);
  ASSERT_TRUE(again.connected());
  EXPECT_TRUE(ClosedByServer(mine[1]));
  // Two each now: among equals the oldest client goes, here this user's.
  UserClients third(path_, 60002, 1);
  ASSERT_TRUE(third.connected());
  EXPECT_TRUE(ClosedByServer(mine[2]));
  // One of this user's is left, and two of the other's: a newcomer who would draw level goes at
  // its own user's cost, not by pushing out the other's older client.
  mine.push_back(Connect(path_));
  EXPECT_TRUE(ClosedByServer(mine[3]));
  pollfd p{mine[4], POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 0), 0);
  EXPECT_EQ(LogLinesWith({"closed client", "uid 0 ", "to admit another"}).size(), 4u);
  for (int fd : mine) ::close(fd);
}

TEST_F(ServerTest, UsersAreServedInTurn) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to connect as other users";
  ::chmod(dir_.c_str(), 0755);
  std::promise<void> open;
  std::shared_future<void> gate = open.get_future().share();
  std::mutex served;
  std::vector<uid_t> order;
  onServe_ = [&](const Peer& peer) {
    {
      std::lock_guard<std::mutex> lock(served);
      order.push_back(peer.uid);
    }
    gate.wait();
  };
  Start();
  // While the service is busy with a first record, one user queues four and another two.
  std::thread first([this] { EXPECT_EQ(Ask(1), 10); });
  while (!inHandler_) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  UserClients a(path_, 60001, 4, true);
  UserClients b(path_, 60002, 2, true);
  ASSERT_TRUE(a.connected() && b.connected());
  open.set_value();
  first.join();
  for (int i = 0; i < 500; ++i) {
    {
      std::lock_guard<std::mutex> lock(served);
      if (order.size() >= 7) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::lock_guard<std::mutex> lock(served);
  EXPECT_EQ(order, (std::vector<uid_t>{::getuid(), 60001, 60002, 60001, 60002, 60001, 60001}));
}

TEST_F(ServerTest, ConnectionsBeyondAUsersShareAreClosedAtOnce) {
  options_.openPerUid = 3;
  Start();
  std::vector<int> held;
  for (int i = 0; i < 3; ++i) held.push_back(Connect(path_));
  int extra = Connect(path_);
  pollfd p{extra, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 2000), 1);
  char byte;
  EXPECT_EQ(::recv(extra, &byte, 1, 0), 0);
  ::close(extra);
  for (int fd : held) ::close(fd);
  // Their slots are free for the very next connection, however soon it comes.
  EXPECT_EQ(Ask(5), 50);
}

TEST_F(ServerTest, AClientThatReconnectsAtOnceGetsItsSlotsBack) {
  options_.openPerUid = 2;
  options_.readingPerUid = 1;  // one of the two waits unread, so only hanging up can free it
  Start();
  for (int round = 0; round < 20; ++round) {
    int a = Connect(path_);
    int b = Connect(path_);
    ::close(a);
    ::close(b);
    ASSERT_EQ(Ask(5), 50) << "round " << round;
  }
}

TEST_F(ServerTest, AWholeRecordIsServedThoughItsClientLeftAtTheCap) {
  options_.openPerUid = 2;
  options_.readingPerUid = 1;
  Start(std::chrono::milliseconds(200));
  int silent = Connect(path_);
  int sender = Connect(path_);
  RequestRecord record = MakeRequest(7);
  ASSERT_EQ(::send(sender, AsBytes(record).data(), kRequestRecordSize, 0),
            static_cast<ssize_t>(kRequestRecordSize));
  ::close(sender);
  int extra = Connect(path_);
  pollfd p{extra, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 2000), 1);
  char byte;
  EXPECT_EQ(::recv(extra, &byte, 1, 0), 0) << "the user's share is still taken";
  ::close(extra);
  ::close(silent);
  EXPECT_EQ(Ask(2), 20);
  EXPECT_EQ(server_->served(), 2u) << "the record that came whole, and ours";
}

TEST_F(ServerTest, BadClientsAreDroppedAndTheNextIsServed) {
  Start(std::chrono::milliseconds(200));
  int silent = Connect(path_);
  int half = Connect(path_);
  RequestRecord record = MakeRequest(1);
  ASSERT_EQ(::send(half, AsBytes(record).data(), 4000, 0), 4000);
  ::close(half);
  int leaver = Connect(path_);
  ASSERT_EQ(::send(leaver, AsBytes(record).data(), kRequestRecordSize, 0),
            static_cast<ssize_t>(kRequestRecordSize));
  ::close(leaver);  // gone before its answer
  EXPECT_EQ(Ask(2), 20);
  EXPECT_EQ(server_->served(), 2u);  // the leaver's record and ours
  ::close(silent);
  EXPECT_GE(LogSize(), 2u);
}

TEST_F(ServerTest, ARecordThatArrivedDuringALongRequestIsNotDropped) {
  Start(std::chrono::milliseconds(200), std::chrono::milliseconds(500));
  int early = Connect(path_);
  RequestRecord record = MakeRequest(2);
  ASSERT_EQ(::send(early, AsBytes(record).data(), 4000, 0), 4000);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::int32_t other = 0;
  std::thread client([&] { other = Ask(1); });
  while (!inHandler_) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  // The rest comes well within the limit, while the service is busy with the other request.
  ASSERT_EQ(::send(early, AsBytes(record).data() + 4000, kRequestRecordSize - 4000, 0),
            static_cast<ssize_t>(kRequestRecordSize - 4000));
  client.join();
  RequestRecord answer;
  ASSERT_EQ(::recv(early, &answer, sizeof answer, MSG_WAITALL),
            static_cast<ssize_t>(sizeof answer));
  EXPECT_EQ(answer.result, 20);
  EXPECT_EQ(other, 10);
  ::close(early);
}

TEST_F(ServerTest, StopFinishesTheRequestInFlight) {
  Start(std::chrono::milliseconds(5000), std::chrono::milliseconds(300));
  std::int32_t answer = 0;
  std::thread client([&] { answer = Ask(4); });
  while (!inHandler_) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  Stop();
  client.join();
  EXPECT_EQ(answer, 40);
  server_.reset();
  EXPECT_FALSE(std::filesystem::exists(path_));  // the socket file goes with the server
}

TEST_F(ServerTest, OpenRefusesALiveServiceAndForeignFilesButReplacesAStaleSocket) {
  Start();
  std::string error;
  EXPECT_FALSE(Server::Open(path_, {}, &error));
  EXPECT_NE(error.find("already"), std::string::npos);
  Stop();
  thread_ = std::thread();

  const std::string file = dir_ + "/plain";
  std::ofstream(file) << "keep me";
  EXPECT_FALSE(Server::Open(file, {}, &error));
  std::ifstream in(file);
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "keep me");

  // A socket file left behind by a killed service.
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string stale = dir_ + "/stale.sock";
  std::strcpy(address.sun_path, stale.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(fd);
  EXPECT_TRUE(Server::Open(stale, {}, &error)) << error;
}

}  // namespace
}  // namespace kuv::svc
