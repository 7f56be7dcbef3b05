// LinuxEnv against real block devices: a loop device with 4096-byte logical blocks over an image,
// and real file systems on a partitioned loop device, mounted read-write and read-only. Needs root,
// loop devices and the file systems' mkfs; skipped, with the reason, where one is missing.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/blkpg.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "common/utf16.h"
#include "panelio/discovery.h"
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

struct LoopOptions {
  std::uint32_t blockBytes = kBlock;
  bool readOnly = true;
};

// A loop device over an image; detached at the end.
class LoopDevice {
 public:
  explicit LoopDevice(const std::string& image, LoopOptions options = {}) {
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
    const int mode = options.readOnly ? O_RDONLY : O_RDWR;
    UniqueFd backing(::open(image.c_str(), mode | O_CLOEXEC));
    loop_.reset(::open(path_.c_str(), mode | O_CLOEXEC));
    if (!backing.valid() || !loop_.valid()) {
      why_ = path_ + ": " + std::strerror(errno);
      return;
    }
    loop_config config{};
    config.fd = static_cast<std::uint32_t>(backing.get());
    config.block_size = options.blockBytes;
    if (options.readOnly) config.info.lo_flags = LO_FLAGS_READ_ONLY;
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
  std::string name() const { return std::filesystem::path(path_).filename().string(); }

  // Adds partition 1 over the given bytes and answers its node ("" on failure, with why()). The
  // kernel is told directly, as a loop device's own partition scan does not run everywhere; where
  // it did run, the partition is there already (EBUSY).
  std::string AddPartition(std::uint64_t startBytes, std::uint64_t lengthBytes) {
    const std::string node = path_ + "p1";
    blkpg_partition part{};
    part.start = static_cast<long long>(startBytes);
    part.length = static_cast<long long>(lengthBytes);
    part.pno = 1;
    blkpg_ioctl_arg arg{};
    arg.op = BLKPG_ADD_PARTITION;
    arg.datalen = sizeof part;
    arg.data = &part;
    if (::ioctl(loop_.get(), BLKPG, &arg) != 0 && errno != EBUSY) {
      why_ = std::string("BLKPG: ") + std::strerror(errno);
      return "";
    }
    for (int i = 0; i < 50 && !std::filesystem::exists(node); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!std::filesystem::exists(node)) why_ = node + " did not appear";
    return std::filesystem::exists(node) ? node : "";
  }

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

// A partition table with one Linux partition at 1 MiB, over a sparse image of size bytes.
void WritePartitionedImage(const std::string& path, std::uint64_t size) {
  std::vector<std::uint8_t> mbr(512, 0);
  mbr[450] = 0x83;
  mbr[455] = 0x08;  // start 2048
  const std::uint32_t sectors = static_cast<std::uint32_t>(size / 512 - 2048);
  for (int i = 0; i < 4; ++i) mbr[458 + i] = static_cast<std::uint8_t>(sectors >> (8 * i));
  mbr[510] = 0x55;
  mbr[511] = 0xAA;
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(mbr.data()), static_cast<std::streamsize>(mbr.size()));
  std::filesystem::resize_file(path, size);
}

// A file system mounted for the life of the object.
class Mount {
 public:
  Mount(const std::string& node, const std::string& dir, const char* type, bool readOnly)
      : dir_(dir) {
    std::filesystem::create_directories(dir);
    if (::mount(node.c_str(), dir.c_str(), type, readOnly ? MS_RDONLY : 0, nullptr) == 0) {
      mounted_ = true;
    } else {
      why_ = std::string("mount ") + type + ": " + std::strerror(errno);
    }
  }
  ~Mount() {
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  const std::string& why() const { return why_; }

 private:
  std::string dir_, why_;
  bool mounted_ = false;
};

bool HaveProgram(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// The drive a loop device plays, as GetLcdInfo describes it through the Linux backend: a volume
// mounted read-write is an ordinary drive whatever its file system; XFS and ext that are not
// mounted, or mounted read-only, keep the video recorder's types.
TEST(LoopDevice, LinuxFileSystemsGiveTheirTypes) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to attach and mount a loop device";
  constexpr int kDrive = 30;
  struct Case {
    const char* fileSystem;
    const char* mkfs;
    std::int32_t notMounted, readOnly;
  } cases[] = {
      {"ext4", "mkfs.ext4 -q -F", kFsExt, kFsExt},
      {"xfs", "mkfs.xfs -q -f", kFsXfs, kFsXfs},
      // Not a recorder's format: read-only, there is nothing to keep the settings in.
      {"btrfs", "mkfs.btrfs -q -f", kFsUnknown, kFsUnknown},
  };
  int tried = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fileSystem);
    const std::string mkfs = c.mkfs;
    if (!HaveProgram(mkfs.substr(0, mkfs.find(' ')))) continue;
    devtest::TempDir dir;
    const std::string image = dir.path() + "/disk.img";
    constexpr std::uint64_t kSize = 320ull << 20;  // the smallest XFS is 300 MB
    WritePartitionedImage(image, kSize);
    LoopDevice loop(image, {.blockBytes = 512, .readOnly = false});
    if (!loop.attached()) GTEST_SKIP() << "no loop device: " << loop.why();
    const std::string partition = loop.AddPartition(1 << 20, kSize - (1 << 20));
    if (partition.empty()) GTEST_SKIP() << loop.why();
    ASSERT_EQ(std::system((mkfs + " " + partition + " >/dev/null 2>&1").c_str()), 0) << mkfs;

    LinuxEnvPaths paths;
    paths.extraDrives = {{loop.name(), kDrive}};
    auto env = NewLinuxEnv(paths);
    auto describe = [&] {
      DriveRecord r{};
      FillLcdInfo(*env, kDrive, &r);
      return r;
    };
    DriveRecord r = describe();
    EXPECT_EQ(r.fileSystemType, c.notMounted) << "not mounted";
    if (c.notMounted != kFsUnknown) {
      EXPECT_EQ(FieldUtf8(r.driveLetter), "-");
    }

    for (bool readOnly : {false, true}) {
      SCOPED_TRACE(readOnly ? "read-only" : "read-write");
      const std::string mountPoint = dir.path() + "/mnt";
      Mount mount(partition, mountPoint, c.fileSystem, readOnly);
      if (!mount.mounted()) GTEST_SKIP() << mount.why();
      r = describe();
      if (readOnly) {
        EXPECT_EQ(r.fileSystemType, c.readOnly);
        continue;
      }
      EXPECT_EQ(r.fileSystemType, kFsOtherReadWrite);
      EXPECT_EQ(FieldUtf8(r.driveLetter), mountPoint);
      EXPECT_EQ(FieldUtf8(r.fileSystem), c.fileSystem);
      // Sizes from the volume: a little less than the partition, and nearly all of it free.
      EXPECT_GT(r.totalMB, 200u);
      EXPECT_LT(r.totalMB, 320u);
      EXPECT_GT(r.freeMB, r.totalMB / 2);
    }
    ++tried;
  }
  if (tried == 0) GTEST_SKIP() << "no mkfs for ext4, XFS or btrfs here";
}

}  // namespace
}  // namespace kuv
