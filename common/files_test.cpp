#include "common/files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <vector>

namespace kuv {
namespace {

namespace fs = std::filesystem;

fs::path Utf8Path(std::string_view utf8) {
  return fs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string Utf8Of(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("kuvfiles" + std::to_string(std::random_device()()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Read(const std::string& path) {
    std::FILE* file = OpenFile(path, "rb");
    if (!file) return "<missing>";
    std::string text;
    char buffer[256];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    std::fclose(file);
    return text;
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      names.push_back(Utf8Of(entry.path().filename()));
    }
    return names;
  }

  fs::path dir_;
};

const std::uint8_t kNew[] = {'n', 'e', 'w', 0, 0xFF};

TEST_F(FilesTest, ReplaceFileWithPutsTheWholeFileInPlaceAndLeavesNothingElse) {
  const std::string path = Utf8Of(dir_ / "LCD.BMP");
  std::FILE* old = OpenFile(path, "wb");
  ASSERT_NE(old, nullptr);
  std::fputs("an older and longer file", old);
  std::fclose(old);

  std::string error;
  ASSERT_TRUE(ReplaceFileWith(path, kNew, &error)) << error;
  EXPECT_EQ(Read(path), std::string("new\0\xFF", 5));
  EXPECT_EQ(Names(), std::vector<std::string>{"LCD.BMP"});
}

TEST_F(FilesTest, ReplaceFileWithReportsAMissingFolder) {
  const std::string path = Utf8Of(dir_ / "gone" / "LCD.BMP");
  std::string error;
  EXPECT_FALSE(ReplaceFileWith(path, kNew, &error));
  EXPECT_NE(error.find(path), std::string::npos) << error;
  EXPECT_TRUE(Names().empty());
}

// A link planted under the name is replaced by the file, and what it pointed at is untouched.
TEST_F(FilesTest, ReplaceFileWithNeverWritesThroughALink) {
  const fs::path target = dir_ / "victim";
  {
    std::FILE* f = OpenFile(Utf8Of(target), "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
  }
  std::error_code ec;
  fs::create_symlink(target, dir_ / "planted", ec);
  if (ec) GTEST_SKIP() << "no symbolic links here: " << ec.message();
  ASSERT_TRUE(ReplaceFileWith(Utf8Of(dir_ / "planted"), kNew, nullptr));
  EXPECT_FALSE(fs::is_symlink(dir_ / "planted"));
  EXPECT_EQ(fs::file_size(target), 0u);
}

// Labels and user names are not ASCII; the file must carry the very name it was given.
TEST_F(FilesTest, PathsAreUtf8) {
  const std::string name = "\xC3\xBC\xE6\x97\xA5\xE6\x9C\xAC.txt";  // "ü日本.txt"
  const std::string path = Utf8Of(dir_) + "/" + name;
  ASSERT_TRUE(ReplaceFileWith(path, kNew, nullptr));
  EXPECT_TRUE(fs::exists(dir_ / Utf8Path(name)));
  EXPECT_EQ(Read(path).size(), sizeof kNew);
  std::FILE* append = OpenFile(path, "ab");
  ASSERT_NE(append, nullptr);
  std::fputc('!', append);
  std::fclose(append);
  EXPECT_EQ(fs::file_size(dir_ / Utf8Path(name)), sizeof kNew + 1);
}

}  // namespace
}  // namespace kuv
