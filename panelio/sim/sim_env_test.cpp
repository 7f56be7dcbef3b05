#include "panelio/sim/sim_env.h"

#include <gtest/gtest.h>

#include <chrono>

#include "panelio/env_test_support.h"
#include "panelio/panelio.h"
#include "panelio/pass_through.h"
#include "panelio/sim/sample_world.h"
#include "panelio/sim/sim_ata.h"
#include "panelio/sim/sim_state.h"
#include "panelio/sim/world.h"

namespace kuv {
namespace {

using devtest::TempDir;
using nlohmann::json;

// ATA PASS-THROUGH (16), non-data, CK_COND: CHECK POWER MODE.
constexpr std::uint8_t kCheckPowerMode16[16] = {0x85, 0x06, 0x20, 0, 0, 0, 0,   0,
                                                0,    0,    0,    0, 0, 0, 0xE5};

TEST(SimWorld, RejectsMalformedWorldsWithTheKey) {
  const struct {
    const char* json;
    const char* mentions;
  } cases[] = {
      {"{", "not valid JSON"},
      {"[]", "expected an object"},
      {R"({"disks": {}})", "disks"},
      {R"({"disks": [{"name": "x"}]})", "number"},
      {R"({"disks": [{"number": 32}]})", "out of range"},
      {R"({"disks": [{"number": "0xZZ"}]})", "not a number"},
      {R"({"disks": [{"number": -1}]})", "negative"},
      {R"({"disks": [{"number": 1}, {"number": 1}]})", "disks[].number"},
      {R"({"disks": [{"number": 1, "transport": "usb"}]})", "unknown transport"},
      {R"({"disks": [{"number": 1, "adapter": "nope"}]})", "no adapter"},
      {R"({"disks": [{"number": 1, "usb": {"vendor": 70000}}]})", "usb.vendor"},
      {R"({"disks": [{"number": 1, "bridgePanel": {"idText": "MB86C3111"}}]})", "idText"},
      {R"({"disks": [{"number": 1, "bridgePanel": {"name": "../x"}}]})", "file name"},
      {R"({"hidPanels": [{"name": "a"}, {"name": "b", "path": "sim:hid:a"}]})", "path"},
      {R"({"hidPanels": [{"name": "a/b"}]})", "file name"},
      {R"({"adapters": [{"id": "x", "hardwareIds": "PCI"}]})", "hardwareIds"},
      {R"({"sleepScale": "fast"})", "sleepScale"},
  };
  for (const auto& c : cases) {
    auto world = sim::ParseWorld(c.json, "/w");
    ASSERT_FALSE(world.ok()) << c.json;
    EXPECT_NE(world.status().context().find(c.mentions), std::string::npos)
        << c.json << " -> " << world.status().context();
  }
  auto world = sim::ParseWorld(
      R"({"disks": [{"number": "0x1F", "image": "a.img", "usb": {"vendor": "0x3E5B",
          "product": 4353}}]})",
      "/w");
  ASSERT_TRUE(world.ok()) << world.status().ToString();
  EXPECT_EQ(world->disks[0].number, 31);
  EXPECT_EQ(world->disks[0].image, "/w/a.img");
  EXPECT_EQ(world->disks[0].usb->product, 0x1101);
}

class SimWorldTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim::WriteSampleWorld(dir_.path(), {.sleepScale = 0}).ok());
    env_ = NewSimEnv(dir_.path());
  }

  std::unique_ptr<Disk> Open(int drive) {
    auto disk = env_->OpenDisk(drive, DiskAccess::kReadWrite);
    EXPECT_TRUE(disk.ok()) << disk.status().ToString();
    return disk.ok() ? std::move(*disk) : nullptr;
  }

  // Sends the probe report and reads the status byte; -1 when no reply came.
  static int Probe(HidDevice& hid) {
    std::array<std::uint8_t, 65> report{};
    report[1] = 0x41;
    if (!hid.Write(report).ok()) return -1;
    std::array<std::uint8_t, 65> reply{};
    auto n = hid.Read(reply, 100);
    if (!n.ok() || *n == 0) return -1;
    return reply[2];
  }

  void AddFault(sim::Fault fault) { ASSERT_TRUE(sim::AddFault(dir_.path(), fault).ok()); }

  TempDir dir_;
  std::unique_ptr<DeviceEnv> env_;
};

TEST_F(SimWorldTest, BridgePanelAnswersTheVendorQueries) {
  auto bridge = Open(1);
  std::array<std::uint8_t, 8> id{};
  ASSERT_EQ(QueryPanelId(*bridge, id), kPanelOk);
  EXPECT_TRUE(IsBridgeIdText(id));
  std::array<std::uint8_t, 12> state{};
  EXPECT_EQ(QueryPanelState(*bridge, state), kPanelOk);
  std::uint16_t word = 0;
  EXPECT_EQ(QueryPanelWord(*bridge, word), kPanelOk);
  EXPECT_EQ(word, 1);

  // A disk without a bridge refuses them, and the replies stay as they were.
  auto plain = Open(2);
  id.fill(0xAA);
  EXPECT_EQ(QueryPanelId(*plain, id), kPanelIdQueryFailed);
  EXPECT_EQ(id[0], 0xAA);
  EXPECT_EQ(QueryPanelState(*plain, state), kPanelStateQueryFailed);
  EXPECT_EQ(QueryPanelWord(*plain, word), kPanelWordQueryFailed);
  const std::uint8_t unknown[6] = {0x12};
  auto reply = plain->Scsi({.cdb = unknown});
  ASSERT_TRUE(reply.ok());
  EXPECT_EQ(reply->scsiStatus, 2);
  EXPECT_EQ(reply->sense[2], 0x05);
}

TEST_F(SimWorldTest, HidStatusShowsOneReadOfItsOwnDisk) {
  auto hid = env_->OpenHid(sim::SampleTrayPath(1));
  ASSERT_TRUE(hid.ok());
  EXPECT_EQ(Probe(**hid), 0x60);
  // Reads past the page cache: a buffered read of a cached page would never reach the drive.
  alignas(4096) static std::uint8_t sector[4096];
  std::span<std::uint8_t> block(sector, 512);
  ASSERT_TRUE(Open(3)->ReadMedium(1, block).ok());  // another panel's disk
  EXPECT_EQ(Probe(**hid), 0x60);
  ASSERT_TRUE(Open(2)->ReadMedium(1, block).ok());
  EXPECT_EQ(Probe(**hid), 0xE0);
  EXPECT_EQ(Probe(**hid), 0x60);

  // The flag lives in state/, so a second process on the world sees the read of the first.
  auto other = NewSimEnv(dir_.path());
  ASSERT_TRUE(Open(2)->ReadMedium(0, block).ok());
  auto hid2 = other->OpenHid(sim::SampleTrayPath(1));
  ASSERT_TRUE(hid2.ok());
  EXPECT_EQ(Probe(**hid2), 0xE0);

  std::array<std::uint8_t, 65> reply{};
  auto n = (*hid)->Read(reply, 10);  // nothing asked, nothing answered
  ASSERT_TRUE(n.ok());
  EXPECT_EQ(*n, 0u);
}

TEST_F(SimWorldTest, AtaCommandsReachOnlyThroughTheDisksTransport) {
  const std::uint8_t identify12[12] = {0xA1, 0x08, 0x0D, 0x01, 0, 0, 0, 0, 0, 0xEC};
  const std::uint8_t identify16[16] = {0x85, 0x09, 0x0D, 0x00, 0x01, 0, 0,   0,
                                       0,    0,    0,    0,    0,    0, 0xEC};
  std::uint8_t sector[512];
  auto good = [&](Disk& disk, std::span<const std::uint8_t> cdb) {
    auto r = disk.Scsi({.cdb = cdb, .direction = DataDirection::kIn, .data = sector});
    return r.ok() && r->Good();
  };
  auto bridge16 = Open(1);
  EXPECT_FALSE(good(*bridge16, identify12));
  EXPECT_TRUE(good(*bridge16, identify16));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(sector) + 54, 8), "TS0200MD");  // ATA byte order
  EXPECT_FALSE(bridge16->AtaCommand({.command = 0xEC}, sector).ok());

  auto platform = Open(2);
  EXPECT_FALSE(good(*platform, identify16));
  EXPECT_TRUE(platform->AtaCommand({.sectorCount = 1, .command = 0xEC}, sector).ok());
  EXPECT_TRUE(platform
                  ->AtaCommand({.features = 0xD0,
                                .sectorCount = 1,
                                .lbaMid = 0x4F,
                                .lbaHigh = 0xC2,
                                .command = 0xB0},
                               sector)
                  .ok());
  // A data-in command that counts no sectors is refused, as the translation layer refuses it.
  EXPECT_FALSE(
      platform
          ->AtaCommand({.features = 0xD1, .lbaMid = 0x4F, .lbaHigh = 0xC2, .command = 0xB0}, sector)
          .ok());
  EXPECT_FALSE(platform->AtaCommand({.command = 0x25}, sector).ok());

  // The filter drive answers on its adapter's port, and only while the filter is listed.
  auto adapter = env_->AdapterOf(3);
  ASSERT_TRUE(adapter.ok() && adapter->has_value());
  auto port = env_->OpenStoragePort((*adapter)->interfacePath);
  ASSERT_TRUE(port.ok());
  std::array<std::uint8_t, sim::kFilterRequestIn> in{};
  in[0] = 28;
  std::memcpy(in.data() + 4, "QM_SATA_", 8);
  in[16] = 0x01;
  in[17] = 0x05;
  in[18] = 0x1B;
  in[33] = 1;  // target of drive 3
  in[67] = 0xEC;
  std::array<std::uint8_t, sim::kFilterRequestOut> out{};
  auto n = (*port)->Miniport(in, out);
  ASSERT_TRUE(n.ok()) << n.status().ToString();
  EXPECT_EQ(out[sim::kFilterReplyOffset + 20 + 1], 'W');  // serial "WD-WCC4...", byte-swapped
  in[33] = 0;
  EXPECT_FALSE((*port)->Miniport(in, out).ok());
  in[33] = 1;
  const std::uint8_t empty[2] = {0, 0};
  ASSERT_TRUE(env_->WriteUpperFilters((*adapter)->instanceId, empty).ok());
  EXPECT_FALSE((*port)->Miniport(in, out).ok());
}

TEST_F(SimWorldTest, FaultsOnOpen) {
  AddFault({.target = "disk:2", .kind = sim::Fault::Kind::kFailOpen});
  AddFault({.target = "hid:tray1", .kind = sim::Fault::Kind::kUnplug});
  EXPECT_EQ(env_->OpenDisk(2, DiskAccess::kRead).status().code(), EIO);
  EXPECT_EQ(env_->OpenHid(sim::SampleTrayPath(1)).status().code(), ENOENT);
  auto hids = env_->ListHid();
  ASSERT_TRUE(hids.ok());
  ASSERT_FALSE(hids->empty());
  for (const HidInfo& h : *hids) EXPECT_NE(h.path, sim::SampleTrayPath(1));
  ASSERT_TRUE(sim::ClearFaults(dir_.path()).ok());
  EXPECT_TRUE(env_->OpenDisk(2, DiskAccess::kRead).ok());
}

TEST_F(SimWorldTest, UnplugCountsCommandsAcrossHandles) {
  AddFault({.target = "disk:3", .kind = sim::Fault::Kind::kUnplug, .afterCommands = 3});
  std::uint8_t sector[512];
  {
    auto disk = Open(3);
    EXPECT_TRUE(disk->ReadAt(0, sector).ok());
    EXPECT_TRUE(disk->ReadAt(0, sector).ok());
  }
  auto disk = Open(3);
  EXPECT_TRUE(disk->ReadAt(0, sector).ok());
  Status gone = disk->ReadAt(0, sector);
  EXPECT_EQ(gone.code(), ENODEV);
  EXPECT_EQ(disk->CheckVerify().code(), ENODEV);
  EXPECT_EQ(env_->OpenDisk(3, DiskAccess::kRead).status().code(), ENOENT);
  auto disks = env_->ListDisks();
  ASSERT_TRUE(disks.ok());
  for (const DiskInterface& d : *disks) EXPECT_NE(d.deviceNumber, 3);
}

TEST_F(SimWorldTest, StalledRepliesAreBoundedByTheirTimeOut) {
  AddFault({.target = "hid:tray1", .kind = sim::Fault::Kind::kStall, .ms = 60000});
  auto hid = env_->OpenHid(sim::SampleTrayPath(1));
  ASSERT_TRUE(hid.ok());
  std::array<std::uint8_t, 65> reply{};
  auto start = std::chrono::steady_clock::now();
  auto n = (*hid)->Read(reply, 20);
  auto waited = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(n.ok());
  EXPECT_EQ(*n, 0u);
  EXPECT_GE(waited, std::chrono::milliseconds(20));
  EXPECT_LT(waited, std::chrono::seconds(2));
}

TEST_F(SimWorldTest, FollowsWorldJsonAsItChanges) {
  EXPECT_FALSE(env_->OpenDisk(20, DiskAccess::kRead).ok());
  json world = json::parse(devtest::ReadAll(dir_.path() + "/world.json"));
  world["disks"].push_back({{"number", 20}, {"sizeBytes", 1 << 20}});
  devtest::WriteWorld(dir_.path(), world);
  EXPECT_TRUE(env_->OpenDisk(20, DiskAccess::kRead).ok());

  devtest::WriteAll(dir_.path() + "/world.json", "{ broken");
  auto broken = env_->OpenDisk(1, DiskAccess::kRead);
  ASSERT_FALSE(broken.ok());
  EXPECT_NE(broken.status().context().find("world.json"), std::string::npos);
  EXPECT_FALSE(env_->ListVolumes().ok());
}

// A world rewritten within one tick of the file system's clock, to the same size and in place,
// keeps its stamp but for the change time's nanoseconds: what was read within that tick is read
// again.
TEST_F(SimWorldTest, SeesWorldJsonRewrittenAtOnceToTheSameSize) {
  json world = json::parse(devtest::ReadAll(dir_.path() + "/world.json"));
  for (const char* mode : {"standby", "active", "standby"}) {
    world["disks"][0]["powerMode"] = mode;
    devtest::WriteWorld(dir_.path(), world);
    auto disk = env_->OpenDisk(0, DiskAccess::kRead);
    ASSERT_TRUE(disk.ok());
    auto reply = (*disk)->Scsi({.cdb = std::span<const std::uint8_t>(kCheckPowerMode16)});
    ASSERT_TRUE(reply.ok());
    EXPECT_EQ(reply->sense[13], std::string(mode) == "active" ? 0xFF : 0x00) << mode;
  }
}

// CHECK POWER MODE returns the registers only when asked for them (CK_COND), in the disk's sense
// format: code that forgets CK_COND gets a plain success and no mode.
TEST_F(SimWorldTest, PowerModeRegistersComeOnlyWithCkCond) {
  json world = json::parse(devtest::ReadAll(dir_.path() + "/world.json"));
  for (const char* format : {"descriptor", "fixed"}) {
    world["disks"][0]["senseFormat"] = format;
    devtest::WriteWorld(dir_.path(), world);
    auto disk = env_->OpenDisk(0, DiskAccess::kRead);
    ASSERT_TRUE(disk.ok());
    for (bool ckCond : {true, false}) {
      SCOPED_TRACE(std::string(format) + (ckCond ? " with CK_COND" : " without CK_COND"));
      std::array<std::uint8_t, 16> cdb;
      std::copy(std::begin(kCheckPowerMode16), std::end(kCheckPowerMode16), cdb.begin());
      if (!ckCond) cdb[2] &= ~0x20;
      auto reply = (*disk)->Scsi({.cdb = cdb});
      ASSERT_TRUE(reply.ok());
      std::optional<AtaReturn> ata = AtaReturnFromSense(
          std::span<const std::uint8_t>(reply->sense.data(), reply->senseLength));
      if (!ckCond) {
        EXPECT_TRUE(reply->Good());
        EXPECT_FALSE(ata);
        continue;
      }
      EXPECT_EQ(reply->sense[0] & 0x7F, std::string(format) == "fixed" ? 0x70 : 0x72);
      ASSERT_TRUE(ata);
      EXPECT_EQ(ata->count, 0xFF);
      EXPECT_EQ(ata->status, 0x50);
    }
  }
}

// Counters change on every open and read, so they are written in place, and only when they
// changed: a read the page cache answers leaves the file as it was.
TEST_F(SimWorldTest, CountersAreEditedInPlaceOnlyWhenTheyChange) {
  const std::string file = dir_.path() + "/state/disks/2.json";
  auto disk = env_->OpenDisk(2, DiskAccess::kRead);
  ASSERT_TRUE(disk.ok());
  std::uint8_t buffer[512];
  ASSERT_TRUE((*disk)->ReadAt(0, buffer).ok());
  FileStamp before;
  ASSERT_EQ(StampOf(file, before), 0);
  const std::string text = devtest::ReadAll(file);
  ASSERT_TRUE((*disk)->ReadAt(512, buffer).ok());  // the same 4 KiB page, from the cache
  EXPECT_EQ(devtest::ReadAll(file), text);
  disk->reset();
  FileStamp after;
  ASSERT_EQ(StampOf(file, after), 0);
  EXPECT_EQ(after.inode, before.inode) << "edited in place, not replaced";
  EXPECT_NE(devtest::ReadAll(file), text) << "the close changed openHandles";
}

// Closing a disk opened for writing makes udev send "change"; when none of its partitions is in
// use, the kernel reads the partition table again: "remove" and "add" for each partition.
TEST_F(SimWorldTest, WriteOpenedClosesCauseUdevEvents) {
  std::filesystem::remove(dir_.path() + "/volumes/data");  // drive 5's partition, not mounted
  const struct {
    int drive;
    DiskAccess access;
    std::uint64_t change, partition;
  } cases[] = {
      {5, DiskAccess::kReadWrite, 1, 2},  // one partition, not mounted
      {1, DiskAccess::kReadWrite, 1, 0},  // its volume is mounted
      {4, DiskAccess::kReadWrite, 1, 0},  // no partition table
      {5, DiskAccess::kRead, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.drive);
    auto before = sim::ReadDiskCounters(dir_.path(), c.drive);
    ASSERT_TRUE(before.ok());
    ASSERT_TRUE(env_->OpenDisk(c.drive, c.access).ok());
    auto after = sim::ReadDiskCounters(dir_.path(), c.drive);
    ASSERT_TRUE(after.ok());
    EXPECT_EQ(after->changeEvents - before->changeEvents, c.change);
    EXPECT_EQ(after->partitionEvents - before->partitionEvents, c.partition);
  }
}

TEST_F(SimWorldTest, WritesOnlyInsideItsWorld) {
  const std::uint8_t byte[] = {1};
  for (const std::string& path :
       {std::string("/tmp/kuvlcd-outside"), dir_.path() + "/../x", std::string("relative/file")})
    EXPECT_EQ(env_->AppendToFile(path, byte).code(), EACCES) << path;
  auto volumes = env_->ListVolumes();
  ASSERT_TRUE(volumes.ok());
  ASSERT_EQ(volumes->size(), 4u);
  EXPECT_EQ((*volumes)[0].fileSystem, "NTFS");
  EXPECT_EQ((*volumes)[1].fileSystem, "FAT32");
  EXPECT_EQ((*volumes)[2].fileSystem, "ext4");
  EXPECT_EQ((*volumes)[3].fileSystem, "btrfs");
  for (const VolumeInfo& v : *volumes) EXPECT_TRUE(v.readWrite) << v.mountPoint;
  EXPECT_TRUE(env_->AppendToFile((*volumes)[1].mountPoint + "/f", byte).ok());
}

}  // namespace
}  // namespace kuv
