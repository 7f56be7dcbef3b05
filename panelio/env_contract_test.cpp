// One contract, every backend that can run here: the simulator must behave as the real thing
// does, or tests written against it hide faults.

#include "panelio/env_contract_test.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <memory>

#include "panelio/env.h"
#include "panelio/env_test_support.h"
#include "panelio/file_io.h"
#include "panelio/sim/sim_env.h"
#include "panelio/unique_fd.h"
#include "panelio/windows/fake_win32_calls.h"
#include "panelio/windows/windows_env.h"

namespace kuv {

bool devtest::WriteContractImage(const std::string& path) {
  UniqueFd fd(OpenFd(path, O_WRONLY | O_CREAT | O_TRUNC));
  if (!fd.valid() || ResizeFd(fd.get(), kImageSize) != 0) return false;
  std::uint8_t first[512], far[512];
  for (int i = 0; i < 512; ++i) {
    first[i] = static_cast<std::uint8_t>(i);
    far[i] = static_cast<std::uint8_t>(255 - i);
  }
  return WriteAtOffset(fd.get(), first, 512, 0) == 512 &&
         WriteAtOffset(fd.get(), far, 512, kFarOffset) == 512;
}

namespace {

using devtest::Backend;
using devtest::BackendMaker;
using devtest::kFarOffset;
using devtest::kImageSize;
using devtest::TempDir;

Backend MakeSim(const std::string& root) {
  std::filesystem::create_directories(root + "/volumes/data");
  if (!devtest::WriteContractImage(root + "/disk1.img")) return {};
  devtest::WriteWorld(root,
                      {{"disks",
                        {{{"number", 1},
                          {"image", "disk1.img"},
                          {"volumes", {{{"dir", "volumes/data"}, {"fileSystem", "NTFS"}}}}}}}});
  return {NewSimEnv(root), root + "/volumes/data", true};
}

// WindowsEnv over the stand-in Windows calls: the disk is the contract image, the files real.
Backend MakeWindowsOverFake(const std::string& root) {
  if (!devtest::WriteContractImage(root + "/disk1.img")) return {};
  std::filesystem::create_directories(root + "/volume");
  auto calls = std::make_unique<win32::FakeWin32Calls>();
  calls->disks[1].image = root + "/disk1.img";
  calls->disks[1].instanceId = u"SCSI\\DISK&VEN_FAKE\\1";
  win32::FakeVolume volume;
  volume.name = u"\\\\?\\Volume{1}\\";
  volume.paths = {u"E:\\"};
  volume.total = 1u << 30;
  volume.available = 1u << 29;
  volume.extents = {{1, 1 << 20, 1 << 30}};
  volume.partition = 1;
  calls->volumes.push_back(volume);
  return {NewWindowsEnv(std::move(calls)), root + "/volume", true};
}

std::vector<BackendMaker> AllBackends() {
  std::vector<BackendMaker> all = {{"Sim", MakeSim}, {"WindowsOverFake", MakeWindowsOverFake}};
  for (BackendMaker& maker : devtest::PlatformBackends()) all.push_back(std::move(maker));
  return all;
}

class EnvContract : public ::testing::TestWithParam<BackendMaker> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    backend_ = GetParam().make(dir_.path());
    ASSERT_TRUE(backend_.env) << "could not make the backend's files";
  }
  DeviceEnv& env() { return *backend_.env; }
  std::string Scratch(const std::string& name) { return backend_.scratch + "/" + name; }

  TempDir dir_;
  Backend backend_;
};

TEST_P(EnvContract, MissingDriveDoesNotOpen) {
  for (int drive : {5, 31, -1}) {
    auto disk = env().OpenDisk(drive, DiskAccess::kReadWrite);
    ASSERT_FALSE(disk.ok()) << drive;
    EXPECT_EQ(disk.status().code(), ENOENT) << drive;
  }
}

TEST_P(EnvContract, ReadsAtSixtyFourBitOffsets) {
  auto disk = env().OpenDisk(1, DiskAccess::kRead);
  ASSERT_TRUE(disk.ok()) << disk.status().ToString();
  auto size = (*disk)->SizeBytes();
  ASSERT_TRUE(size.ok());
  EXPECT_EQ(*size, kImageSize);

  std::uint8_t sector[512];
  ASSERT_TRUE((*disk)->ReadAt(0, sector).ok());
  EXPECT_EQ(sector[1], 1);
  EXPECT_EQ(sector[511], 255);
  ASSERT_TRUE((*disk)->ReadAt(kFarOffset, sector).ok());
  EXPECT_EQ(sector[0], 255);
  EXPECT_EQ(sector[511], 0);
  EXPECT_FALSE((*disk)->ReadAt(kImageSize - 256, sector).ok());
  EXPECT_FALSE((*disk)->ReadAt(~std::uint64_t{0} - 100, sector).ok());
}

// The read that must reach the drive: whole aligned logical blocks only, the data the same as a
// buffered read's.
TEST_P(EnvContract, ReadsFromTheMediumInWholeAlignedBlocks) {
  auto disk = env().OpenDisk(1, DiskAccess::kRead);
  ASSERT_TRUE(disk.ok()) << disk.status().ToString();
  auto block = (*disk)->LogicalBlockBytes();
  ASSERT_TRUE(block.ok());
  EXPECT_EQ(*block, 512u);
  alignas(4096) static std::uint8_t buffer[1024];
  Status s = (*disk)->ReadMedium(0, std::span<std::uint8_t>(buffer, 512));
  ASSERT_TRUE(s.ok()) << s.ToString();
  EXPECT_EQ(buffer[1], 1);
  EXPECT_EQ(buffer[511], 255);
  ASSERT_TRUE((*disk)->ReadMedium(kFarOffset / 512, std::span<std::uint8_t>(buffer, 512)).ok());
  EXPECT_EQ(buffer[0], 255);
  EXPECT_EQ((*disk)->ReadMedium(0, std::span<std::uint8_t>(buffer + 8, 512)).code(), EINVAL);
  EXPECT_EQ((*disk)->ReadMedium(0, std::span<std::uint8_t>(buffer, 100)).code(), EINVAL);
  EXPECT_FALSE((*disk)->ReadMedium(kImageSize / 512, std::span<std::uint8_t>(buffer, 512)).ok());
}

TEST_P(EnvContract, FilesAndDirectories) {
  std::string folder = Scratch("TAVIO_LCDMANAGER");
  ASSERT_TRUE(env().MakeDirectory(folder).ok());
  Status again = env().MakeDirectory(folder);
  EXPECT_EQ(again.code(), EEXIST);

  std::string file = folder + "/LCD_DATA.TXT";
  const std::uint8_t bytes[] = {'a', 'b', 0, 'c'};
  ASSERT_TRUE(env().AppendToFile(file, bytes).ok());
  ASSERT_TRUE(env().AppendToFile(file, bytes).ok());
  EXPECT_EQ(devtest::ReadAll(file), std::string("ab\0cab\0c", 8));

  EXPECT_TRUE(env().RemoveFile(file).ok());
  EXPECT_EQ(env().RemoveFile(file).code(), ENOENT);
  EXPECT_FALSE(env().RemoveFile(folder).ok());  // folders are not files
}

TEST_P(EnvContract, HiddenAttributeWhereTheFileSystemKeepsOne) {
  std::string folder = Scratch("hidden");
  ASSERT_TRUE(env().MakeDirectory(folder).ok());
  auto before = env().IsHidden(folder);
  ASSERT_TRUE(before.ok());
  EXPECT_FALSE(*before);
  ASSERT_TRUE(env().SetHidden(folder).ok());
  auto after = env().IsHidden(folder);
  ASSERT_TRUE(after.ok());
  EXPECT_EQ(*after, backend_.keepsHidden);
  EXPECT_FALSE(env().SetHidden(Scratch("missing")).ok());
}

TEST_P(EnvContract, AutostartEntry) {
  ASSERT_TRUE(env().SetAutostart(false).ok());  // removing what is not there is fine
  EXPECT_FALSE(*env().AutostartRegistered());
  ASSERT_TRUE(env().SetAutostart(true).ok());
  EXPECT_TRUE(*env().AutostartRegistered());
  ASSERT_TRUE(env().SetAutostart(true).ok());
  ASSERT_TRUE(env().SetAutostart(false).ok());
  EXPECT_FALSE(*env().AutostartRegistered());
}

TEST_P(EnvContract, VolumesAndSpace) {
  auto space = env().FreeSpace(backend_.scratch);
  ASSERT_TRUE(space.ok()) << space.status().ToString();
  EXPECT_GT(space->totalBytes, 0u);
  EXPECT_LE(space->freeBytes, space->totalBytes);
  auto volumes = env().ListVolumes();
  ASSERT_TRUE(volumes.ok()) << volumes.status().ToString();
  EXPECT_TRUE(std::is_sorted(volumes->begin(), volumes->end(), [](const auto& a, const auto& b) {
    return std::tie(a.driveNumber, a.partition) < std::tie(b.driveNumber, b.partition);
  }));
  for (const VolumeInfo& v : *volumes) {
    EXPECT_TRUE(v.driveNumber >= 0 && v.driveNumber <= 31);
    EXPECT_FALSE(v.mountPoint.empty());
    EXPECT_NE(v.mountPoint.back(), '/');
  }
}

TEST_P(EnvContract, MissingHidAndPortFailCleanly) {
  EXPECT_FALSE(env().OpenHid("/nonexistent/hidraw99").ok());
  EXPECT_FALSE(env().OpenStoragePort("/nonexistent/port").ok());
  EXPECT_TRUE(env().ListHid().ok());
  EXPECT_TRUE(env().ListStoragePorts().ok());
  EXPECT_TRUE(env().ListDisks().ok());
}

INSTANTIATE_TEST_SUITE_P(Backends, EnvContract, ::testing::ValuesIn(AllBackends()),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace kuv
