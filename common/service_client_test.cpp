#include "common/service_client.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

namespace kuv {
namespace {

// A one-connection server: accepts, reads a whole record, then does what the test says.
class OneShotServer {
 public:
  explicit OneShotServer(std::function<void(int fd, RequestRecord& record)> reply) {
    char tmpl[] = "/tmp/kuvclientXXXXXX";
    dir_ = ::mkdtemp(tmpl);
    path_ = dir_ + "/s.sock";
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path_.c_str());
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(fd_, 4), 0);
    thread_ = std::thread([this, reply] {
      int client = ::accept(fd_, nullptr, nullptr);
      if (client < 0) return;
      RequestRecord record;
      std::size_t got = 0;
      auto bytes = AsWritableBytes(record);
      while (got < bytes.size()) {
        ssize_t n = ::recv(client, bytes.data() + got, bytes.size() - got, 0);
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
      }
      reply(client, record);
      ::close(client);
    });
  }
  ~OneShotServer() {
    thread_.join();
    ::close(fd_);
    std::filesystem::remove_all(dir_);
  }
  const std::string& path() const { return path_; }

 private:
  std::string dir_, path_;
  int fd_ = -1;
  std::thread thread_;
};

TEST(ServiceClient, ReadsTheAnswerBackWhole) {
  OneShotServer server([](int fd, RequestRecord& record) {
    record.result = 1;
    record.lastError = 5;
    record.driveInfo.totalSectors = 12345;
    auto bytes = AsBytes(record);
    // Two writes with a pause: the client must keep reading until the record is whole.
    ASSERT_EQ(::send(fd, bytes.data(), 100, 0), 100);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(::send(fd, bytes.data() + 100, bytes.size() - 100, 0),
              static_cast<ssize_t>(bytes.size() - 100));
  });
  RequestRecord record = DriveRequest(kCmdGetSizeFromSector, 2);
  EXPECT_EQ(ExchangeRequest(record, {server.path()}), 1);
  EXPECT_EQ(record.lastError, 5u);
  EXPECT_EQ(record.driveInfo.totalSectors, 12345u);
  EXPECT_EQ(record.driveNumber, 2);
}

TEST(ServiceClient, BrokenAnswerLeavesTheRecordAsSentWithMinusOne) {
  OneShotServer server([](int fd, RequestRecord& record) {
    record.driveNumber = 99;
    ASSERT_EQ(::send(fd, AsBytes(record).data(), 500, 0), 500);
  });
  RequestRecord record = DriveRequest(kCmdGetSmartInfo, 4);
  EXPECT_EQ(TryExchangeRequest(record, {server.path()}), ExchangeOutcome::kBroken);
  EXPECT_EQ(record.result, -1);
  EXPECT_EQ(record.driveNumber, 4);
}

TEST(ServiceClient, UnreachableAfterEveryAttemptAndPause) {
  for (int attempts : {1, 4, 10}) {
    RequestRecord record = MakeRequest(0);
    ServiceClientOptions options{"/nonexistent/kuvlcd/none.sock", attempts};
    std::vector<std::chrono::milliseconds> pauses;
    options.pauseFor = [&](std::chrono::milliseconds pause) { pauses.push_back(pause); };
    EXPECT_EQ(TryExchangeRequest(record, options), ExchangeOutcome::kUnreachable) << attempts;
    EXPECT_EQ(record.result, -1);
    EXPECT_EQ(pauses, std::vector<std::chrono::milliseconds>(static_cast<std::size_t>(attempts),
                                                             std::chrono::milliseconds(300)))
        << attempts;
  }
}

TEST(ServiceClient, AServiceThatNeverAnswersIsGivenUpAsUnreachable) {
  OneShotServer server(
      [](int, RequestRecord&) { std::this_thread::sleep_for(std::chrono::milliseconds(1500)); });
  RequestRecord record = DriveRequest(kCmdGetSmartInfo, 4);
  ServiceClientOptions options{server.path(), 1, std::chrono::milliseconds(10)};
  options.answerTimeout = std::chrono::milliseconds(200);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(TryExchangeRequest(record, options), ExchangeOutcome::kUnreachable);
  // Well short of the answer, with room for a loaded machine.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_EQ(record.result, -1);
  EXPECT_EQ(record.driveNumber, 4);
}

}  // namespace
}  // namespace kuv
