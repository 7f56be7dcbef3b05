#include "panelsvc/request_policy.h"

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

class SymlinkPolicy : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kuvpolicyXXXXXX";
    root_ = ::mkdtemp(tmpl);
    std::filesystem::create_directories(root_ + "/vol/TAVIO_LCDMANAGER");
    std::filesystem::create_directories(root_ + "/elsewhere");
  }
  void TearDown() override { std::filesystem::remove_all(root_); }
  std::string root_;
};

TEST_F(SymlinkPolicy, RefusesLinksAnywhereOnThePath) {
  const std::string folder = root_ + "/vol/TAVIO_LCDMANAGER";
  EXPECT_FALSE(CheckNoSymlinks(7, folder + "/LCD_DATA.TXT"));  // missing: the delete says so
  std::ofstream(folder + "/LCD_DATA.TXT") << "x";
  EXPECT_FALSE(CheckNoSymlinks(6, folder + "/LCD_DATA.TXT"));

  std::filesystem::create_symlink(root_ + "/elsewhere/target", folder + "/QR_DATA.TXT");
  EXPECT_TRUE(CheckNoSymlinks(7, folder + "/QR_DATA.TXT"));
  EXPECT_TRUE(CheckNoSymlinks(6, folder + "/QR_DATA.TXT"));

  std::filesystem::create_directory_symlink(root_ + "/elsewhere", root_ + "/linkvol");
  EXPECT_TRUE(CheckNoSymlinks(5, root_ + "/linkvol/TAVIO_LCDMANAGER"));

  std::filesystem::create_directories(root_ + "/vol2");
  std::filesystem::create_directory_symlink(root_ + "/elsewhere", root_ + "/vol2/TAVIO_LCDMANAGER");
  EXPECT_TRUE(CheckNoSymlinks(5, root_ + "/vol2/TAVIO_LCDMANAGER"));
  EXPECT_TRUE(CheckNoSymlinks(7, root_ + "/vol2/TAVIO_LCDMANAGER/LCD_DATA.TXT"));
}

TEST_F(SymlinkPolicy, WriteNeedsARegularFile) {
  const std::string fifo = root_ + "/vol/TAVIO_LCDMANAGER/LCD_DATA.TXT";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_TRUE(CheckNoSymlinks(6, fifo));  // opening it for append could hang the service
  EXPECT_FALSE(CheckNoSymlinks(7, fifo));
}

}  // namespace
}  // namespace kuv::svc
