#include <gtest/gtest.h>
#include <sys/stat.h>

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
  EXPECT_FALSE(std::filesystem::exists(temp));
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
