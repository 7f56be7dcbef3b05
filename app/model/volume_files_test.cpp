#include "app/model/volume_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "app/model/test_fakes.h"

namespace kuv {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  ::lstat(path.c_str(), &st);
  return st.st_mode & 0777;
}

std::unique_ptr<OwnFolder> Open(const std::string& base, std::string_view folder,
                                FolderUse use = FolderUse::kVolume, bool create = false) {
  int err = 0;
  return SystemVolumeFiles().OpenFolder(base, folder, use, create, err);
}

int OpenError(const std::string& base, std::string_view folder,
              FolderUse use = FolderUse::kVolume) {
  int err = 0;
  SystemVolumeFiles().OpenFolder(base, folder, use, false, err);
  return err;
}

// A volume with the victim's private folder beside it, as a hostile stick would point at it.
struct HostileVolume {
  TempDir dir;
  std::string volume = dir.path() + "/volume";
  std::string folder = volume + "/TAVIO_LCDMANAGER";
  std::string privateDir = dir.path() + "/home";
  std::string secret = privateDir + "/secret.txt";
  HostileVolume() {
    fs::create_directories(folder);
    fs::create_directories(privateDir);
    WriteAll(secret, "the victim's secret");
  }
};

TEST(VolumeFiles, AFolderIsNeverReachedThroughALink) {
  HostileVolume v;
  fs::remove(v.folder);
  fs::create_directory_symlink(v.privateDir, v.folder);
  EXPECT_EQ(OpenError(v.volume, "TAVIO_LCDMANAGER"), ELOOP);
  // Every component below the base counts, the last as well as one in between.
  fs::create_directories(v.dir.path() + "/data/TAVIO");
  fs::create_directory_symlink(v.privateDir, v.dir.path() + "/data/TAVIO/KuvLcdManager");
  EXPECT_EQ(OpenError(v.dir.path() + "/data", "TAVIO/KuvLcdManager", FolderUse::kPrivate), ELOOP);
  fs::create_directories(v.dir.path() + "/real/KuvLcdManager");
  fs::create_directory_symlink(v.dir.path() + "/real", v.dir.path() + "/data/T2");
  EXPECT_EQ(OpenError(v.dir.path() + "/data", "T2/KuvLcdManager", FolderUse::kPrivate), ELOOP);
  // The base is taken as the system names it: a mount point reached through a link is fine.
  fs::create_directory_symlink(v.volume, v.dir.path() + "/mounted");
  fs::remove(v.folder);
  fs::create_directory(v.folder);
  auto folder = Open(v.dir.path() + "/mounted", "TAVIO_LCDMANAGER");
  ASSERT_TRUE(folder);
  EXPECT_EQ(folder->path(), v.dir.path() + "/mounted/TAVIO_LCDMANAGER");
  EXPECT_EQ(OpenError(v.volume, "missing"), ENOENT);
  WriteAll(v.volume + "/file", "x");
  EXPECT_EQ(OpenError(v.volume, "file"), ENOTDIR);
  EXPECT_EQ(OpenError(v.volume, ".."), EINVAL);
}

TEST(VolumeFiles, ReadsOnlyWholeRegularFilesOfTheFolder) {
  HostileVolume v;
  WriteAll(v.folder + "/LCD_DATA.TXT", "settings");
  WriteAll(v.folder + "/BIG", std::string(101, 'x'));
  fs::create_symlink(v.secret, v.folder + "/QR_DATA.TXT");
  fs::create_directory(v.folder + "/DIR");
  ASSERT_EQ(::mkfifo((v.folder + "/FIFO").c_str(), 0600), 0);
  auto folder = Open(v.volume, "TAVIO_LCDMANAGER");
  ASSERT_TRUE(folder);
  struct Case {
    const char* name;
    std::optional<std::string> bytes;
    int err;
  };
  for (const auto& c : {Case{"LCD_DATA.TXT", "settings", 0}, Case{"QR_DATA.TXT", {}, ELOOP},
                        Case{"FIFO", {}, EINVAL}, Case{"DIR", {}, EISDIR}, Case{"BIG", {}, EFBIG},
                        Case{"missing", {}, ENOENT}, Case{"../volume", {}, EINVAL}}) {
    int err = -1;
    EXPECT_EQ(folder->Read(c.name, 100, err), c.bytes) << c.name;
    EXPECT_EQ(err, c.err) << c.name;
  }
  int err = 0;
  EXPECT_EQ(folder->Read("BIG", 101, err), std::string(101, 'x')) << "the bound itself is allowed";
  // A file the user chose may be a link the user made.
  EXPECT_EQ(SystemVolumeFiles().ReadChosenFile(v.folder + "/QR_DATA.TXT", 100, err),
            "the victim's secret");
  EXPECT_EQ(SystemVolumeFiles().ReadChosenFile(v.folder + "/FIFO", 100, err), std::nullopt);
}

TEST(VolumeFiles, ReplaceWritesPrivatelyAndReplacesALinkInsteadOfFollowingIt) {
  HostileVolume v;
  fs::create_symlink(v.secret, v.folder + "/QR_DATA.TXT");
  auto folder = Open(v.volume, "TAVIO_LCDMANAGER");
  ASSERT_TRUE(folder);
  std::string temp;
  ASSERT_EQ(folder->WriteTemp("QR_DATA.TXT", "new text", temp), 0);
  EXPECT_EQ(ModeOf(v.folder + "/" + temp), 0644u) << "ready to be seen like the other files";
  EXPECT_TRUE(fs::is_symlink(v.folder + "/QR_DATA.TXT")) << "the old entry stays until the rename";
  ASSERT_EQ(folder->CommitTemp(temp, "QR_DATA.TXT"), 0);
  EXPECT_FALSE(fs::is_symlink(v.folder + "/QR_DATA.TXT"));
  EXPECT_EQ(ReadAll(v.folder + "/QR_DATA.TXT"), "new text");
  EXPECT_EQ(ReadAll(v.secret), "the victim's secret");
  EXPECT_FALSE(fs::exists(v.folder + "/" + temp));

  // In a folder of the user's, what is written stays the user's alone.
  auto own = Open(v.dir.path() + "/data", "TAVIO/KuvLcdManager", FolderUse::kPrivate, true);
  ASSERT_TRUE(own);
  EXPECT_EQ(ModeOf(v.dir.path() + "/data/TAVIO/KuvLcdManager"), 0700u);
  ASSERT_EQ(ReplaceFile(*own, "LCD_IMAGE.BMP", "picture"), 0);
  EXPECT_EQ(ModeOf(v.dir.path() + "/data/TAVIO/KuvLcdManager/LCD_IMAGE.BMP"), 0600u);
}

TEST(VolumeFiles, ReplaceLeavesNoTemporaryBehindOnAnyFailure) {
  TempDir dir;
  testing::FaultyVolumeFiles files;
  int err = 0;
  auto folder = files.OpenFolder(dir.path(), "", FolderUse::kPrivate, false, err);
  ASSERT_TRUE(folder);
  WriteAll(dir.path() + "/LCD_IMAGE.BMP", "old");
  struct Case {
    int writeError;
    std::vector<int> commitErrors;
    bool clears;  // the refused rename's second chance
    int result;
    const char* content;
  };
  for (const auto& c :
       {Case{ENOSPC, {}, false, ENOSPC, "old"}, Case{0, {EXDEV}, false, EXDEV, "old"},
        Case{0, {EPERM}, false, EPERM, "old"}, Case{0, {EACCES, EACCES}, true, EACCES, "old"},
        Case{0, {EPERM, 0}, true, 0, "new"}}) {
    files.failWritesWith = c.writeError;
    files.commitErrors = c.commitErrors;
    int clears = 0;
    const int result = ReplaceFile(*folder, "LCD_IMAGE.BMP", "new", [&] {
      ++clears;
      return c.clears;
    });
    EXPECT_EQ(result, c.result) << c.result;
    EXPECT_EQ(clears, c.commitErrors.empty() || c.commitErrors[0] == EXDEV ? 0 : 1) << c.result;
    EXPECT_EQ(ReadAll(dir.path() + "/LCD_IMAGE.BMP"), c.content) << c.result;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 1) << c.result;
  }
  // A folder in place of the file: the rename fails and the temporary goes.
  fs::create_directories(dir.path() + "/QrImageTmp.bmp/inside");
  EXPECT_NE(ReplaceFile(*folder, "QrImageTmp.bmp", "x"), 0);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 2);
}

TEST(VolumeFiles, RemovesOnlyStaleTemporariesOfTheFile) {
  TempDir dir;
  const auto old = fs::file_time_type::clock::now() - std::chrono::minutes(5);
  struct Case {
    const char* name;
    bool isOld;
    bool removed;
  };
  const Case cases[] = {
      {"LCD_DATA.TXT.a1B2c3", true, true},   {"LCD_DATA.TXT.Zz9Yy8", false, false},
      {"LCD_DATA.TXT", true, false},         {"LCD_DATA.TXT.a1B2c", true, false},
      {"LCD_DATA.TXT.a1B2c3d", true, false}, {"LCD_DATA.TXT.a1-2c3", true, false},
      {"QR_DATA.TXT.a1B2c3", true, false},   {"xLCD_DATA.TXT.a1B2c3", true, false},
  };
  for (const auto& c : cases) {
    const std::string file = dir.path() + "/" + c.name;
    WriteAll(file, "x");
    if (c.isOld) fs::last_write_time(file, old);
  }
  // Neither a folder nor a link under a temporary's name is touched, nor what the link points to.
  fs::create_directory(dir.path() + "/LCD_DATA.TXT.dir123");
  fs::create_symlink(dir.path() + "/LCD_DATA.TXT", dir.path() + "/LCD_DATA.TXT.lnk123");
  auto folder = Open(dir.path(), "");
  ASSERT_TRUE(folder);
  folder->RemoveStaleTemps("LCD_DATA.TXT");
  for (const auto& c : cases) {
    EXPECT_EQ(fs::exists(dir.path() + "/" + c.name), !c.removed) << c.name;
  }
  EXPECT_TRUE(fs::is_directory(dir.path() + "/LCD_DATA.TXT.dir123"));
  EXPECT_TRUE(fs::is_symlink(dir.path() + "/LCD_DATA.TXT.lnk123"));
  // The same folder lists again from its start.
  fs::last_write_time(dir.path() + "/LCD_DATA.TXT.Zz9Yy8", old);
  folder->RemoveStaleTemps("LCD_DATA.TXT");
  EXPECT_FALSE(fs::exists(dir.path() + "/LCD_DATA.TXT.Zz9Yy8"));
}

// Another user's files and folders, made by root for the test.
TEST(VolumeFiles, APrivateFolderTrustsOnlyTheUsersOwnFiles) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to make files of another user";
  TempDir dir;
  const uid_t other = ::geteuid() + 4242;
  WriteAll(dir.path() + "/LCD_IMAGE.BMP", "planted");
  ASSERT_EQ(::chown((dir.path() + "/LCD_IMAGE.BMP").c_str(), other, other), 0);
  WriteAll(dir.path() + "/QrImageTmp.bmp", "mine");
  int err = 0;
  auto shared = Open(dir.path(), "", FolderUse::kTemporary);
  ASSERT_TRUE(shared) << "a shared base such as /tmp belongs to root";
  EXPECT_EQ(shared->Read("LCD_IMAGE.BMP", 100, err), std::nullopt);
  EXPECT_EQ(err, EACCES);
  EXPECT_EQ(shared->Read("QrImageTmp.bmp", 100, err), "mine");
  auto volume = Open(dir.path(), "");
  EXPECT_EQ(volume->Read("LCD_IMAGE.BMP", 100, err), "planted") << "a volume's files: any owner";

  fs::create_directories(dir.path() + "/share/TAVIO");
  ASSERT_EQ(::chown((dir.path() + "/share/TAVIO").c_str(), other, other), 0);
  EXPECT_EQ(OpenError(dir.path() + "/share", "TAVIO", FolderUse::kPrivate), EACCES);
}

}  // namespace
}  // namespace kuv
