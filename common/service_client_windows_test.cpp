// The client's pipe transport against a pipe server of the test's own.

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "common/service_client.h"

namespace kuv {
namespace {

using std::chrono::milliseconds;

std::string UniquePipe(const char* what) {
  return R"(\\.\pipe\kuvclient-)" + std::string(what) + "-" + std::to_string(GetCurrentProcessId());
}

std::wstring Wide(const std::string& ascii) {
  return std::wstring(ascii.begin(), ascii.end());
}

// One pipe instance made as the service makes its own; serves `clients` clients one after the
// other: reads each one's whole record, then does what the test says.
class PipeServer {
 public:
  PipeServer(const std::string& name, std::function<void(HANDLE, RequestRecord&)> reply,
             int clients = 1) {
    pipe_ = CreateNamedPipeW(Wide(name).c_str(), PIPE_ACCESS_DUPLEX,
                             PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 512, 512, 1000,
                             nullptr);
    EXPECT_NE(pipe_, INVALID_HANDLE_VALUE);
    thread_ = std::thread([this, reply, clients] {
      for (int i = 0; i < clients; ++i) {
        if (!ConnectNamedPipe(pipe_, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) return;
        RequestRecord record;
        auto bytes = AsWritableBytes(record);
        DWORD got = 0;
        for (std::size_t done = 0; done < bytes.size(); done += got) {
          if (!ReadFile(pipe_, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &got,
                        nullptr)) {
            return;
          }
        }
        reply(pipe_, record);
        FlushFileBuffers(pipe_);
        DisconnectNamedPipe(pipe_);
      }
    });
  }
  ~PipeServer() {
    thread_.join();
    CloseHandle(pipe_);
  }

 private:
  HANDLE pipe_;
  std::thread thread_;
};

void Write(HANDLE pipe, const std::uint8_t* data, std::size_t size) {
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(pipe, data, static_cast<DWORD>(size), &written, nullptr));
  ASSERT_EQ(written, size);
}

TEST(ServicePipeClient, ReadsTheAnswerFromItsOwnConnectionWhileHoldingTheEvent) {
  const std::string name = UniquePipe("answer");
  std::atomic<bool> eventHeld = false;
  PipeServer server(name, [&](HANDLE pipe, RequestRecord& record) {
    // A service that needs the event finds it while it serves the record.
    HANDLE event =
        OpenEventW(EVENT_MODIFY_STATE, FALSE,
                   (L"Global\\kuvclient-answer-" + std::to_wstring(GetCurrentProcessId())).c_str());
    eventHeld = event != nullptr;
    if (event) CloseHandle(event);
    record.result = 1;
    record.lastError = 5;
    record.driveInfo.totalSectors = 12345;
    auto bytes = AsBytes(record);
    // Two writes with a pause: the client must keep reading until the record is whole.
    Write(pipe, bytes.data(), 100);
    std::this_thread::sleep_for(milliseconds(50));
    Write(pipe, bytes.data() + 100, bytes.size() - 100);
  });
  RequestRecord record = DriveRequest(kCmdGetSizeFromSector, 2);
  EXPECT_EQ(TryExchangeRequest(record, {name}), ExchangeOutcome::kAnswered);
  EXPECT_EQ(record.result, 1);
  EXPECT_EQ(record.lastError, 5u);
  EXPECT_EQ(record.driveInfo.totalSectors, 12345u);
  EXPECT_EQ(record.driveNumber, 2);
  EXPECT_TRUE(eventHeld);
}

TEST(ServicePipeClient, ABrokenAnswerLeavesTheRecordAsSentWithMinusOne) {
  const std::string name = UniquePipe("broken");
  PipeServer server(name, [](HANDLE pipe, RequestRecord& record) {
    record.driveNumber = 99;
    Write(pipe, AsBytes(record).data(), 500);
  });
  RequestRecord record = DriveRequest(kCmdGetSmartInfo, 4);
  EXPECT_EQ(TryExchangeRequest(record, {name}), ExchangeOutcome::kBroken);
  EXPECT_EQ(record.result, -1);
  EXPECT_EQ(record.driveNumber, 4);
}

TEST(ServicePipeClient, AServiceThatNeverAnswersIsGivenUpInTime) {
  const std::string name = UniquePipe("silent");
  PipeServer server(
      name, [](HANDLE, RequestRecord&) { std::this_thread::sleep_for(milliseconds(1500)); });
  RequestRecord record = DriveRequest(kCmdGetSmartInfo, 4);
  ServiceClientOptions options{name, 1, milliseconds(10)};
  options.answerTimeout = milliseconds(200);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(TryExchangeRequest(record, options), ExchangeOutcome::kUnreachable);
  EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(1200));
  EXPECT_EQ(record.result, -1);
}

TEST(ServicePipeClient, ABusyPipeIsTriedAgainRatherThanGivenUp) {
  const std::string name = UniquePipe("busy");
  PipeServer server(
      name,
      [](HANDLE pipe, RequestRecord& record) {
        record.result = 7;
        Write(pipe, AsBytes(record).data(), kRequestRecordSize);
      },
      2);
  // Another client holds the one instance for a while, as a slow request would.
  HANDLE first = CreateFileW(Wide(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  std::atomic<bool> released = false;
  std::thread other([&] {
    std::this_thread::sleep_for(milliseconds(300));
    released = true;
    RequestRecord record = MakeRequest(0);
    Write(first, AsBytes(record).data(), kRequestRecordSize);
    DWORD got = 0;
    for (std::size_t done = 0; done < kRequestRecordSize; done += got) {
      if (!ReadFile(first, AsWritableBytes(record).data() + done,
                    static_cast<DWORD>(kRequestRecordSize - done), &got, nullptr)) {
        break;
      }
    }
    CloseHandle(first);
  });
  RequestRecord record = MakeRequest(kCmdStopLcdTimer);
  EXPECT_EQ(TryExchangeRequest(record, {name, 10, milliseconds(50)}), ExchangeOutcome::kAnswered);
  EXPECT_TRUE(released);
  EXPECT_EQ(record.result, 7);
  other.join();
}

TEST(ServicePipeClient, UnreachableAfterEveryAttemptAndPause) {
  RequestRecord record = MakeRequest(0);
  ServiceClientOptions options{UniquePipe("none"), 4, milliseconds(20)};
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(TryExchangeRequest(record, options), ExchangeOutcome::kUnreachable);
  EXPECT_EQ(record.result, -1);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, milliseconds(80));
  EXPECT_LT(elapsed, milliseconds(2000));
}

}  // namespace
}  // namespace kuv
