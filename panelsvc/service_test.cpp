// Runs the real panelsvc --foreground on a sample simulated world and talks to it through its
// socket, as the program does.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/service_client.h"
#include "common/utf16.h"
#include "panelio/sim/sample_world.h"
#include "panelio/sim/sim_state.h"
#include "panelio/sim/world.h"

extern char** environ;

namespace kuv::svc {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

const std::string kServiceBinary = KUVLCD_BINARY_DIR "/panelsvc/panelsvc";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Every regular file under dir with its contents, to prove that nothing there changed.
std::map<std::string, std::string> Snapshot(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file()) files[entry.path().string()] = ReadFile(entry.path().string());
  }
  return files;
}

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access(kServiceBinary.c_str(), X_OK) != 0) GTEST_SKIP() << "panelsvc not built";
    char tmpl[] = "/tmp/kuvsvcXXXXXX";
    dir_ = ::mkdtemp(tmpl);
    ::chmod(dir_.c_str(), 0755);
    socket_ = dir_ + "/svc.sock";
    world_ = dir_ + "/world";
    outside_ = dir_ + "/outside";
    fs::create_directories(outside_);
    std::ofstream(outside_ + "/keep.txt") << "not the service's";
    ASSERT_TRUE(sim::WriteSampleWorld(world_, {.sleepScale = 0}).ok());
    auto world = sim::LoadWorld(world_);
    ASSERT_TRUE(world.ok()) << world.status().ToString();
    for (const auto& disk : world->disks) {
      if (disk.bridgePanel && !disk.volumes.empty()) {
        bridgeDrive_ = disk.number;
        bridgePanel_ = disk.bridgePanel->name;
        volume_ = disk.volumes.front().dir;
      }
    }
    ASSERT_GE(bridgeDrive_, 0) << "the sample world has no bridge panel on a volume";
    Start();
  }
  void TearDown() override {
    if (pid_ > 0) Stop();
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  void Start(std::vector<std::string> args = {"--foreground"}, bool wait = true,
             std::vector<std::string> env = {}) {
    env.insert(env.end(),
               {"KUVLCD_SIM_WORLD=" + world_, "KUVLCD_SOCKET=" + socket_, "PATH=/usr/bin:/bin"});
    if (const char* asan = std::getenv("ASAN_OPTIONS"))
      env.push_back(std::string("ASAN_OPTIONS=") + asan);
    std::vector<std::string> argv = {kServiceBinary};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv, cenv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    for (auto& e : env) cenv.push_back(e.data());
    cenv.push_back(nullptr);
    // The service's log, to read what a client could make of it.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, (dir_ + "/svc.log").c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    const int spawned =
        ::posix_spawn(&pid_, kServiceBinary.c_str(), &actions, nullptr, cargv.data(), cenv.data());
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_EQ(spawned, 0);
    if (!wait) return;
    for (int i = 0; i < 500; ++i) {
      RequestRecord probe = MakeRequest(0);
      if (TryExchangeRequest(probe, {socket_, 1, milliseconds(10)}) == ExchangeOutcome::kAnswered) {
        return;
      }
    }
    FAIL() << "panelsvc did not come up";
  }

  // Stops the service as systemd does and answers its exit code.
  int Stop() {
    ::kill(pid_, SIGTERM);
    return Wait();
  }
  int Wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  RequestRecord Ask(RequestRecord record) {
    EXPECT_EQ(TryExchangeRequest(record, {socket_}), ExchangeOutcome::kAnswered);
    return record;
  }
  RequestRecord PathRequest(std::int32_t command, const std::string& path) {
    RequestRecord record = MakeRequest(command);
    EXPECT_TRUE(record.SetPath(Utf8ToUtf16(path)));
    return record;
  }
  bool StillServing() {
    RequestRecord record = MakeRequest(0);
    return TryExchangeRequest(record, {socket_}) == ExchangeOutcome::kAnswered;
  }

  std::string dir_, socket_, world_, outside_, volume_, bridgePanel_;
  int bridgeDrive_ = -1;
  pid_t pid_ = -1;
};

bool SameExceptLastError(RequestRecord a, RequestRecord b) {
  a.lastError = b.lastError = 0;
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// A record with every byte set, so a field the service should not touch shows when it does.
RequestRecord Patterned(std::int32_t command) {
  RequestRecord record = MakeRequest(command);
  auto bytes = AsWritableBytes(record);
  for (std::size_t i = 4; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
  return record;
}

TEST_F(ServiceTest, UnknownCodesChangeOnlyLastError) {
  for (std::int32_t code : {0, -1, 14, 1000}) {
    RequestRecord sent = Patterned(code);
    RequestRecord answer = Ask(sent);
    EXPECT_TRUE(SameExceptLastError(answer, sent)) << code;
  }
}

TEST_F(ServiceTest, AutorunKeepsTheResultAsSent) {
  RequestRecord sent = SetAutorunRequest(true);
  sent.result = 77;
  EXPECT_EQ(Ask(sent).result, 77);
  sent.autorun = 2;
  EXPECT_EQ(Ask(sent).result, 77);
}

TEST_F(ServiceTest, SizeFromSectorClearsTheRestOfTheDriveRecord) {
  RequestRecord sent = Patterned(kCmdGetSizeFromSector);
  sent.driveNumber = bridgeDrive_;
  RequestRecord answer = Ask(sent);
  EXPECT_EQ(answer.result, 1);
  DriveRecord expected{};
  expected.driveNumber = bridgeDrive_;
  expected.fileSystemType = answer.driveInfo.fileSystemType;
  expected.totalSectors = answer.driveInfo.totalSectors;
  expected.freeSectors = answer.driveInfo.freeSectors;
  EXPECT_EQ(std::memcmp(&answer.driveInfo, &expected, sizeof expected), 0);
}

TEST_F(ServiceTest, SmartInfoChangesOnlyItsFields) {
  RequestRecord sent = Patterned(kCmdGetSmartInfo);
  sent.driveNumber = bridgeDrive_;
  RequestRecord answer = Ask(sent);
  DriveRecord expected = sent.driveInfo;
  std::memcpy(expected.smartThresholds, answer.driveInfo.smartThresholds, 512);
  std::memcpy(expected.smartData, answer.driveInfo.smartData, 512);
  std::memcpy(expected.serialNumber, answer.driveInfo.serialNumber, sizeof expected.serialNumber);
  EXPECT_EQ(std::memcmp(&answer.driveInfo, &expected, sizeof expected), 0);
}

TEST_F(ServiceTest, SmartUnlessAsleepLeavesASleepingDiskAndItsRecordAlone) {
  ASSERT_TRUE(sim::SetDiskPowerMode(world_, bridgeDrive_, sim::PowerMode::kStandby).ok());
  RequestRecord sent = Patterned(kCmdGetSmartUnlessAsleep);
  sent.driveNumber = bridgeDrive_;
  RequestRecord answer = Ask(sent);
  EXPECT_EQ(answer.result, kSmartSkippedAsleep);
  EXPECT_EQ(std::memcmp(&answer.driveInfo, &sent.driveInfo, sizeof sent.driveInfo), 0);
  EXPECT_EQ(Ask(DriveRequest(kCmdGetPowerMode, bridgeDrive_)).result, 0x00);
  EXPECT_EQ(sim::ReadDiskPower(world_, bridgeDrive_)->wakeups, 0u);

  ASSERT_TRUE(sim::SetDiskPowerMode(world_, bridgeDrive_, sim::PowerMode::kIdle).ok());
  EXPECT_EQ(Ask(sent).result, 1) << "an idle disk is read";
  EXPECT_EQ(Ask(DriveRequest(kCmdGetPowerMode, bridgeDrive_)).result, 0x80);
}

TEST_F(ServiceTest, LineDataReachesTheSimulatedPanel) {
  std::vector<std::uint8_t> slots(kRequestLineSlots * kRequestLineSlotSize);
  for (std::size_t line = 0; line < kRequestLineSlots; ++line) {
    std::uint8_t* slot = slots.data() + line * kRequestLineSlotSize;
    const auto number = static_cast<std::uint8_t>(line + 1);
    slot[0] = 0x4C;
    slot[1] = 0x10;
    slot[2] = 0x80;
    std::uint8_t reversed = 0;
    for (int bit = 0; bit < 8; ++bit)
      reversed = static_cast<std::uint8_t>(reversed | ((number >> bit) & 1) << (7 - bit));
    slot[3] = reversed;
    for (int i = 0; i < 12; ++i) slot[4 + i] = line % 2 ? 0xFF : 0x0F;
  }
  RequestRecord answer =
      Ask(SendLineDataRequest(bridgeDrive_, std::span<const std::uint8_t, 6144>(slots)));
  EXPECT_EQ(answer.result, 0);
  const std::string pbm = world_ + "/state/panels/" + bridgePanel_ + ".pbm";
  ASSERT_TRUE(fs::exists(pbm)) << pbm;
  EXPECT_GT(fs::file_size(pbm), 1152u);
}

TEST_F(ServiceTest, CreateTheFolderThenDeleteAFileInIt) {
  const std::string folder = volume_ + "/TAVIO_LCDMANAGER";
  fs::remove_all(folder);
  EXPECT_NE(Ask(PathRequest(kCmdCreateDirectory, folder)).result, 0);
  ASSERT_TRUE(fs::is_directory(folder));
  std::ofstream(folder + "/LCD_DATA.TXT") << "old";
  EXPECT_EQ(Ask(PathRequest(kCmdDeleteFile, folder + "/LCD_DATA.TXT")).result, 1);
  EXPECT_FALSE(fs::exists(folder + "/LCD_DATA.TXT"));
  EXPECT_EQ(Ask(PathRequest(kCmdDeleteFile, folder + "/LCD_DATA.TXT")).result, -1);
}

TEST_F(ServiceTest, HostileRecordsAreRefusedAndNothingOutsideChanges) {
  const std::string folder = volume_ + "/TAVIO_LCDMANAGER";
  fs::create_directories(folder);
  fs::create_symlink(outside_ + "/keep.txt", folder + "/QR_DATA.TXT");
  fs::create_directory_symlink(outside_, volume_ + "/linked");
  const auto before = Snapshot(outside_);

  std::vector<std::pair<const char*, RequestRecord>> hostile;
  auto add = [&](const char* name, RequestRecord r) { hostile.emplace_back(name, r); };
  add("dot-dot", PathRequest(kCmdDeleteFile, folder + "/../../outside/keep.txt"));
  add("dot-dot into the folder",
      PathRequest(kCmdDeleteFile, folder + "/../TAVIO_LCDMANAGER/LCD_DATA.TXT"));
  add("outside the folder", PathRequest(kCmdDeleteFile, outside_ + "/keep.txt"));
  add("folder outside a volume", PathRequest(kCmdCreateDirectory, outside_ + "/TAVIO_LCDMANAGER"));
  add("other file name", PathRequest(kCmdDeleteFile, folder + "/world.json"));
  add("symbolic link file", PathRequest(kCmdDeleteFile, folder + "/QR_DATA.TXT"));
  add("symbolic link folder",
      PathRequest(kCmdCreateDirectory, volume_ + "/linked/TAVIO_LCDMANAGER"));
  add("relative", PathRequest(kCmdDeleteFile, "TAVIO_LCDMANAGER/LCD_DATA.TXT"));
  RequestRecord unterminated = MakeRequest(kCmdDeleteFile);
  std::fill(std::begin(unterminated.path), std::end(unterminated.path), u'/');
  add("unterminated path", unterminated);
  RequestRecord hid = DriveRequest(kCmdGetLcdInfo, bridgeDrive_);
  std::fill(std::begin(hid.driveInfo.hidPath), std::end(hid.driveInfo.hidPath), u'a');
  add("unterminated hidPath", hid);
  add("drive 32", DriveRequest(kCmdGetSizeFromSector, 32));
  add("drive -1", DriveRequest(kCmdStopLcdTimer, -1));
  RequestRecord longWrite = MakeRequest(kCmdWriteFile);
  std::fill(longWrite.path, longWrite.path + 40, u'a');
  add("command 6 path of 32 units or more", longWrite);
  RequestRecord badLength = MakeRequest(kCmdWriteFile);
  ASSERT_TRUE(badLength.SetWrite(u"/TAVIO_LCDMANAGER/LCD_DATA.TXT", {}));
  std::int32_t length = 4000;
  std::memcpy(AsWritableBytes(badLength).data() + kWriteLengthOffset, &length, 4);
  add("writeLength above 3556", badLength);

  for (const auto& [name, record] : hostile) {
    RequestRecord answer = Ask(record);
    if (record.command == kCmdDeleteFile) {
      EXPECT_EQ(answer.result, -1) << name;
    } else if (record.command != kCmdStopLcdTimer) {
      EXPECT_EQ(answer.result, 0) << name;
    }
    EXPECT_NE(answer.lastError, 0u) << name;
  }
  EXPECT_EQ(Snapshot(outside_), before);
  EXPECT_TRUE(fs::is_symlink(folder + "/QR_DATA.TXT"));
  EXPECT_FALSE(fs::exists(outside_ + "/TAVIO_LCDMANAGER"));
}

TEST_F(ServiceTest, SwappedFifosAndLinksNeitherHangTheServiceNorReachOutside) {
  const std::string folder = volume_ + "/TAVIO_LCDMANAGER";
  fs::create_directories(folder);
  fs::create_directory_symlink(outside_, volume_ + "/folder.swap");
  ASSERT_EQ(::mkfifo((folder + "/fifo.swap").c_str(), 0666), 0);
  std::ofstream(outside_ + "/LCD_DATA.TXT") << "someone else's";
  const auto before = Snapshot(outside_);
  std::atomic<bool> done{false};
  std::thread swapper([&] {
    for (unsigned i = 0; !done; ++i) {
      if (i % 2 == 0) {
        ::renameat2(AT_FDCWD, folder.c_str(), AT_FDCWD, (volume_ + "/folder.swap").c_str(),
                    RENAME_EXCHANGE);
      } else {
        const std::string real = fs::is_symlink(folder) ? volume_ + "/folder.swap" : folder;
        ::renameat2(AT_FDCWD, (real + "/LCD_DATA.TXT").c_str(), AT_FDCWD,
                    (real + "/fifo.swap").c_str(), RENAME_EXCHANGE);
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  for (int i = 0; i < 100; ++i) {
    const auto start = std::chrono::steady_clock::now();
    Ask(PathRequest(kCmdCreateDirectory, folder));
    Ask(PathRequest(kCmdDeleteFile, folder + "/LCD_DATA.TXT"));
    ASSERT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << i;
  }
  done = true;
  swapper.join();
  EXPECT_EQ(Snapshot(outside_), before);
  EXPECT_TRUE(StillServing());
}

TEST_F(ServiceTest, ClientTextCannotForgeOrFloodTheLog) {
  const std::string forged = "panelsvc: deleted /etc/shadow for pid 1 uid 0";
  for (int i = 0; i < 300; ++i) {
    std::u16string path = u"/nowhere/\n" + Utf8ToUtf16("\n" + forged + "\x1b[2J");
    path.resize(kRequestPathUnits - 1, u'\n');
    RequestRecord record = MakeRequest(kCmdDeleteFile);
    ASSERT_TRUE(record.SetPath(path));
    EXPECT_EQ(Ask(record).result, -1);
  }
  EXPECT_EQ(Stop(), 1);
  const std::string log = ReadFile(dir_ + "/svc.log");
  std::istringstream lines(log);
  int refusals = 0;
  for (std::string line; std::getline(lines, line);) {
    EXPECT_NE(line.rfind(forged, 0), 0u) << line;
    EXPECT_EQ(line.find('\x1b'), std::string::npos) << line;
    if (line.find("refused command 7") != std::string::npos) ++refusals;
  }
  EXPECT_GT(refusals, 0);
  EXPECT_LT(refusals, 100) << "one user's refusals are limited";
  EXPECT_LT(log.size(), 64u * 1024u);
}

TEST_F(ServiceTest, BadClientsDoNotStopTheService) {
  // Half a record, then gone.
  {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, socket_.c_str());
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    RequestRecord record = MakeRequest(kCmdSetAutorun);
    ASSERT_EQ(::send(fd, AsBytes(record).data(), 5000, 0), 5000);
    ::close(fd);
  }
  // A whole record, gone before the answer.
  {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, socket_.c_str());
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    RequestRecord record = DriveRequest(kCmdGetSizeFromSector, bridgeDrive_);
    ASSERT_EQ(::send(fd, AsBytes(record).data(), kRequestRecordSize, 0),
              static_cast<ssize_t>(kRequestRecordSize));
    ::close(fd);
  }
  // Silent: the next client is served meanwhile.
  int silent = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, socket_.c_str());
  ASSERT_EQ(::connect(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(StillServing());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  ::close(silent);
}

TEST_F(ServiceTest, StopsWithExitCodeOneAndTheClientThenGetsMinusOne) {
  EXPECT_EQ(Stop(), 1);
  EXPECT_FALSE(fs::exists(socket_));
  RequestRecord record = MakeRequest(0);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ExchangeRequest(record, {socket_}), -1);
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, milliseconds(2900));
  EXPECT_LT(elapsed, milliseconds(4500));
}

TEST_F(ServiceTest, StartedByHandWithoutForegroundExplainsAndExitsZero) {
  const pid_t serving = pid_;
  Start({}, false);
  EXPECT_EQ(Wait(), 0);
  pid_ = serving;
  EXPECT_TRUE(StillServing());
}

TEST_F(ServiceTest, TellsTheServiceManagerWhenItServesAndWhenItStops) {
  EXPECT_EQ(Stop(), 1);
  // The service manager's socket, as systemd names it to a service of Type=notify.
  const std::string notify = dir_ + "/notify";
  int manager = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, notify.c_str());
  ASSERT_EQ(::bind(manager, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  Start({}, true, {"NOTIFY_SOCKET=" + notify});
  std::vector<std::string> messages;
  char buffer[512];
  for (ssize_t n; (n = ::recv(manager, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;) {
    messages.emplace_back(buffer, static_cast<std::size_t>(n));
  }
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().rfind("READY=1\n", 0), 0u) << messages.back();
  EXPECT_TRUE(StillServing());
  EXPECT_EQ(Stop(), 1);
  const ssize_t n = ::recv(manager, buffer, sizeof buffer, MSG_DONTWAIT);
  ASSERT_GT(n, 0);
  EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(n)).rfind("STOPPING=1\n", 0), 0u);
  ::close(manager);
}

TEST_F(ServiceTest, SixtyFourClientsAllGetTheirOwnAnswers) {
  constexpr int kClients = 64;
  constexpr int kRequests = 100;
  std::atomic<int> wrong{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      for (int i = 0; i < kRequests; ++i) {
        RequestRecord record = MakeRequest(0);
        record.driveNumber = c * 1000 + i;  // ignored by code 0, so it must come back as sent
        record.result = 5;
        if (TryExchangeRequest(record, {socket_}) != ExchangeOutcome::kAnswered ||
            record.driveNumber != c * 1000 + i || record.result != 5) {
          ++wrong;
        }
      }
    });
  }
  for (auto& t : clients) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST_F(ServiceTest, FileRequestsRunWithTheClientsRights) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  const std::string folder = volume_ + "/TAVIO_LCDMANAGER";
  fs::create_directories(folder);
  ::chmod(folder.c_str(), 0755);
  for (std::string d = volume_; d.size() > dir_.size(); d = fs::path(d).parent_path()) {
    ::chmod(d.c_str(), 0755);
  }
  ::chmod(world_.c_str(), 0755);
  std::ofstream(folder + "/LCD_DATA.TXT") << "root's";
  // The world's other volume; the policy only accepts folders on volumes the world has.
  std::string otherVolume;
  for (const auto& entry : fs::directory_iterator(fs::path(volume_).parent_path())) {
    if (entry.path().string() != volume_) otherVolume = entry.path().string();
  }
  ASSERT_FALSE(otherVolume.empty());
  fs::remove_all(otherVolume + "/TAVIO_LCDMANAGER");
  // The client may create the folder only on a volume it could write itself.
  ASSERT_EQ(::chown(otherVolume.c_str(), 65534, 65534), 0);
  pid_t child = ::fork();
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
    // A user who may not write the folder cannot have the service delete in it either...
    RequestRecord del = PathRequest(kCmdDeleteFile, folder + "/LCD_DATA.TXT");
    if (ExchangeRequest(del, {socket_}) != -1 || del.lastError == 0) ::_exit(3);
    // ...but gets the folder the service creates, to write the files into.
    RequestRecord mkdir = PathRequest(kCmdCreateDirectory, otherVolume + "/TAVIO_LCDMANAGER");
    ::_exit(ExchangeRequest(mkdir, {socket_}) != 0 ? 0 : 4);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(fs::exists(folder + "/LCD_DATA.TXT"));
  struct stat st;
  ASSERT_EQ(::stat((otherVolume + "/TAVIO_LCDMANAGER").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(Ask(PathRequest(kCmdDeleteFile, folder + "/LCD_DATA.TXT")).result, 1);
}

}  // namespace
}  // namespace kuv::svc
