#include "app/model/panel_owner_lock.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/model/test_fakes.h"

namespace kuv {
namespace {

class PanelOwnerLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    if (old) saved_ = old;
    ::setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1);
  }
  void TearDown() override {
    if (saved_) {
      ::setenv("XDG_RUNTIME_DIR", saved_->c_str(), 1);
    } else {
      ::unsetenv("XDG_RUNTIME_DIR");
    }
  }
  testing::TempDir dir_;
  std::optional<std::string> saved_;
};

TEST_F(PanelOwnerLockTest, OneHolderAtATimeAndTheRefusedOneLearnsWho) {
  EXPECT_EQ(PanelOwnerLockPath(), dir_.path() + "/kuvlcd-panels.lock");
  std::string error;
  auto first = PanelOwnerLock::Acquire("KuvLcdManager", error);
  ASSERT_TRUE(first) << error;
  auto second = PanelOwnerLock::Acquire("kuvlcd watch", error);
  EXPECT_FALSE(second);
  EXPECT_NE(error.find("KuvLcdManager (pid "), std::string::npos) << error;
  first.reset();
  auto third = PanelOwnerLock::Acquire("kuvlcd watch", error);
  EXPECT_TRUE(third) << error;
}

TEST_F(PanelOwnerLockTest, APlantedLinkIsNotFollowed) {
  std::filesystem::create_symlink(dir_.path() + "/elsewhere", PanelOwnerLockPath());
  std::string error;
  EXPECT_FALSE(PanelOwnerLock::Acquire("kuvlcd watch", error));
  EXPECT_FALSE(std::filesystem::exists(dir_.path() + "/elsewhere"));
}

}  // namespace
}  // namespace kuv
