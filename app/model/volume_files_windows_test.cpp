#include <windows.h>
#include <gtest/gtest.h>
// windows.h's ReplaceFile macro would rename ours.
#undef ReplaceFile

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>

#include "app/model/volume_files.h"
#include "common/wide_text.h"
#include "panelio/env_test_support.h"

namespace kuv {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(WindowsPaths, FollowTheSystemsSyntax) {
  EXPECT_TRUE(IsAbsolutePath("E:\\"));
  EXPECT_TRUE(IsAbsolutePath("Z:\\tmp\\world"));
  EXPECT_TRUE(IsAbsolutePath("Z:/tmp/world"));
  EXPECT_FALSE(IsAbsolutePath("/tmp/world")) << "rooted, but on whichever drive is current";
  EXPECT_FALSE(IsAbsolutePath("E:relative"));
  EXPECT_FALSE(IsAbsolutePath(""));
  EXPECT_EQ(JoinPath("E:\\", "TAVIO_LCDMANAGER"), "E:\\TAVIO_LCDMANAGER");
  EXPECT_EQ(JoinPath("Z:\\tmp\\vol", "TAVIO_LCDMANAGER"), "Z:\\tmp\\vol\\TAVIO_LCDMANAGER");
  EXPECT_EQ(WithoutTrailingSeparators("E:\\"), "E:\\");
  EXPECT_EQ(WithoutTrailingSeparators("E:\\data\\\\"), "E:\\data");
  EXPECT_EQ(WithoutTrailingSeparators("E:\\data/"), "E:\\data");
}

class WindowsFolder : public testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(dir_.path().empty()); }
  fs::path Root() const { return fs::path(dir_.path()).make_preferred(); }
  std::unique_ptr<OwnFolder> Open(std::string_view folder, bool create, int& err) {
    return files_.OpenFolder(NarrowText(Root().wstring()), folder, FolderUse::kVolume, create, err);
  }

  devtest::TempDir dir_;
  SystemVolumeFiles files_;
};

TEST_F(WindowsFolder, ReplacesAFileWholeAndLeavesNoTemporary) {
  int err = -1;
  auto folder = Open("TAVIO_LCDMANAGER", true, err);
  ASSERT_TRUE(folder) << err;
  EXPECT_EQ(folder->path(), NarrowText((Root() / "TAVIO_LCDMANAGER").wstring()));
  Write(Root() / "TAVIO_LCDMANAGER" / "LCD_DATA.TXT", "old settings, longer than the new");
  ASSERT_EQ(ReplaceFile(*folder, "LCD_DATA.TXT", "new"), 0);
  EXPECT_EQ(ReadAll(Root() / "TAVIO_LCDMANAGER" / "LCD_DATA.TXT"), "new");
  EXPECT_EQ(Names(Root() / "TAVIO_LCDMANAGER"), std::vector<std::string>{"LCD_DATA.TXT"});
  EXPECT_EQ(folder->Read("LCD_DATA.TXT", 3, err), "new");
  EXPECT_EQ(err, 0);
}

TEST_F(WindowsFolder, RefusesWhatIsNoFileOfItsSize) {
  int err = 0;
  auto folder = Open("", false, err);
  ASSERT_TRUE(folder) << err;
  fs::create_directory(Root() / "sub");
  Write(Root() / "big", std::string(10, 'x'));
  struct Case {
    const char* name;
    int err;
  } cases[] = {{"missing", ENOENT}, {"sub", EISDIR}, {"big", EFBIG}, {"..", EINVAL},
               {"a\\b", EINVAL},    {"a:s", EINVAL}};
  for (const Case& c : cases) {
    err = 0;
    EXPECT_EQ(folder->Read(c.name, 9, err), std::nullopt) << c.name;
    EXPECT_EQ(err, c.err) << c.name;
  }
  EXPECT_EQ(folder->Remove("missing"), 0);
  EXPECT_EQ(Open("missing/deeper", false, err), nullptr);
  EXPECT_EQ(err, ENOENT);
  EXPECT_EQ(files_.OpenFolder("relative", "", FolderUse::kVolume, false, err), nullptr);
  EXPECT_EQ(err, EINVAL);
}

TEST_F(WindowsFolder, RemovesOnlyItsOwnStaleTemporaries) {
  int err = 0;
  auto folder = Open("", false, err);
  ASSERT_TRUE(folder) << err;
  for (const char* name : {"LCD_DATA.TXT.aB3xY9", "LCD_DATA.TXT.young1", "LCD_DATA.TXT.toolong1",
                           "QR_DATA.TXT.aB3xY9"}) {
    Write(Root() / name, "x");
  }
  // Two minutes old, beyond the age of a save that may still be under way.
  for (const char* name : {"LCD_DATA.TXT.aB3xY9", "LCD_DATA.TXT.toolong1", "QR_DATA.TXT.aB3xY9"}) {
    HANDLE file = CreateFileW((Root() / name).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER old{{now.dwLowDateTime, now.dwHighDateTime}};
    old.QuadPart -= 120ull * 10'000'000;
    FILETIME stamp{old.LowPart, old.HighPart};
    SetFileTime(file, nullptr, nullptr, &stamp);
    CloseHandle(file);
  }
  folder->RemoveStaleTemps("LCD_DATA.TXT");
  EXPECT_EQ(Names(Root()), (std::vector<std::string>{"LCD_DATA.TXT.toolong1", "LCD_DATA.TXT.young1",
                                                     "QR_DATA.TXT.aB3xY9"}));
}

}  // namespace
}  // namespace kuv
