// WindowsEnv driven through the stand-in Windows calls: the bytes each request carries, as the
// system headers lay them out, and the answers mapped to what the Linux backend reports.

#include "panelio/windows/windows_env.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "common/utf16.h"
#include "panelio/env_test_support.h"
#include "panelio/file_io.h"
#include "panelio/pass_through.h"
#include "panelio/power_mode.h"
#include "panelio/sata_filter.h"
#include "panelio/smart.h"
#include "panelio/unique_fd.h"
#include "panelio/windows/fake_win32_calls.h"

namespace kuv {
namespace {

using namespace win32;

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t{b[at + 3]} << 24;
}

std::vector<std::uint8_t> MultiSz(std::initializer_list<std::u16string> strings) {
  std::vector<std::uint8_t> bytes;
  auto add = [&](char16_t c) {
    bytes.push_back(static_cast<std::uint8_t>(c));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  };
  for (const std::u16string& s : strings) {
    for (char16_t c : s) add(c);
    add(0);
  }
  add(0);
  return bytes;
}

class WindowsEnvTest : public ::testing::Test {
 protected:
  WindowsEnvTest() {
    auto owned = std::make_unique<FakeWin32Calls>();
    fake_ = owned.get();
    fake_->disks[1].instanceId = u"USBSTOR\\DISK&VEN_TAVIO\\0001";
    env_ = NewWindowsEnv(std::move(owned));
  }
  ~WindowsEnvTest() override { env_.reset(); }
  std::unique_ptr<Disk> Open(int drive = 1) {
    auto disk = env_->OpenDisk(drive, DiskAccess::kRead);
    EXPECT_TRUE(disk.ok()) << disk.status().ToString();
    return disk.ok() ? std::move(*disk) : nullptr;
  }

  FakeWin32Calls* fake_;
  std::unique_ptr<DeviceEnv> env_;
};

// The request block as x64 Windows defines it, read at its offsets rather than through our struct.
TEST_F(WindowsEnvTest, PassThroughBlockCarriesTheCommandAsWindowsLaysItOut) {
  struct Case {
    std::vector<std::uint8_t> cdb;
    DataDirection direction;
    std::size_t length;
    std::uint32_t timeout;
    std::uint8_t dataIn;
  } cases[] = {
      {{0x3C, 0x01, 0x55, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, DataDirection::kIn, 8, 120, 1},
      {{0x3B, 0x01, 0x00}, DataDirection::kOut, 1152, 120, 0},
      {{0, 0, 0, 0, 0, 0}, DataDirection::kNone, 0, 10, 2},
      {{0xA1, 0x06, 0x20, 0, 0, 0, 0, 0, 0, 0xE5, 0, 0}, DataDirection::kNone, 0, 15, 2},
  };
  std::vector<std::uint8_t> seenOut;
  fake_->disks[1].scsi = [&](ScsiPassThroughDirectWithSense& block, std::span<std::uint8_t> data,
                             std::uint32_t*) {
    if (block.header.DataIn == kScsiIoctlDataIn)
      for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(0xA0 + i);
    if (block.header.DataIn == kScsiIoctlDataOut) seenOut.assign(data.begin(), data.end());
    return true;
  };
  auto disk = Open();
  ASSERT_TRUE(disk);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cdb[0]);
    std::vector<std::uint8_t> data(c.length, 0x5A);
    auto reply = disk->Scsi({.cdb = c.cdb,
                             .direction = c.direction,
                             .data = data,
                             .timeoutSeconds = c.timeout,
                             .lun = 0});
    ASSERT_TRUE(reply.ok()) << reply.status().ToString();
    EXPECT_TRUE(reply->Good());
    const RecordedIoctl sent = fake_->Ioctls(kIoctlScsiPassThroughDirect).back();
    const std::vector<std::uint8_t>& b = sent.in;
    ASSERT_GE(b.size(), 88u);
    EXPECT_EQ(b[0] | b[1] << 8, 56) << "Length: sizeof(SCSI_PASS_THROUGH_DIRECT) on x64";
    EXPECT_EQ(b[3], 0) << "PathId";
    EXPECT_EQ(b[4], 1) << "TargetId";
    EXPECT_EQ(b[6], c.cdb.size()) << "CdbLength";
    EXPECT_EQ(b[7], 32) << "SenseInfoLength";
    EXPECT_EQ(b[8], c.dataIn) << "DataIn";
    EXPECT_EQ(U32(b, 12), c.length) << "DataTransferLength";
    EXPECT_EQ(U32(b, 16), c.timeout) << "TimeOutValue";
    EXPECT_EQ(U32(b, 32), 56u) << "SenseInfoOffset: the sense bytes follow the header";
    EXPECT_TRUE(std::equal(c.cdb.begin(), c.cdb.end(), b.begin() + 36));
    EXPECT_TRUE(std::all_of(b.begin() + 36 + static_cast<long>(c.cdb.size()), b.begin() + 52,
                            [](std::uint8_t x) { return x == 0; }));
    if (c.length == 0) {
      EXPECT_EQ(sent.dataBuffer, 0u);
    } else {
      EXPECT_EQ(sent.dataBuffer % 4096, 0u) << "the data buffer is aligned for any adapter";
    }
    if (c.direction == DataDirection::kIn) {
      EXPECT_EQ(data[7], 0xA7);
    } else if (c.direction == DataDirection::kOut) {
      EXPECT_EQ(seenOut, data);
    }
  }
}

// What the port driver answers, mapped to the reply (or error) SG_IO gives for the same event.
TEST_F(WindowsEnvTest, PassThroughAnswersMapAsOnLinux) {
  struct Case {
    const char* what;
    std::uint32_t error;  // the call fails with it; 0: it succeeds
    std::uint32_t moved;  // bytes the device transferred of 8
    std::uint8_t status;
    int expectedErrno;  // 0: a reply
    std::uint8_t hostStatus;
  } cases[] = {
      {"all good", 0, 8, 0, 0, 0},
      {"check condition, half sent", 0, 4, 2, 0, 0},
      {"timed out", kErrorSemTimeout, 0, 0, 0, 0x03},
      {"unplugged", kErrorDeviceNotConnected, 0, 0, ENODEV, 0},
      {"no such device", kErrorNoSuchDevice, 0, 0, ENODEV, 0},
      {"refused", kErrorAccessDenied, 0, 0, EACCES, 0},
  };
  const Case* current = nullptr;
  fake_->disks[1].scsi = [&](ScsiPassThroughDirectWithSense& block, std::span<std::uint8_t> data,
                             std::uint32_t* error) {
    if (current->error) {
      *error = current->error;
      return false;
    }
    std::fill(data.begin(), data.begin() + current->moved, 0x11);
    block.header.DataTransferLength = current->moved;
    block.header.ScsiStatus = current->status;
    if (current->status == 2) {
      block.header.SenseInfoLength = 18;
      block.sense[0] = 0x70;
      block.sense[2] = 0x05;
    } else {
      block.header.SenseInfoLength = 0;
    }
    return true;
  };
  auto disk = Open();
  ASSERT_TRUE(disk);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    current = &c;
    const std::uint8_t cdb[16] = {0x3C, 0x01, 0x55};
    std::vector<std::uint8_t> data(8, 0xEE);
    auto reply = disk->Scsi({.cdb = cdb, .direction = DataDirection::kIn, .data = data});
    if (c.expectedErrno) {
      ASSERT_FALSE(reply.ok());
      EXPECT_EQ(reply.status().code(), c.expectedErrno);
      continue;
    }
    ASSERT_TRUE(reply.ok()) << reply.status().ToString();
    EXPECT_EQ(reply->scsiStatus, c.status);
    EXPECT_EQ(reply->hostStatus, c.hostStatus);
    EXPECT_EQ(reply->residual, 8 - c.moved);
    EXPECT_EQ(reply->senseLength, c.status == 2 ? 18 : 0);
    if (c.status == 2) {
      EXPECT_EQ(reply->sense[2], 0x05);
    }
    // Only what the device sent is copied back; the rest of the caller's buffer is as it was.
    for (std::size_t i = 0; i < 8; ++i) {
      EXPECT_EQ(data[i], i < c.moved ? 0x11 : 0xEE) << i;
    }
  }
}

// CHECK POWER MODE is given 15 s, every other command the full 120 s.
TEST_F(WindowsEnvTest, PowerModeCheckHasItsShortTimeOut) {
  fake_->disks[1].scsi = [](ScsiPassThroughDirectWithSense& block, std::span<std::uint8_t>,
                            std::uint32_t*) {
    if (block.header.Cdb[14] == 0xE5) {  // descriptor sense with the ATA return: count 0xFF
      block.header.ScsiStatus = 2;
      block.header.SenseInfoLength = 22;
      const std::uint8_t sense[22] = {0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 14, 0x09, 12, 0,
                                      0,    0,    0xFF, 0,    0, 0, 0, 0,  0,    0,  0x40};
      std::memcpy(block.sense, sense, sizeof sense);
    }
    return true;
  };
  Status why;
  auto count = ReadPowerMode(*env_, 1, &why);
  ASSERT_TRUE(count) << why.ToString();
  EXPECT_EQ(*count, 0xFF);
  auto sent = fake_->Ioctls(kIoctlScsiPassThroughDirect);
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(U32(sent.front().in, 16), 15u);

  auto disk = Open();
  std::array<std::uint8_t, 8> id{};
  QueryPanelId(*disk, id);
  EXPECT_EQ(U32(fake_->Ioctls(kIoctlScsiPassThroughDirect).back().in, 16), 120u);
}

std::array<std::uint8_t, 512> IdentifySector() {
  std::array<std::uint8_t, 512> s{};
  const char serial[] = "    ABC123          ";  // ATA string order: bytes swapped per word
  for (int i = 0; i < 20; i += 2) {
    s[20 + i] = static_cast<std::uint8_t>(serial[i + 1]);
    s[20 + i + 1] = static_cast<std::uint8_t>(serial[i]);
  }
  s[160] = 0x10;  // word 80: ATA-4
  s[164] = 0x01;  // word 82: S.M.A.R.T. supported
  return s;
}

// The platform route: SENDCMDINPARAMS of 33 bytes, 528 bytes back, the registers of each step.
TEST_F(WindowsEnvTest, SmartGoesThroughThePlatformRequests) {
  fake_->disks[1].smart = [](const SendCmdInParams& in, SendCmdOutParams& out, std::uint32_t*) {
    out.cBufferSize = 512;
    if (in.irDriveRegs.bCommandReg == 0xEC) {
      auto s = IdentifySector();
      std::copy(s.begin(), s.end(), out.bBuffer);
    } else {
      std::fill(std::begin(out.bBuffer), std::end(out.bBuffer), in.irDriveRegs.bFeaturesReg);
    }
    return true;
  };
  std::array<std::uint8_t, 512> data{}, thresholds{};
  char16_t serial[21] = {};
  SmartOutcome outcome =
      ReadSmart(*env_, 1, {.thresholds = thresholds.data(), .data = data.data(), .serial = serial});
  EXPECT_TRUE(outcome.capable) << outcome.why.ToString();
  EXPECT_EQ(std::u16string(serial), u"ABC123          ");
  EXPECT_EQ(data[0], 0xD0);
  EXPECT_EQ(thresholds[0], 0xD1);

  struct Step {
    std::uint32_t code;
    std::uint32_t bufferSize;
    std::uint8_t regs[7];
  } steps[] = {
      {kSmartRcvDriveData, 512, {0, 1, 1, 0, 0, 0xA0, 0xEC}},
      {kSmartSendDriveCommand, 0, {0xD8, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0}},
      {kSmartRcvDriveData, 512, {0xD0, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0}},
      {kSmartRcvDriveData, 512, {0xD1, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0}},
  };
  std::vector<RecordedIoctl> sent;
  for (const RecordedIoctl& r : fake_->ioctls)
    if (r.code == kSmartRcvDriveData || r.code == kSmartSendDriveCommand) sent.push_back(r);
  ASSERT_EQ(sent.size(), std::size(steps));
  for (std::size_t i = 0; i < sent.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(sent[i].code, steps[i].code);
    ASSERT_EQ(sent[i].in.size(), 33u);
    EXPECT_EQ(sent[i].outSize, 528u);
    EXPECT_EQ(U32(sent[i].in, 0), steps[i].bufferSize);
    EXPECT_TRUE(std::equal(steps[i].regs, steps[i].regs + 7, sent[i].in.begin() + 4));
    EXPECT_EQ(sent[i].in[12], 0) << "bDriveNumber";
  }
  EXPECT_TRUE(fake_->Ioctls(kIoctlScsiPassThroughDirect).empty());
}

// A USB disk refuses the platform requests; the bridge route asks CHECK VERIFY and then sends the
// 12-byte ATA PASS-THROUGH IDENTIFY.
TEST_F(WindowsEnvTest, SmartFallsBackToPassThroughBehindABridge) {
  fake_->disks[1].scsi = [](ScsiPassThroughDirectWithSense& block, std::span<std::uint8_t> data,
                            std::uint32_t*) {
    if (block.header.Cdb[0] == 0xA1 && block.header.Cdb[9] == 0xEC) {
      auto s = IdentifySector();
      std::copy(s.begin(), s.end(), data.begin());
    }
    return true;
  };
  char16_t serial[21] = {};
  SmartOutcome outcome = ReadSmart(*env_, 1, {.serial = serial});
  EXPECT_TRUE(outcome.capable) << outcome.why.ToString();
  EXPECT_EQ(std::u16string(serial), u"ABC123          ");
  EXPECT_EQ(fake_->Ioctls(kIoctlStorageCheckVerify).size(), 1u);
  auto sent = fake_->Ioctls(kIoctlScsiPassThroughDirect);
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.front().in[36], 0xA1);
  EXPECT_EQ(sent.front().in[8], kScsiIoctlDataIn);
  EXPECT_EQ(U32(sent.front().in, 12), 512u);

  fake_->disks[1].checkVerifyError = kErrorNotReady;
  auto disk = Open();
  EXPECT_EQ(disk->CheckVerify().code(), EIO) << "a medium not ready, as TEST UNIT READY says";
}

// A user who may only read the disk still reads it; one who may not open it is told so.
TEST_F(WindowsEnvTest, OpenFailuresMapAsOnLinux) {
  fake_->readOnly.insert(u"\\\\.\\PhysicalDrive1");
  EXPECT_EQ(env_->OpenDisk(1, DiskAccess::kReadWrite).status().code(), EACCES);
  EXPECT_TRUE(env_->OpenDisk(1, DiskAccess::kRead).ok());
  fake_->openErrors[u"\\\\.\\PhysicalDrive1"] = kErrorAccessDenied;
  EXPECT_EQ(env_->OpenDisk(1, DiskAccess::kRead).status().code(), EACCES);
  EXPECT_EQ(env_->OpenDisk(2, DiskAccess::kRead).status().code(), ENOENT);
  EXPECT_EQ(fake_->OpenHandles(), 0);
}

// A raw disk reads whole sectors only: bytes anywhere come from the sectors around them, on a
// disk of 4096-byte sectors too.
TEST_F(WindowsEnvTest, ReadsUnalignedBytesThroughWholeSectors) {
  devtest::TempDir dir;
  const std::string image = dir.path() + "/disk.img";
  {
    UniqueFd fd(OpenFd(image, O_WRONLY | O_CREAT | O_TRUNC));
    std::vector<std::uint8_t> bytes(3 * 4096);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i % 251);
    ASSERT_EQ(WriteAtOffset(fd.get(), bytes.data(), bytes.size(), 0),
              static_cast<std::ptrdiff_t>(bytes.size()));
  }
  fake_->disks[1].image = image;
  fake_->disks[1].bytesPerSector = 4096;
  auto disk = Open();
  ASSERT_TRUE(disk);
  EXPECT_EQ(*disk->LogicalBlockBytes(), 4096u);
  EXPECT_EQ(*disk->SizeBytes(), 3u * 4096);
  std::uint8_t out[600];
  ASSERT_TRUE(disk->ReadAt(4000, out).ok());
  for (std::size_t i = 0; i < sizeof out; ++i) ASSERT_EQ(out[i], (4000 + i) % 251) << i;
  EXPECT_FALSE(disk->ReadAt(3 * 4096 - 100, out).ok());
}

TEST_F(WindowsEnvTest, DeviceTreeGivesParentsNamesAndTheAdapter) {
  const std::u16string disk = u"SCSI\\DISK&VEN_WDC\\4&1", adapter = u"PCI\\VEN_1095&DEV_3132\\3&1";
  fake_->disks[0].instanceId = disk;
  fake_->nodes[disk] = {adapter, {{kSpdrpFriendlyName, {1, MultiSz({u"WDC WD40 Disk"})}}}};
  fake_->nodes[adapter] = {
      u"PCI\\ROOT",
      {{kSpdrpHardwareId, {kRegMultiSz, MultiSz({u"PCI\\VEN_1095&DEV_3132&SUBSYS_71321095"})}},
       {kSpdrpPhysicalDeviceObjectName, {1, {'\\', 0, 'D', 0, '1', 0, 0, 0}}}}};
  fake_->nodes[u"PCI\\ROOT"] = {};
  fake_->storagePorts = {{u"\\\\?\\pci#port1", adapter}, {u"\\\\?\\pci#port9", u"PCI\\OTHER"}};
  fake_->nodes[u"PCI\\OTHER"] = {u"PCI\\ROOT", {{kSpdrpHardwareId, {7, MultiSz({u"PCI\\X"})}}}};

  auto disks = env_->ListDisks();
  ASSERT_TRUE(disks.ok());
  ASSERT_EQ(disks->size(), 2u);
  EXPECT_EQ((*disks)[0].deviceNumber, 0);
  EXPECT_EQ(*env_->ParentInstanceIds(0),
            (std::vector<std::string>{"PCI\\VEN_1095&DEV_3132\\3&1", "PCI\\ROOT"}));
  EXPECT_EQ(*env_->FriendlyName(0), "WDC WD40 Disk");
  EXPECT_EQ(*env_->FriendlyName(1), "");
  EXPECT_EQ(env_->FriendlyName(5).status().code(), ENOENT);

  // Not registered, then added in front of the list, then found with the port's path.
  fake_->nodes[adapter].properties[kSpdrpUpperFilters] = {kRegMultiSz, MultiSz({u"Other"})};
  EXPECT_EQ(SataFilterOfDrive(*env_, 0, false).state, 6);
  ASSERT_TRUE(ModifySataFilterLists(*env_, true));
  EXPECT_EQ(fake_->nodes[adapter].properties[kSpdrpUpperFilters].bytes,
            MultiSz({u"KuvSATAFil", u"Other"}));
  SataFilterInfo info = SataFilterOfDrive(*env_, 0, true);
  EXPECT_EQ(info.state, 5);
  EXPECT_EQ(info.portPath, std::optional<std::string>("\\\\?\\pci#port1"));
  EXPECT_EQ(SataFilterOfDrive(*env_, 1, true).state, 4) << "a USB disk is on no such adapter";

  // An adapter without the property has no list; one the system refuses to change keeps its own.
  fake_->nodes[adapter].properties.erase(kSpdrpUpperFilters);
  auto none = env_->ReadUpperFilters(Utf16ToUtf8(adapter));
  ASSERT_TRUE(none.ok());
  EXPECT_FALSE(*none);
  fake_->unwritableProperties.insert(kSpdrpUpperFilters);
  EXPECT_EQ(env_->WriteUpperFilters(Utf16ToUtf8(adapter), MultiSz({u"KuvSATAFil"})).code(), EACCES);
}

TEST_F(WindowsEnvTest, VolumesComeFromTheVolumeFunctions) {
  auto volume = [](std::u16string name, std::vector<std::u16string> paths, std::uint32_t disk,
                   std::int64_t start, std::optional<std::uint32_t> partition) {
    FakeVolume v;
    v.name = u"\\\\?\\Volume{" + name + u"}\\";
    v.paths = std::move(paths);
    v.extents = {{disk, start, 1 << 30}};
    v.partition = partition;
    v.total = 4ull << 30;
    v.available = 1ull << 30;
    return v;
  };
  fake_->volumes = {
      volume(u"b", {u"F:\\"}, 2, 2 << 20, std::nullopt),  // numbered by its place on the disk
      volume(u"a", {u"E:\\", u"C:\\mnt\\e\\"}, 2, 1 << 20, std::nullopt),
      volume(u"c", {u"C:\\mnt\\tray\\"}, 1, 1 << 20, 1),
      volume(u"hidden", {}, 1, 2 << 20, 2),       // mounted nowhere
      volume(u"far", {u"Z:\\"}, 40, 1 << 20, 1),  // past drive 31
  };
  fake_->volumes[0].label = u"写真";
  fake_->volumes[0].fileSystem = u"exFAT";
  fake_->volumes[0].flags = kFileReadOnlyVolume;
  FakeVolume spanned = volume(u"span", {u"S:\\"}, 1, 0, 3);
  spanned.extents.push_back({2, 0, 1 << 30});
  fake_->volumes.push_back(spanned);

  auto volumes = env_->ListVolumes();
  ASSERT_TRUE(volumes.ok()) << volumes.status().ToString();
  ASSERT_EQ(volumes->size(), 3u);
  const VolumeInfo& tray = (*volumes)[0];
  EXPECT_EQ(tray.driveNumber, 1);
  EXPECT_EQ(tray.partition, 1);
  EXPECT_EQ(tray.mountPoint, "C:\\mnt\\tray");
  const VolumeInfo& e = (*volumes)[1];
  EXPECT_EQ(e.mountPoint, "E:");
  EXPECT_EQ(e.partition, 1);
  EXPECT_EQ(e.fileSystem, "NTFS");
  EXPECT_TRUE(e.readWrite);
  EXPECT_EQ(e.totalBytes, 4ull << 30);
  EXPECT_EQ(e.freeBytes, 1ull << 30);
  const VolumeInfo& f = (*volumes)[2];
  EXPECT_EQ(f.mountPoint, "F:");
  EXPECT_EQ(f.partition, 2);
  EXPECT_EQ(f.label, "写真");
  EXPECT_EQ(f.fileSystem, "exFAT");
  EXPECT_FALSE(f.readWrite);
  EXPECT_EQ(fake_->OpenHandles(), 0);
}

TEST_F(WindowsEnvTest, AutostartNamesTheProgramBesideTheService) {
  ASSERT_TRUE(env_->SetAutostart(true).ok());
  EXPECT_EQ(fake_->registry[std::u16string(kRunKey) + u"\\KuvLcdManager"],
            u"C:\\Program Files\\KuvLcd\\KuvLcdManager.exe");
}

}  // namespace
}  // namespace kuv
