// The hidden attribute on a real FAT volume, set by root without the capability to act on other
// users' files, as the service runs. Needs root, mkfs.vfat and a kernel that mounts vfat; skipped,
// with the reason, where one is missing.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <initializer_list>
#include <string>

#include "panelio/env_test_support.h"
#include "panelio/linux/linux_env.h"
#include "panelio/unique_fd.h"

namespace kuv {
namespace {

// Takes the capabilities out of this process for good, as the unit's bounding set keeps them out
// of the service.
bool DropCapabilities(std::initializer_list<int> capabilities) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  if (::syscall(SYS_capget, &header, data) != 0) return false;
  for (int cap : capabilities) {
    const auto bit = 1u << (cap % 32);
    data[cap / 32].effective &= ~bit;
    data[cap / 32].permitted &= ~bit;
    data[cap / 32].inheritable &= ~bit;
  }
  return ::syscall(SYS_capset, &header, data) == 0;
}

class FatVolume {
 public:
  explicit FatVolume(const std::string& dir) : mount_(dir + "/mnt") {
    const std::string image = dir + "/fat.img";
    std::filesystem::create_directories(mount_);
    if (std::system(("mkfs.vfat -C '" + image + "' 4096 >/dev/null 2>&1").c_str()) != 0) {
      why_ = "mkfs.vfat failed or is missing";
      return;
    }
    // Mounted for one user, as a desktop mounts a stick: every file is that user's.
    const std::string mount =
        "mount -o loop,uid=65534,gid=65534 '" + image + "' '" + mount_ + "' >/dev/null 2>&1";
    if (std::system(mount.c_str()) != 0) {
      why_ = "the kernel did not mount the vfat image";
      return;
    }
    mounted_ = true;
  }
  ~FatVolume() {
    if (mounted_) (void)std::system(("umount '" + mount_ + "'").c_str());
  }
  bool mounted() const { return mounted_; }
  const std::string& why() const { return why_; }
  const std::string& path() const { return mount_; }

 private:
  std::string mount_, why_;
  bool mounted_ = false;
};

TEST(HiddenAttribute, RootMarksAUsersFatFolderWithoutOverridingOwnership) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a FAT image";
  devtest::TempDir dir;
  FatVolume volume(dir.path());
  if (!volume.mounted()) GTEST_SKIP() << volume.why();
  const std::string folder = volume.path() + "/TAVIO_LCDMANAGER";
  ASSERT_TRUE(std::filesystem::create_directory(folder));

  const pid_t child = ::fork();
  if (child == 0) {
    if (!DropCapabilities({CAP_FOWNER, CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})) ::_exit(2);
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ::_exit(fd.valid() && NewLinuxEnv()->SetHiddenAt(fd.get(), folder).ok() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  auto hidden = NewLinuxEnv()->IsHidden(folder);
  ASSERT_TRUE(hidden.ok()) << hidden.status().ToString();
  EXPECT_TRUE(*hidden);
}

}  // namespace
}  // namespace kuv
