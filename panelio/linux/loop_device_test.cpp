// LinuxEnv against a real block device: a loop device with 4096-byte logical blocks over an image.
// Needs root and loop devices; skipped, with the reason, where either is missing.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "panelio/disk_helpers.h"
#include "panelio/env_test_support.h"
#include "panelio/linux/linux_env.h"
#include "panelio/unique_fd.h"

namespace kuv {
namespace {

constexpr std::uint32_t kBlock = 4096;
constexpr std::uint64_t kStart = 256;  // the partition's first LBA, in 4 KiB blocks

// An MBR partition of type 0x83 at block 256 holding an XFS superblock: 1000 blocks, 250 free.
void WriteImage(const std::string& path) {
  std::vector<std::uint8_t> image((kStart + 1) * kBlock, 0);
  image[450] = 0x83;
  image[454] = static_cast<std::uint8_t>(kStart);
  image[455] = static_cast<std::uint8_t>(kStart >> 8);
  image[510] = 0x55;
  image[511] = 0xAA;
  std::uint8_t* sb = &image[kStart * kBlock];
  std::memcpy(sb, "XFSB", 4);
  sb[6] = 0x10;
  sb[14] = 0x03;
  sb[15] = 0xE8;
  sb[151] = 250;
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()),
             static_cast<std::streamsize>(image.size()));
  std::filesystem::resize_file(path, 16 << 20);
}

// A loop device over an image with 4 KiB logical blocks; detached at the end.
class LoopDevice {
 public:
  explicit LoopDevice(const std::string& image) {
    UniqueFd control(::open("/dev/loop-control", O_RDWR | O_CLOEXEC));
    if (!control.valid()) {
      why_ = std::string("/dev/loop-control: ") + std::strerror(errno);
      return;
    }
    int number = ::ioctl(control.get(), LOOP_CTL_GET_FREE);
    if (number < 0) {
      why_ = std::string("no free loop device: ") + std::strerror(errno);
      return;
    }
    path_ = "/dev/loop" + std::to_string(number);
    UniqueFd backing(::open(image.c_str(), O_RDONLY | O_CLOEXEC));
    loop_.reset(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
    if (!backing.valid() || !loop_.valid()) {
      why_ = path_ + ": " + std::strerror(errno);
      return;
    }
    loop_config config{};
    config.fd = static_cast<std::uint32_t>(backing.get());
    config.block_size = kBlock;
    config.info.lo_flags = LO_FLAGS_READ_ONLY;
    if (::ioctl(loop_.get(), LOOP_CONFIGURE, &config) != 0) {
      why_ = std::string("LOOP_CONFIGURE: ") + std::strerror(errno);
      loop_.reset();
      return;
    }
    attached_ = true;
  }
  ~LoopDevice() {
    if (attached_) ::ioctl(loop_.get(), LOOP_CLR_FD, 0);
  }

  bool attached() const { return attached_; }
  const std::string& why() const { return why_; }
  const std::string& path() const { return path_; }

  // Read requests the device completed (the first field of its stat file).
  std::uint64_t ReadsCompleted() const {
    std::ifstream in("/sys/block/" + std::filesystem::path(path_).filename().string() + "/stat");
    std::uint64_t reads = 0;
    in >> reads;
    return reads;
  }

  // Loop devices belong to the whole machine: udev on the host probes a new one in a burst of
  // reads. Counting our own reads waits until the count has stood still for 100 ms (at most 3 s).
  void WaitUntilQuiet() const {
    std::uint64_t last = ReadsCompleted();
    for (int i = 0; i < 30; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      const std::uint64_t now = ReadsCompleted();
      if (now == last) return;
      last = now;
    }
  }

 private:
  std::string path_, why_;
  UniqueFd loop_;
  bool attached_ = false;
};

TEST(LoopDevice, FourKnDiskReadDirectlyAndInItsBlockSize) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to attach a loop device";
  devtest::TempDir dir;
  WriteImage(dir.path() + "/disk.img");
  LoopDevice loop(dir.path() + "/disk.img");
  if (!loop.attached()) GTEST_SKIP() << "no loop device: " << loop.why();

  std::filesystem::create_directories(dir.path() + "/dev");
  std::filesystem::create_symlink(loop.path(), dir.path() + "/dev/sdb");
  LinuxEnvPaths paths;
  paths.devDir = dir.path() + "/dev";
  auto env = NewLinuxEnv(paths);
  auto disk = env->OpenDisk(1, DiskAccess::kRead);
  ASSERT_TRUE(disk.ok()) << disk.status().ToString();
  auto block = (*disk)->LogicalBlockBytes();
  ASSERT_TRUE(block.ok());
  EXPECT_EQ(*block, kBlock);

  SectorSizes sizes = ReadDiskSectorSizes(**disk);
  EXPECT_EQ(sizes.fileSystemType, 4);
  EXPECT_EQ(sizes.totalSectors, 1000u);
  EXPECT_EQ(sizes.freeSectors, 250u);

  // The block just read through the cache: another buffered read never reaches the device, a
  // direct one always does. A reader outside the test can still move the count now and then, so
  // a buffered read is tried up to three times; one that reaches the device fails all three.
  std::uint8_t sector[512];
  ASSERT_TRUE((*disk)->ReadAt(kBlock, sector).ok());
  bool cached = false;
  for (int attempt = 0; attempt < 3 && !cached; ++attempt) {
    loop.WaitUntilQuiet();
    const std::uint64_t before = loop.ReadsCompleted();
    ASSERT_TRUE((*disk)->ReadAt(kBlock, sector).ok());
    cached = loop.ReadsCompleted() == before;
  }
  EXPECT_TRUE(cached) << "a buffered re-read reached the device";
  const std::uint64_t before = loop.ReadsCompleted();
  ASSERT_TRUE(ReadBlockFromMedium(**disk, 1).ok());
  ASSERT_TRUE(ReadBlockFromMedium(**disk, 1).ok());
  EXPECT_GE(loop.ReadsCompleted(), before + 2);

  alignas(4096) static std::uint8_t buffer[2 * kBlock];
  EXPECT_EQ((*disk)->ReadMedium(1, std::span<std::uint8_t>(buffer, 512)).code(), EINVAL);
  EXPECT_EQ((*disk)->ReadMedium(1, std::span<std::uint8_t>(buffer + 512, kBlock)).code(), EINVAL);
}

}  // namespace
}  // namespace kuv
