#include "panelsvc/request_policy_posix.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/utf16.h"
#include "panelio/panelio.h"

namespace kuv::svc {
namespace {

struct PathCase {
  std::int32_t command;
  std::u16string path;
  bool allowed;
};

TEST(RequestPolicy, TargetPaths) {
  const std::vector<std::string> mounts = {"/media/u/DISK", "/", "/mnt/x/"};
  const std::vector<PathCase> cases = {
      {5, u"/media/u/DISK/TAVIO_LCDMANAGER", true},
      {5, u"/TAVIO_LCDMANAGER", true},
      {5, u"/mnt/x/TAVIO_LCDMANAGER", true},
      {5, u"/media/u/DISK/TAVIO_LCDMANAGER/", false},
      {5, u"media/u/DISK/TAVIO_LCDMANAGER", false},
      {5, u"/media/u/DISK/../DISK/TAVIO_LCDMANAGER", false},
      {5, u"/media/u/DISK/./TAVIO_LCDMANAGER", false},
      {5, u"/media/u//DISK/TAVIO_LCDMANAGER", false},
      {5, u"/media/u/OTHER/TAVIO_LCDMANAGER", false},
      {5, u"/media/u/DISK/tavio_lcdmanager", false},
      {5, u"/media/u/DISK/TAVIO_LCDMANAGER/LCD_DATA.TXT", false},
      {5, u"/etc/cron.d", false},
      {5, u"", false},
      {7, u"/media/u/DISK/TAVIO_LCDMANAGER/LCD_DATA.TXT", true},
      {7, u"/media/u/DISK/TAVIO_LCDMANAGER/QR_DATA.TXT", true},
      {7, u"/media/u/DISK/TAVIO_LCDMANAGER/LCD_IMAGE.BMP", true},
      {7, u"/TAVIO_LCDMANAGER/LCD_DATA.TXT", true},
      {6, u"/TAVIO_LCDMANAGER/QR_DATA.TXT", true},
      {7, u"/media/u/DISK/TAVIO_LCDMANAGER/passwd", false},
      {7, u"/media/u/DISK/TAVIO_LCDMANAGER", false},
      {7, u"/media/u/DISK/X/TAVIO_LCDMANAGER/LCD_DATA.TXT", false},
      {7, u"/media/u/DISK/TAVIO_LCDMANAGER/../../../etc/passwd", false},
      {7, u"/media/u/DISK/TAVIO_LCDMANAGER/../TAVIO_LCDMANAGER/LCD_DATA.TXT", false},
      {7, u"/etc/passwd", false},
      {7, u"E:\\TAVIO_LCDMANAGER\\LCD_DATA.TXT", false},
      {7, u"/media/u/DISK/TAVIO_LCDMANAGER/LCD_DATA.TXT\xD800", false},
  };
  for (const auto& c : cases) {
    TargetCheck check = CheckTargetPath(c.command, c.path, mounts);
    EXPECT_EQ(check.target.has_value(), c.allowed)
        << "command " << c.command << " path " << Utf16ToUtf8(c.path) << ": " << check.refusal;
    if (!c.allowed) {
      EXPECT_FALSE(check.refusal.empty());
    }
  }
}

struct FieldCase {
  const char* name;
  void (*fill)(RequestRecord&);
  bool allowed;
};

TEST(RequestPolicy, RecordFields) {
  const std::vector<FieldCase> cases = {
      {"drive 0", [](RequestRecord& r) { r = DriveRequest(kCmdGetSizeFromSector, 0); }, true},
      {"drive 31", [](RequestRecord& r) { r = DriveRequest(kCmdStopLcdTimer, 31); }, true},
      {"drive 32", [](RequestRecord& r) { r = DriveRequest(kCmdGetSmartInfo, 32); }, false},
      {"drive -1", [](RequestRecord& r) { r = DriveRequest(kCmdGetLcdInfo, -1); }, false},
      {"line data to drive 256", [](RequestRecord& r) { r = DriveRequest(kCmdSendLineData, 256); },
       false},
      {"autorun ignores drive", [](RequestRecord& r) { r = DriveRequest(kCmdSetAutorun, 99); },
       true},
      {"unterminated hidPath",
       [](RequestRecord& r) {
         r = DriveRequest(kCmdGetLcdInfo, 1);
         std::fill(std::begin(r.driveInfo.hidPath), std::end(r.driveInfo.hidPath), u'a');
       },
       false},
      {"unterminated path",
       [](RequestRecord& r) {
         r = MakeRequest(kCmdDeleteFile);
         std::fill(std::begin(r.path), std::end(r.path), u'a');
       },
       false},
      {"unterminated path for 5",
       [](RequestRecord& r) {
         r = MakeRequest(kCmdCreateDirectory);
         std::fill(std::begin(r.path), std::end(r.path), u'a');
       },
       false},
      {"write path of 32 units",
       [](RequestRecord& r) {
         r = MakeRequest(kCmdWriteFile);
         std::fill(r.path, r.path + 32, u'a');
       },
       false},
      {"write length -1",
       [](RequestRecord& r) {
         r = MakeRequest(kCmdWriteFile);
         std::int32_t length = -1;
         std::memcpy(AsWritableBytes(r).data() + kWriteLengthOffset, &length, 4);
       },
       false},
      {"write length 3557",
       [](RequestRecord& r) {
         r = MakeRequest(kCmdWriteFile);
         std::int32_t length = 3557;
         std::memcpy(AsWritableBytes(r).data() + kWriteLengthOffset, &length, 4);
       },
       false},
      {"write length 3556",
       [](RequestRecord& r) {
         r = MakeRequest(kCmdWriteFile);
         r.SetWrite(u"/TAVIO_LCDMANAGER/LCD_DATA.TXT", std::vector<std::uint8_t>(3556));
       },
       true},
  };
  for (const auto& c : cases) {
    RequestRecord record = MakeRequest(0);
    c.fill(record);
    EXPECT_EQ(!CheckRecordFields(record).has_value(), c.allowed) << c.name;
  }
}

class OpenTargetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kuvpolicyXXXXXX";
    root_ = ::mkdtemp(tmpl);
    std::filesystem::create_directories(root_ + "/vol/TAVIO_LCDMANAGER");
    std::filesystem::create_directories(root_ + "/elsewhere/TAVIO_LCDMANAGER");
  }
  void TearDown() override { std::filesystem::remove_all(root_); }
  TargetOpen Open(std::int32_t command, const std::string& mount, const std::string& rest) {
    return OpenTarget(command, TargetPath{root_ + mount + rest, root_ + mount});
  }
  std::string root_;
};

TEST_F(OpenTargetTest, OpensTheFolderAndNamesTheEntry) {
  TargetOpen open = Open(kCmdDeleteFile, "/vol", "/TAVIO_LCDMANAGER/LCD_DATA.TXT");
  ASSERT_TRUE(open.target) << open.refusal;
  EXPECT_EQ(open.target->name, "LCD_DATA.TXT");
  struct stat inside, expected;
  ASSERT_EQ(::fstat(open.target->folder.get(), &inside), 0);
  ASSERT_EQ(::stat((root_ + "/vol/TAVIO_LCDMANAGER").c_str(), &expected), 0);
  EXPECT_EQ(inside.st_ino, expected.st_ino);

  open = Open(kCmdCreateDirectory, "/vol", "/TAVIO_LCDMANAGER");
  ASSERT_TRUE(open.target) << open.refusal;
  EXPECT_EQ(open.target->name, "TAVIO_LCDMANAGER");
}

TEST_F(OpenTargetTest, LinksAndOtherNodesOnTheWayAreRefusedWithoutBlocking) {
  namespace fs = std::filesystem;
  fs::create_directory_symlink(root_ + "/elsewhere", root_ + "/linkvol");
  fs::create_directories(root_ + "/vol2");
  fs::create_directory_symlink(root_ + "/elsewhere/TAVIO_LCDMANAGER",
                               root_ + "/vol2/TAVIO_LCDMANAGER");
  fs::create_directories(root_ + "/vol3");
  ASSERT_EQ(::mkfifo((root_ + "/vol3/TAVIO_LCDMANAGER").c_str(), 0600), 0);
  fs::create_directories(root_ + "/vol4");
  struct Case {
    const char* name;
    std::int32_t command;
    std::string mount;
  };
  const std::vector<Case> cases = {
      {"linked volume", kCmdCreateDirectory, "/linkvol"},
      {"linked folder", kCmdDeleteFile, "/vol2"},
      {"FIFO as the folder", kCmdWriteFile, "/vol3"},
  };
  for (const auto& c : cases) {
    const std::string rest =
        c.command == kCmdCreateDirectory ? "/TAVIO_LCDMANAGER" : "/TAVIO_LCDMANAGER/LCD_DATA.TXT";
    TargetOpen open = Open(c.command, c.mount, rest);
    EXPECT_FALSE(open.target) << c.name;
    EXPECT_FALSE(open.refusal.empty()) << c.name;
    EXPECT_EQ(open.error, EACCES) << c.name;
  }
  // A missing folder is the operation's failure, not a refusal.
  TargetOpen open = Open(kCmdDeleteFile, "/vol4", "/TAVIO_LCDMANAGER/LCD_DATA.TXT");
  EXPECT_FALSE(open.target);
  EXPECT_TRUE(open.refusal.empty());
  EXPECT_EQ(open.error, ENOENT);
}

}  // namespace
}  // namespace kuv::svc
