#include "app/model/help_page.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "common/utf16.h"
#include "panelio/env_test_support.h"

namespace kuv {
namespace {

namespace fs = std::filesystem;

// A temporary folder that goes away with its contents.
class TempRoot {
 public:
  TempRoot() : path_(devtest::MakeTempDir("kuvlcd-help-")) {}
  ~TempRoot() {
    std::error_code error;
    if (!path_.empty()) fs::remove_all(path_, error);
  }
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;

  const fs::path& path() const { return path_; }
  void Touch(const std::string& relative) const {
    fs::create_directories((path_ / relative).parent_path());
    std::ofstream(path_ / relative) << "<html></html>";
  }

 private:
  fs::path path_;
};

TEST(HelpPage, FindsThePageOfTheLanguage) {
  struct Case {
    const char* name;
    std::vector<std::string> files;  // made under the temporary root
    std::string exeDir;              // relative to the root
    std::string sourceDir;           // relative to the root; "" passes an empty path
    Language language;
    std::optional<std::string> want;  // relative to the root
  };
  const Case cases[] = {
      {"installed English",
       {"prefix/share/KuvLcdManager/help/en/index.html"},
       "prefix/bin",
       "src",
       Language::kEnglish,
       "prefix/share/KuvLcdManager/help/en/index.html"},
      {"installed Japanese",
       {"prefix/share/KuvLcdManager/help/en/index.html",
        "prefix/share/KuvLcdManager/help/ja/index.html"},
       "prefix/bin",
       "src",
       Language::kJapanese,
       "prefix/share/KuvLcdManager/help/ja/index.html"},
      {"installed copy wins over the source tree",
       {"prefix/share/KuvLcdManager/help/en/index.html", "prefix/CMakeCache.txt",
        "src/resources/help/en/index.html"},
       "prefix/bin",
       "src",
       Language::kEnglish,
       "prefix/share/KuvLcdManager/help/en/index.html"},
      {"build tree uses the source copy",
       {"build/asan/CMakeCache.txt", "src/resources/help/ja/index.html"},
       "build/asan/app/shell",
       "src",
       Language::kJapanese,
       "src/resources/help/ja/index.html"},
      {"installed program ignores a checkout",
       {"src/resources/help/en/index.html"},
       "prefix/bin",
       "src",
       Language::kEnglish,
       std::nullopt},
      {"build tree without a source dir",
       {"build/CMakeCache.txt", "src/resources/help/en/index.html"},
       "build/app/shell",
       "",
       Language::kEnglish,
       std::nullopt},
      {"a language that is not installed has no page",
       {"prefix/share/KuvLcdManager/help/en/index.html"},
       "prefix/bin",
       "src",
       Language::kJapanese,
       std::nullopt},
      {"a folder named like the page is no page",
       {"prefix/share/KuvLcdManager/help/en/index.html/x"},
       "prefix/bin",
       "src",
       Language::kEnglish,
       std::nullopt},
      {"cache too far above the executable",
       {"b/CMakeCache.txt", "src/resources/help/en/index.html"},
       "b/1/2/3/4/5",
       "src",
       Language::kEnglish,
       std::nullopt},
  };
  for (const Case& c : cases) {
    TempRoot temp;
    ASSERT_FALSE(temp.path().empty());
    const fs::path& root = temp.path();
    for (const std::string& file : c.files) temp.Touch(file);
    fs::create_directories(root / c.exeDir);
    const fs::path source = c.sourceDir.empty() ? fs::path() : root / c.sourceDir;
    const std::optional<fs::path> got = HelpPagePath(c.language, root / c.exeDir, source);
    if (c.want) {
      ASSERT_TRUE(got.has_value()) << c.name;
      EXPECT_EQ(*got, (root / *c.want).lexically_normal()) << c.name;
    } else {
      EXPECT_FALSE(got.has_value()) << c.name << ": " << got.value_or("");
    }
  }
}

TEST(HelpPage, MissingOrEmptyExecutableDirGivesNothing) {
  TempRoot temp;
  const fs::path& root = temp.path();
  EXPECT_FALSE(HelpPagePath(Language::kEnglish, {}, HelpSourceDir()).has_value());
  EXPECT_FALSE(
      HelpPagePath(Language::kEnglish, root / "does/not/exist", root / "nor/this").has_value());
}

TEST(HelpPage, BuildTreeFindsTheProjectPages) {
  for (Language language : {Language::kEnglish, Language::kJapanese}) {
    const std::optional<fs::path> page =
        HelpPagePath(language, fs::path(KUVLCD_BINARY_DIR) / "app" / "shell", HelpSourceDir());
    ASSERT_TRUE(page.has_value());
    EXPECT_EQ(page->parent_path().filename(), HelpLanguageFolder(language));
  }
}

// Without a browser the user learns where the page is, in the interface's language; without a
// page, that none is installed.
TEST(HelpPage, NotShownMessageNamesThePageOrSaysNoneIsInstalled) {
  struct Case {
    std::optional<fs::path> page;
    Language language;
    const char* mentions;  // a word of the expected text
  };
  const fs::path page = "/opt/kuv lcd/share/KuvLcdManager/help/ja/index.html";
  const Case cases[] = {
      {page, Language::kEnglish, "browser"},
      {page, Language::kJapanese, "ブラウザ"},
      {std::nullopt, Language::kEnglish, "share/KuvLcdManager/help"},
      {std::nullopt, Language::kJapanese, "share/KuvLcdManager/help"},
  };
  for (const Case& c : cases) {
    const std::string message = Utf16ToUtf8(HelpNotShownMessage(c.page, c.language));
    EXPECT_NE(message.find(c.mentions), std::string::npos) << message;
    EXPECT_EQ(message.find("%s"), std::string::npos) << message;
    if (c.page) {
      EXPECT_NE(message.find(c.page->string()), std::string::npos) << message;
    }
  }
}

}  // namespace
}  // namespace kuv
