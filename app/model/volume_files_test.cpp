#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "app/model/test_fakes.h"

namespace kuv {
namespace {

using testing::TempDir;

TEST(PosixVolumeFiles, ReplaceKeepsTheOldFileUntilTheNewOneIsComplete) {
  TempDir dir;
  const std::string path = dir.path() + "/LCD_DATA.TXT";
  std::ofstream(path) << "old";
  PosixVolumeFiles files;
  std::string temp;
  ASSERT_EQ(files.WriteTemp(path, "new settings", temp), 0);
  EXPECT_EQ(std::filesystem::path(temp).parent_path(), dir.path()) << "same folder, same volume";
  int err = 0;
  EXPECT_EQ(files.ReadFile(path, 100, err), "old");
  ASSERT_EQ(files.CommitTemp(temp, path), 0);
  EXPECT_EQ(files.ReadFile(path, 100, err), "new settings");
  EXPECT_FALSE(std::filesystem::exists(temp));
  EXPECT_EQ(files.ReadFile(path, 3, err), "new") << "reads stop at the limit";
}

TEST(PosixVolumeFiles, FailuresLeaveNothingBehind) {
  TempDir dir;
  PosixVolumeFiles files;
  std::string temp;
  EXPECT_EQ(files.WriteTemp(dir.path() + "/gone/LCD_DATA.TXT", "x", temp), ENOENT);
  EXPECT_TRUE(temp.empty());
  ASSERT_EQ(files.WriteTemp(dir.path() + "/QR_DATA.TXT", "x", temp), 0);
  std::filesystem::create_directory(dir.path() + "/blocker");
  std::ofstream(dir.path() + "/blocker/inside") << "keeps the directory from being replaced";
  EXPECT_NE(files.CommitTemp(temp, dir.path() + "/blocker"), 0);
  EXPECT_TRUE(std::filesystem::exists(dir.path() + "/blocker/inside")) << "the target is untouched";
  EXPECT_TRUE(std::filesystem::exists(temp)) << "the caller decides about the temporary";
  files.DiscardTemp(temp);
  EXPECT_FALSE(std::filesystem::exists(temp));
}

TEST(PosixVolumeFiles, RemovesOnlyStaleTemporariesOfTheFile) {
  TempDir dir;
  const std::string path = dir.path() + "/LCD_DATA.TXT";
  const auto old = std::filesystem::file_time_type::clock::now() - std::chrono::minutes(5);
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
    std::ofstream(file) << "x";
    if (c.isOld) std::filesystem::last_write_time(file, old);
  }
  // Neither a folder nor a link under a temporary's name is touched, nor what the link points to.
  std::filesystem::create_directory(dir.path() + "/LCD_DATA.TXT.dir123");
  std::filesystem::create_symlink(dir.path() + "/LCD_DATA.TXT",
                                  dir.path() + "/LCD_DATA.TXT.lnk123");
  PosixVolumeFiles().RemoveStaleTemps(path);
  for (const auto& c : cases) {
    EXPECT_EQ(std::filesystem::exists(dir.path() + "/" + c.name), !c.removed) << c.name;
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir.path() + "/LCD_DATA.TXT.dir123"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.path() + "/LCD_DATA.TXT.lnk123"));
  PosixVolumeFiles().RemoveStaleTemps(dir.path() + "/missing/LCD_DATA.TXT");  // harmless
}

TEST(PosixVolumeFiles, ReadsOnlyRegularFiles) {
  TempDir dir;
  PosixVolumeFiles files;
  int err = 0;
  EXPECT_EQ(files.ReadFile(dir.path() + "/missing", 100, err), std::nullopt);
  EXPECT_EQ(err, ENOENT);
  EXPECT_EQ(files.ReadFile(dir.path(), 100, err), std::nullopt);
  // A FIFO under the file's name must not hang the loader.
  const std::string fifo = dir.path() + "/LCD_DATA.TXT";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(files.ReadFile(fifo, 100, err), std::nullopt);
  EXPECT_TRUE(files.IsDirectory(dir.path()));
  EXPECT_FALSE(files.IsDirectory(fifo));
}

}  // namespace
}  // namespace kuv
