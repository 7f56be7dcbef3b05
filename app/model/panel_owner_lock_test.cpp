#include "app/model/panel_owner_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "app/model/test_fakes.h"

namespace kuv {
namespace {

TEST(PanelOwnerLock, OneHolderAtATimeAndTheRefusedOneLearnsWho) {
  testing::TempDir dir;
  testing::ScopedEnv runtime("XDG_RUNTIME_DIR", dir.path());
  std::string error;
  EXPECT_EQ(PanelOwnerLockPath(error), dir.path() + "/kuvlcd-panels.lock");
  auto first = PanelOwnerLock::Acquire("KuvLcdManager", error);
  ASSERT_TRUE(first) << error;
  auto second = PanelOwnerLock::Acquire("kuvlcd watch", error);
  EXPECT_FALSE(second);
  EXPECT_NE(error.find("KuvLcdManager (pid "), std::string::npos) << error;
  first.reset();
  auto third = PanelOwnerLock::Acquire("kuvlcd watch", error);
  EXPECT_TRUE(third) << error;
}

TEST(PanelOwnerLock, APlantedLinkIsNotFollowed) {
  testing::TempDir dir;
  testing::ScopedEnv runtime("XDG_RUNTIME_DIR", dir.path());
  std::string error;
  std::filesystem::create_symlink(dir.path() + "/elsewhere", *PanelOwnerLockPath(error));
  EXPECT_FALSE(PanelOwnerLock::Acquire("kuvlcd watch", error));
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "/elsewhere"));
}

// Without a runtime directory the lock once lived under a fixed name in /tmp, which another user
// could create first and so keep this user's program and kuvlcd watch from ever starting.
TEST(PanelOwnerLock, AnotherUserCannotTakeTheLockFirst) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  testing::TempDir home;
  testing::ScopedEnv runtime("XDG_RUNTIME_DIR", std::nullopt);
  testing::ScopedEnv cache("XDG_CACHE_HOME", home.path() + "/cache");
  const uid_t other = ::geteuid() + 4242;
  const std::string squatted = "/tmp/kuvlcd-panels-" + std::to_string(::getuid()) + ".lock";
  std::filesystem::remove(squatted);
  const int fd = ::open(squatted.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::fchown(fd, other, other), 0);
  ::close(fd);

  std::string error;
  auto lock = PanelOwnerLock::Acquire("kuvlcd watch", error);
  EXPECT_TRUE(lock) << error;
  const std::optional<std::string> path = PanelOwnerLockPath(error);
  ASSERT_TRUE(path);
  EXPECT_TRUE(path->starts_with(home.path() + "/cache/")) << *path;
  std::filesystem::remove(squatted);
}

}  // namespace
}  // namespace kuv
