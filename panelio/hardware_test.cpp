// What real drives, bridges and hidraw do that a kind simulator would hide: the page cache, 4Kn
// disks, bridges that answer with sense data or short transfers, replies after the time-out,
// renumbered hidraw nodes, hung mounts. Each test runs on the simulator made as unkind.

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "common/utf16.h"
#include "panelio/bounded_call.h"
#include "panelio/discovery.h"
#include "panelio/disk_helpers.h"
#include "panelio/panelio.h"
#include "panelio/pass_through.h"
#include "panelio/sector_reader.h"
#include "panelio/sim/sim_env.h"
#include "panelio/sim/sim_state.h"
#include "panelio/smart.h"
#include "panelio/smart_test_support.h"

namespace kuv {
namespace {

using nlohmann::json;
using testing::AtaOf;
using testing::TempWorld;
using testing::WatchingEnv;

constexpr const char* kDump = "SAMSUNG_HD501LJ--CR100-12";

// A drive no ATA command reaches: only its sector reads can make a panel report it.
json PlainDisk(int number, json extra = json::object()) {
  json d = {{"number", number}, {"sizeBytes", 8 << 20}, {"transport", "none"}};
  d.update(extra);
  return d;
}

json Hid(const std::string& name, int disk, json extra = json::object()) {
  json h = {{"name", name}, {"disk", disk}};
  h.update(extra);
  return h;
}

std::uint64_t MediumReads(const TempWorld& world, int disk) {
  auto counters = sim::ReadDiskCounters(world.dir(), disk);
  return counters.ok() ? counters->mediumReads : ~std::uint64_t{0};
}

class Hardware : public ::testing::Test {
 protected:
  std::int32_t Info(int drive, const std::string& hidPath = "") {
    record_ = DriveRecord{};
    SetField(record_.hidPath, hidPath);
    return FillLcdInfo(env_, drive, &record_);
  }

  TempWorld world_;
  std::unique_ptr<DeviceEnv> sim_ = NewSimEnv(world_.dir());
  WatchingEnv env_{*sim_};
  DriveRecord record_{};
};

TEST_F(Hardware, OnlyReadsPastThePageCacheReachTheDrive) {
  world_.Write({{"disks", {PlainDisk(0)}}});
  auto held = sim_->OpenDisk(0, DiskAccess::kRead);
  ASSERT_TRUE(held.ok());
  std::uint8_t sector[512];
  ASSERT_TRUE((*held)->ReadAt(512, sector).ok());
  ASSERT_TRUE((*held)->ReadAt(512, sector).ok());
  EXPECT_EQ(MediumReads(world_, 0), 1u) << "the second buffered read came from the cache";

  // The export that makes a drive busy must reach it every time, whatever handle is open.
  ScopedEnvOverride use(*sim_);
  EXPECT_EQ(ReadSector0(0), 1);
  EXPECT_EQ(ReadSector0(0), 1);
  EXPECT_EQ(MediumReads(world_, 0), 3u);
}

TEST_F(Hardware, DirectReadsTakeOnlyWholeAlignedBlocks) {
  world_.Write({{"disks", {PlainDisk(0), PlainDisk(1, {{"logicalBlockBytes", 4096}})}}});
  alignas(4096) static std::uint8_t buffer[8192];
  const struct {
    int disk;
    std::size_t offset, length;
    bool ok;
  } cases[] = {{0, 0, 512, true},  {0, 0, 1024, true}, {0, 1, 512, false},    {0, 0, 100, false},
               {1, 0, 4096, true}, {1, 0, 512, false}, {1, 512, 4096, false}, {1, 0, 0, false}};
  for (const auto& c : cases) {
    auto disk = sim_->OpenDisk(c.disk, DiskAccess::kRead);
    ASSERT_TRUE(disk.ok());
    Status s = (*disk)->ReadMedium(1, std::span<std::uint8_t>(buffer + c.offset, c.length));
    EXPECT_EQ(s.ok(), c.ok) << c.disk << " " << c.offset << "+" << c.length << ": " << s.ToString();
    if (!c.ok) {
      EXPECT_EQ(s.code(), EINVAL);
    }
  }
  auto disk = sim_->OpenDisk(1, DiskAccess::kRead);
  EXPECT_TRUE(ReadBlockFromMedium(**disk, 1).ok());
}

// A mounted partition keeps the disk open, so its cache never empties: the tie must still work.
TEST_F(Hardware, TieWorksWhileTheDiskIsCached) {
  std::string volume = world_.Subdir("volumes/v0");
  world_.Write({{"disks", {PlainDisk(0, {{"volumes", {{{"dir", volume}}}}})}},
                {"hidPanels", {Hid("tray", 0)}}});
  auto held = sim_->OpenDisk(0, DiskAccess::kRead);
  std::uint8_t sector[512];
  ASSERT_TRUE((*held)->ReadAt(0, sector).ok());
  EXPECT_EQ(Info(0), 1);
  EXPECT_EQ(record_.connectionState, kNotSiliconImageHost);
  EXPECT_EQ(FieldUtf8(record_.hidPath), "sim:hid:tray");
}

TEST_F(Hardware, ReusedHidPathIsNotTakenForTheKnownPanel) {
  world_.Write(
      {{"disks", {PlainDisk(0)}}, {"hidPanels", {Hid("tray", 0, {{"path", "/dev/hidraw1"}})}}});
  ASSERT_EQ(Info(0), 1);
  ASSERT_EQ(FieldUtf8(record_.hidPath), "/dev/hidraw1");

  // Replugged: the panel came back as hidraw2, and a keyboard took hidraw1.
  world_.Write({{"disks", {PlainDisk(0)}},
                {"hidPanels",
                 {Hid("tray", 0, {{"path", "/dev/hidraw2"}}),
                  {{"name", "keyboard"},
                   {"path", "/dev/hidraw1"},
                   {"vendor", 0x046D},
                   {"product", 0xC31C}}}}});
  EXPECT_EQ(Info(0, "/dev/hidraw1"), 1);
  EXPECT_EQ(FieldUtf8(record_.hidPath), "/dev/hidraw2");
  EXPECT_EQ(record_.connectionState, kNotSiliconImageHost);
}

// Each late reply shifts every later answer by one unless the queue is emptied before a probe.
TEST_F(Hardware, LateRepliesAreNotTakenForTheNextAnswer) {
  world_.Write({{"disks", {PlainDisk(0)}},
                {"hidPanels", {Hid("tray", 0, {{"lateReplies", 2}, {"lateReplyMs", 600}})}}});
  auto hid = env_.OpenHid("sim:hid:tray");
  ASSERT_TRUE(hid.ok());
  EXPECT_EQ(TieHidPanel(env_, **hid, 0), TieOutcome::kTied);
}

TEST_F(Hardware, ForeignDisksGetNoVendorQuery) {
  const json identities[] = {json(nullptr), json{{"vendor", 0x0781}, {"product", 0x5567}},
                             json{{"vendor", 0x3E5B}, {"product", 0x1106}}};
  for (const json& usb : identities) {
    SCOPED_TRACE(usb.dump());
    json disk = PlainDisk(0);
    if (!usb.is_null()) disk["usb"] = usb;
    world_.Write({{"disks", {disk}}});
    env_.cdbs.clear();
    Info(0);
    for (std::uint8_t op : env_.Opcodes()) EXPECT_NE(op, 0x3C) << "READ BUFFER sent";
  }
}

TEST_F(Hardware, ScanOpensDisksReadOnly) {
  KUV_SKIP_WITHOUT_TESTDATA();
  world_.Write({{"disks", {PlainDisk(0, {{"transport", "platform"}, {"ata", AtaOf(kDump)}})}},
                {"hidPanels", {Hid("tray", 0)}}});
  ASSERT_EQ(Info(0), 1);
  ScopedEnvOverride use(*sim_);
  EXPECT_EQ(ReadSector0(0), 1);
  DriveRecord sizes{};
  EXPECT_EQ(GetSizeFromSector(0, &sizes), 1);
  auto counters = sim::ReadDiskCounters(world_.dir(), 0);
  ASSERT_TRUE(counters.ok());
  EXPECT_EQ(counters->changeEvents, 0u) << "udev would answer every close with a rescan";
  EXPECT_EQ(counters->openHandles, 0);
}

// The bridge takes the transfer length from the sector count, and some answer every command with
// the ATA registers in sense data.
TEST_F(Hardware, SmartOverStrictBridgesAndPlatform) {
  KUV_SKIP_WITHOUT_TESTDATA();
  const struct {
    const char* what;
    json disk;
  } cases[] = {
      {"platform", {{"transport", "platform"}}},
      {"bridge16", {{"transport", "bridge16"}}},
      {"bridge16 with status sense", {{"transport", "bridge16"}, {"ataStatusSense", true}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    json disk = PlainDisk(0, c.disk);
    disk["ata"] = AtaOf(kDump);
    world_.Write({{"disks", {disk}}});
    std::array<std::uint8_t, 512> data{}, thresholds{};
    SmartOutcome outcome =
        ReadSmart(*sim_, 0, {.thresholds = thresholds.data(), .data = data.data()});
    EXPECT_TRUE(outcome.capable) << outcome.why.ToString();
    EXPECT_TRUE(outcome.dataRead);
    EXPECT_TRUE(outcome.thresholdsRead) << outcome.why.ToString();
    EXPECT_EQ(thresholds, testing::ReadSector(testing::TestdataDrive(kDump) + "/thresholds.bin"));
  }
}

TEST_F(Hardware, HungMountDoesNotStallTheScan) {
  std::string fast = world_.Subdir("volumes/fast"), hung = world_.Subdir("volumes/hung");
  world_.Write({{"disks",
                 {PlainDisk(0, {{"volumes", {{{"dir", fast}}}}}),
                  PlainDisk(1, {{"volumes", {{{"dir", hung}, {"hangMs", 4000}}}}})}}});
  auto start = std::chrono::steady_clock::now();
  auto volumes = sim_->ListVolumes();
  auto first = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(volumes.ok());
  ASSERT_EQ(volumes->size(), 2u);
  EXPECT_GT((*volumes)[0].totalBytes, 0u);
  EXPECT_EQ((*volumes)[1].totalBytes, 0u) << "a hung mount has no sizes";
  EXPECT_LT(first, kVolumeQueryLimit + std::chrono::milliseconds(1500));

  // While the mount still hangs, the next drive's scan does not wait for it again.
  start = std::chrono::steady_clock::now();
  env_.volumeLists = env_.spaceQueries = 0;
  Info(0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
  EXPECT_EQ(env_.volumeLists, 1);
  EXPECT_EQ(env_.spaceQueries, 0) << "the listing's sizes serve the record";
  EXPECT_GT(record_.totalMB, 0u);
}

// A disk that takes the ATA command, as the pass-through sends it, and answers with a scripted
// reply; data bytes not covered by the transfer are left as the caller's buffer held them.
class ScriptedDisk final : public Disk {
 public:
  ScsiReply reply;
  std::size_t transferred = 512;
  std::vector<std::uint8_t> lastCdb;

  Result<ScsiReply> Scsi(const ScsiRequest& r) override {
    lastCdb.assign(r.cdb.begin(), r.cdb.end());
    for (std::size_t i = 0; i < std::min(transferred, r.data.size()); ++i)
      r.data[i] = static_cast<std::uint8_t>(i);
    return reply;
  }
  Status ReadAt(std::uint64_t, std::span<std::uint8_t>) override { return Status(EIO, "no"); }
  Result<std::uint64_t> SizeBytes() override { return Status(EIO, "no"); }
  Status CheckVerify() override { return {}; }
  Status AtaCommand(const AtaTaskFile& r, std::span<std::uint8_t> d) override {
    return AtaPassThroughCommand(*this, r, d);
  }
};

ScsiReply StatusReturn(std::uint8_t format, std::uint8_t key, std::uint8_t ascq,
                       std::uint8_t ataStatus) {
  ScsiReply r;
  r.scsiStatus = 0x02;
  r.driverStatus = 0x08;
  if (format == 0x72) {
    r.senseLength = 22;
    r.sense[0] = 0x72;
    r.sense[1] = key;
    r.sense[3] = ascq;
    r.sense[7] = 14;
    r.sense[8] = 0x09;
    r.sense[9] = 12;
    r.sense[21] = ataStatus;
  } else {
    r.senseLength = 18;
    r.sense[0] = 0x70;
    r.sense[2] = key;
    r.sense[4] = ataStatus;
    r.sense[7] = 10;
    r.sense[13] = ascq;
  }
  return r;
}

TEST(AtaPassThrough, RepliesThatCountAsCompleted) {
  ScsiReply noDescriptor = StatusReturn(0x72, 1, 0x1D, 0x50);
  noDescriptor.sense[8] = 0x00;
  ScsiReply hostFailed = StatusReturn(0x72, 1, 0x1D, 0x50);
  hostFailed.hostStatus = 0x07;
  const struct {
    const char* what;
    ScsiReply reply;
    bool ok;
  } cases[] = {
      {"GOOD", ScsiReply{}, true},
      {"descriptor, recovered error, ready", StatusReturn(0x72, 1, 0x1D, 0x50), true},
      {"descriptor, no sense, ready", StatusReturn(0x72, 0, 0x1D, 0x50), true},
      {"fixed format, ready", StatusReturn(0x70, 1, 0x1D, 0x50), true},
      {"ERR set", StatusReturn(0x72, 1, 0x1D, 0x51), false},
      {"DF set", StatusReturn(0x72, 1, 0x1D, 0x70), false},
      {"aborted command", StatusReturn(0x72, 0x0B, 0x00, 0x50), false},
      {"illegal request", StatusReturn(0x72, 0x05, 0x1D, 0x50), false},
      {"other ASCQ", StatusReturn(0x72, 1, 0x00, 0x50), false},
      {"no status descriptor", noDescriptor, false},
      {"transport failure", hostFailed, false},
  };
  for (const auto& c : cases) EXPECT_EQ(AtaPassThroughSucceeded(c.reply), c.ok) << c.what;
}

TEST(AtaPassThrough, ShortTransferLeavesTheCallersSectorAlone) {
  ScriptedDisk disk;
  disk.transferred = 200;
  disk.reply.residual = 312;
  std::array<std::uint8_t, 512> sector;
  sector.fill(0xAA);
  const AtaTaskFile identify{0, 1, 1, 0, 0, 0xA0, 0xEC};
  Status s = disk.AtaCommand(identify, sector);
  EXPECT_FALSE(s.ok());
  EXPECT_EQ(s.code(), EIO);
  EXPECT_EQ(sector[0], 0xAA);
  EXPECT_EQ(sector[511], 0xAA);

  disk.transferred = 512;
  disk.reply.residual = 0;
  ASSERT_TRUE(disk.AtaCommand(identify, sector).ok());
  EXPECT_EQ(sector[1], 1);
  EXPECT_EQ(sector[511], 255);
}

TEST(AtaPassThrough, DataInAlwaysCountsOneSector) {
  ScriptedDisk disk;
  std::array<std::uint8_t, 512> sector{};
  const AtaTaskFile thresholds{0xD1, 0, 0, 0x4F, 0xC2, 0xA0, 0xB0};
  ASSERT_TRUE(disk.AtaCommand(thresholds, sector).ok());
  ASSERT_EQ(disk.lastCdb.size(), 16u);
  EXPECT_EQ(disk.lastCdb[0], 0x85);
  EXPECT_EQ(disk.lastCdb[6], 1) << "sector count";
  EXPECT_EQ(disk.lastCdb[4], 0xD1);
  // A non-data command keeps its own count.
  ASSERT_TRUE(disk.AtaCommand({0xD8, 0, 0, 0x4F, 0xC2, 0xA0, 0xB0}, {}).ok());
  EXPECT_EQ(disk.lastCdb[6], 0);
  EXPECT_EQ(disk.lastCdb[1], 3 << 1);
}

// A GPT disk image: protective MBR, header in block 1 naming the entry array, one partition whose
// first block holds an XFS superblock of 1000 blocks of 4 KiB, 250 free.
std::vector<std::uint8_t> GptXfsImage(std::uint32_t block, std::uint64_t entryLba,
                                      std::uint64_t firstLba) {
  std::vector<std::uint8_t> image((firstLba + 1) * block, 0);
  image[450] = 0xEE;
  image[454] = 1;
  image[510] = 0x55;
  image[511] = 0xAA;
  std::memcpy(&image[block], "EFI PART", 8);
  for (int i = 0; i < 8; ++i) {
    image[block + 72 + i] = static_cast<std::uint8_t>(entryLba >> (8 * i));
    image[entryLba * block + 32 + i] = static_cast<std::uint8_t>(firstLba >> (8 * i));
  }
  image[entryLba * block] = 0xAF;  // not the reserved partition
  std::uint8_t* sb = &image[firstLba * block];
  std::memcpy(sb, "XFSB", 4);
  sb[6] = 0x10;   // block size 4096, big-endian
  sb[14] = 0x03;  // 1000 blocks
  sb[15] = 0xE8;
  sb[151] = 250;  // free blocks
  return image;
}

TEST(SectorReader, FollowsTheDisksBlockSizeAndTheGptHeader) {
  const struct {
    std::uint32_t block;
    std::uint64_t entryLba, firstLba;
  } cases[] = {{512, 2, 2048}, {512, 40, 2048}, {4096, 2, 256}, {4096, 6, 256}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.block) + " entries at " + std::to_string(c.entryLba));
    std::vector<std::uint8_t> image = GptXfsImage(c.block, c.entryLba, c.firstLba);
    ReadAt readAt = [&](std::uint64_t at, std::span<std::uint8_t> out) {
      if (at > image.size() || out.size() > image.size() - at) return false;
      std::memcpy(out.data(), image.data() + at, out.size());
      return true;
    };
    SectorSizes sizes = ReadSectorSizes(readAt, c.block);
    EXPECT_EQ(sizes.answer, 1);
    EXPECT_EQ(sizes.fileSystemType, kFsXfs);
    EXPECT_EQ(sizes.totalSectors, 1000u);
    EXPECT_EQ(sizes.freeSectors, 250u);
  }
}

TEST_F(Hardware, FourKnDiskThroughTheExport) {
  std::vector<std::uint8_t> image = GptXfsImage(4096, 2, 256);
  std::string path = world_.Image("4kn.img", 64 << 20, {{0, image}});
  world_.Write(
      {{"disks",
        {PlainDisk(0, {{"image", path}, {"logicalBlockBytes", 4096}, {"sizeBytes", 64 << 20}})}}});
  ScopedEnvOverride use(*sim_);
  DriveRecord r{};
  ASSERT_EQ(GetSizeFromSector(0, &r), 1);
  EXPECT_EQ(r.fileSystemType, kFsXfs);
  EXPECT_EQ(r.totalSectors, 1000u);
  EXPECT_EQ(r.freeSectors, 250u);
}

}  // namespace
}  // namespace kuv
