#include "app/model/user_folders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "app/model/test_fakes.h"

namespace kuv {
namespace {

namespace fs = std::filesystem;

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  ::lstat(path.c_str(), &st);
  return st.st_mode & 0777;
}

std::string FallbackOf(const std::string& cache) {
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  return cache + "/TAVIO/KuvLcdManager/run-" + host;
}

TEST(UserRuntimeFolder, TakesOnlyARuntimeDirectoryNobodyElseMayEnter) {
  testing::TempDir dir;
  const std::string cache = dir.path() + "/cache";
  testing::ScopedEnv cacheHome("XDG_CACHE_HOME", cache);
  fs::create_directory(dir.path() + "/open", dir.path());
  fs::permissions(dir.path() + "/open", fs::perms(0755));
  fs::create_directory_symlink(dir.path(), dir.path() + "/link");
  struct Case {
    std::optional<std::string> runtime;
    std::string expected;
  };
  for (const auto& c :
       {Case{dir.path(), dir.path()}, Case{dir.path() + "/", dir.path()},
        Case{dir.path() + "/open", FallbackOf(cache)},
        Case{dir.path() + "/link", FallbackOf(cache)},
        Case{dir.path() + "/missing", FallbackOf(cache)}, Case{"relative", FallbackOf(cache)},
        Case{std::nullopt, FallbackOf(cache)}}) {
    testing::ScopedEnv runtime("XDG_RUNTIME_DIR", c.runtime);
    std::string error;
    EXPECT_EQ(UserRuntimeFolder(error), c.expected) << c.runtime.value_or("(unset)") << error;
  }
  EXPECT_EQ(ModeOf(FallbackOf(cache)), 0700u);
}

TEST(UserRuntimeFolder, TheFallbackIsCheckedBeforeUse) {
  testing::TempDir dir;
  const std::string cache = dir.path() + "/cache";
  testing::ScopedEnv runtime("XDG_RUNTIME_DIR", std::nullopt);
  testing::ScopedEnv cacheHome("XDG_CACHE_HOME", cache);
  const std::string folder = FallbackOf(cache);
  fs::create_directories(folder);
  fs::permissions(folder, fs::perms(0777));
  std::string error;
  EXPECT_EQ(UserRuntimeFolder(error), folder);
  EXPECT_EQ(ModeOf(folder), 0700u) << "the user's own folder is closed to others again";

  fs::remove(folder);
  fs::create_directory(dir.path() + "/elsewhere");
  fs::create_directory_symlink(dir.path() + "/elsewhere", folder);
  EXPECT_EQ(UserRuntimeFolder(error), std::nullopt) << "a link is never followed";
  EXPECT_FALSE(error.empty());

  if (::geteuid() != 0) return;
  fs::remove(folder);
  fs::create_directory(folder);
  ASSERT_EQ(::chown(folder.c_str(), ::geteuid() + 4242, 0), 0);
  EXPECT_EQ(UserRuntimeFolder(error), std::nullopt) << "another user's folder is refused";
}

TEST(UserFolders, TemporaryAndDataFoldersFollowTheEnvironment) {
  struct Case {
    std::optional<std::string> tmpdir, dataHome, home;
    std::string temporary, data;
  };
  for (const auto& c :
       {Case{"/var/tmp", "/srv/data", "/home/u", "/var/tmp/", "/srv/data"},
        Case{"/var/tmp/", "/srv/data/", "/home/u", "/var/tmp/", "/srv/data"},
        Case{std::nullopt, std::nullopt, "/home/u", "/tmp/", "/home/u/.local/share"},
        Case{"tmp", "data", "/home/u", "/tmp/", "/home/u/.local/share"}}) {
    testing::ScopedEnv tmpdir("TMPDIR", c.tmpdir);
    testing::ScopedEnv data("XDG_DATA_HOME", c.dataHome);
    testing::ScopedEnv home("HOME", c.home);
    EXPECT_EQ(TemporaryFolder(), c.temporary);
    EXPECT_EQ(UserDataHome(), c.data);
  }
}

}  // namespace
}  // namespace kuv
