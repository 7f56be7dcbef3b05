#include "panelsvc/dispatch.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/utf16.h"
#include "panelio/env_test_support.h"
#include "panelio/panelio.h"

namespace kuv::svc {
namespace {

// What the fake exports saw; the dispatcher is the only caller.
struct Calls {
  std::vector<std::string> names;
  std::int32_t drive = -100;
  std::int32_t argument = -100;
  const void* pointer = nullptr;
  std::u16string path;
  int errnoToSet = 0;
  std::int32_t answer = 1;
  std::vector<std::string> mounts;
};
Calls calls;

std::int32_t Note(const char* name) {
  calls.names.push_back(name);
  if (calls.errnoToSet) errno = calls.errnoToSet;
  return calls.answer;
}

const DeviceOps kFakeOps{
    [](std::int32_t d, DriveRecord* info) {
      calls.drive = d;
      calls.pointer = info;
      return Note("GetLcdInfo");
    },
    [](std::int32_t d, const std::uint8_t* lines) {
      calls.drive = d;
      calls.pointer = lines;
      return static_cast<std::uint32_t>(Note("LcdSendLineData"));
    },
    [](std::int32_t add) {
      calls.argument = add;
      return Note("ModifyFilterSilHost");
    },
    [](int, const std::string& p) {
      calls.path = Utf8ToUtf16(p);
      return Note("SetHidden");
    },
    [](std::int32_t d) {
      calls.drive = d;
      return static_cast<std::uint32_t>(Note("StopLcdTimer"));
    },
    [](std::int32_t d, std::uint8_t* thresholds, std::uint8_t*, char16_t*) {
      calls.drive = d;
      calls.pointer = thresholds;
      return Note("GetSmartInfo");
    },
    [](std::int32_t on) {
      calls.argument = on;
      return Note("SetAutorun");
    },
    [](std::int32_t d, DriveRecord* info) {
      calls.drive = d;
      calls.pointer = info;
      return Note("GetSizeFromSector");
    },
    [] { return calls.mounts; },
    [](std::int32_t d, std::uint8_t* thresholds, std::uint8_t*, char16_t*) {
      calls.drive = d;
      calls.pointer = thresholds;
      return Note("GetSmartInfoUnlessAsleep");
    },
    [](std::int32_t d) {
      calls.drive = d;
      return Note("GetPowerMode");
    },
};

class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    calls = Calls{};
    context_.log = [this](uid_t uid, LogKind kind, const std::string& line) {
      EXPECT_EQ(uid, peer_.uid);
      log_.push_back(line);
      kinds_.push_back(kind);
    };
  }
  void Run(RequestRecord& record) { Dispatch(record, peer_, context_); }

  Peer peer_{77, 1000, 1000};
  DispatchContext context_{&kFakeOps};
  std::vector<std::string> log_;
  std::vector<LogKind> kinds_;
};

bool SameExceptLastError(RequestRecord a, RequestRecord b) {
  a.lastError = b.lastError = 0;
  return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST_F(DispatchTest, CodesOutsideTheTableCallNothing) {
  for (std::int32_t code : {0, -1, 14, 0x7FFFFFFF}) {
    RequestRecord record = MakeRequest(code);
    record.result = 55;
    record.driveNumber = 3;
    record.driveInfo.temperature = 40;
    RequestRecord sent = record;
    errno = EIO;  // a stale errno from earlier must not leak into the answer
    Run(record);
    EXPECT_TRUE(SameExceptLastError(record, sent)) << code;
    EXPECT_EQ(record.lastError, 0u);
  }
  EXPECT_TRUE(calls.names.empty());
  EXPECT_TRUE(log_.empty());
}

TEST_F(DispatchTest, EachCodeCallsItsExport) {
  struct Case {
    std::int32_t code;
    const char* name;
  };
  const std::vector<Case> cases = {{1, "GetLcdInfo"},          {2, "LcdSendLineData"},
                                   {3, "ModifyFilterSilHost"}, {4, "ModifyFilterSilHost"},
                                   {8, "StopLcdTimer"},        {9, "GetSmartInfo"},
                                   {11, "GetSizeFromSector"},  {12, "GetSmartInfoUnlessAsleep"},
                                   {13, "GetPowerMode"}};
  for (const auto& c : cases) {
    calls = Calls{};
    calls.answer = 42;
    RequestRecord record = DriveRequest(c.code, 6);
    Run(record);
    ASSERT_EQ(calls.names, std::vector<std::string>{c.name}) << c.code;
    EXPECT_EQ(record.result, 42) << c.code;
  }
}

TEST_F(DispatchTest, ArgumentsComeFromTheRecord) {
  RequestRecord record = DriveRequest(kCmdSendLineData, 7);
  Run(record);
  EXPECT_EQ(calls.drive, 7);
  EXPECT_EQ(calls.pointer, &record.lineRecords[0][0]);

  record = DriveRequest(kCmdAddSataFilterToo, 0);
  Run(record);
  EXPECT_EQ(calls.argument, 1);

  record = DriveRequest(kCmdGetSmartInfo, 2);
  Run(record);
  EXPECT_EQ(calls.pointer, record.driveInfo.smartThresholds);

  record = DriveRequest(kCmdGetLcdInfo, 31);
  Run(record);
  EXPECT_EQ(calls.pointer, &record.driveInfo);
}

TEST_F(DispatchTest, AutorunKeepsTheResultAsSent) {
  RequestRecord record = SetAutorunRequest(true);
  record.autorun = 0x0101;
  record.result = 1234;
  calls.answer = 5;
  Run(record);
  EXPECT_EQ(calls.argument, 0x0101);
  EXPECT_EQ(record.result, 1234);
}

TEST_F(DispatchTest, LastErrorIsErrnoOfTheOperation) {
  calls.errnoToSet = ENOENT;
  RequestRecord record = DriveRequest(kCmdStopLcdTimer, 1);
  Run(record);
  EXPECT_EQ(record.lastError, static_cast<std::uint32_t>(ENOENT));
}

TEST_F(DispatchTest, RefusedRecordsCallNothingAndAreLogged) {
  RequestRecord record = DriveRequest(kCmdSendLineData, 32);
  Run(record);
  EXPECT_EQ(static_cast<std::uint32_t>(record.result), kPanelDriveNotOpened);
  record = DriveRequest(kCmdGetSizeFromSector, -3);
  record.driveInfo.totalSectors = 9;
  Run(record);
  EXPECT_EQ(record.result, 0);
  EXPECT_EQ(record.driveInfo.totalSectors, 9u);  // left as sent
  record = MakeRequest(kCmdDeleteFile);
  record.SetPath(u"/etc/passwd");
  Run(record);
  EXPECT_EQ(record.result, -1);
  record = DriveRequest(kCmdGetPowerMode, 40);
  Run(record);
  EXPECT_EQ(record.result, kPowerModeUnknown);
  record = DriveRequest(kCmdGetSmartUnlessAsleep, -1);
  Run(record);
  EXPECT_EQ(record.result, 0);
  EXPECT_TRUE(calls.names.empty());
  ASSERT_EQ(log_.size(), 5u);
  EXPECT_EQ(kinds_, std::vector<LogKind>(5, LogKind::kRefusal)) << "held to the user's share";
  EXPECT_NE(log_[0].find("pid 77 uid 1000"), std::string::npos);
  EXPECT_NE(log_[2].find("/etc/passwd"), std::string::npos);
}

TEST_F(DispatchTest, ChangesAreLoggedWithThePeerWhateverJunkCameBefore) {
  std::vector<std::string> written;
  RateLimitedLog limited([&written](const std::string& line) { written.push_back(line); });
  context_.log = [&limited](uid_t uid, LogKind kind, const std::string& line) {
    limited.Write(uid, kind, line);
  };
  for (int i = 0; i < 25; ++i) {
    RequestRecord junk = DriveRequest(kCmdStopLcdTimer, 99);
    Run(junk);
  }
  ASSERT_EQ(written.size(), 20u) << "the refusals are held to the user's share";
  calls.answer = 0;
  RequestRecord record = SetAutorunRequest(true);
  Run(record);
  calls.answer = 1;
  record = SetAutorunRequest(true);
  Run(record);  // the export failed: nothing changed, nothing to log
  ASSERT_EQ(written.size(), 21u);
  EXPECT_NE(written.back().find("registered the automatic start for pid 77 uid 1000"),
            std::string::npos);
}

TEST_F(DispatchTest, CommandSixAppendsExactlyWriteLengthBytes) {
  // Command 6's path must end within 32 units, which only a volume at the root allows: the
  // request runs in a child whose root is a folder of the test's.
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a child its own root folder";
  devtest::TempDir volume;
  const std::string file = volume.path() + "/TAVIO_LCDMANAGER/QR_DATA.TXT";
  std::vector<std::uint8_t> field(kWriteDataMax);
  for (std::size_t i = 0; i < field.size(); ++i) field[i] = static_cast<std::uint8_t>('a' + i % 26);
  struct Case {
    std::int32_t length;
    bool allowed;
  };
  for (const Case c : {Case{0, true}, Case{1, true}, Case{5, true}, Case{3556, true},
                       Case{-1, false}, Case{3557, false}}) {
    std::filesystem::remove_all(volume.path());
    std::filesystem::create_directories(volume.path() + "/TAVIO_LCDMANAGER");
    RequestRecord record = MakeRequest(kCmdWriteFile);
    ASSERT_TRUE(record.SetWrite(u"/TAVIO_LCDMANAGER/QR_DATA.TXT", field));
    std::memcpy(AsWritableBytes(record).data() + kWriteLengthOffset, &c.length, sizeof c.length);
    const pid_t child = ::fork();
    if (child == 0) {
      if (::chroot(volume.path().c_str()) != 0 || ::chdir("/") != 0) ::_exit(2);
      calls.mounts = {"/"};
      std::string log;
      context_.log = [&log](uid_t, LogKind kind, const std::string& line) {
        log += (kind == LogKind::kChange ? "change: " : "other: ") + line + "\n";
      };
      Dispatch(record, Peer{::getpid(), ::getuid(), ::getgid(), {}}, context_);
      std::ofstream("/answer") << record.result << "\n" << log;
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c.length;
    std::istringstream answer(devtest::ReadAll(volume.path() + "/answer"));
    std::int32_t result = -100;
    std::string line;
    answer >> result;
    answer.ignore();
    std::getline(answer, line);
    if (c.allowed) {
      EXPECT_EQ(result, 1) << c.length;
      EXPECT_EQ(devtest::ReadAll(file), std::string(field.begin(), field.begin() + c.length))
          << c.length;
      EXPECT_EQ(line.find("change: appended " + std::to_string(c.length) + " bytes to "), 0u)
          << line;
    } else {
      EXPECT_EQ(result, 0) << c.length;
      EXPECT_FALSE(std::filesystem::exists(file)) << c.length;
      EXPECT_EQ(line.find("other: refused command 6"), 0u) << line;
    }
  }
}

}  // namespace
}  // namespace kuv::svc
