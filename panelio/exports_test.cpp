// The transfer, filter, disk and file exports, end to end on the simulator (and on a recording
// environment where the exact command bytes matter).

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>

#include "common/picture_io.h"
#include "common/utf16.h"
#include "panelio/env_test_support.h"
#include "panelio/panelio.h"
#include "panelio/sata_filter.h"
#include "panelio/sim/sample_world.h"
#include "panelio/sim/sim_env.h"
#include "panelio/sim/sim_state.h"
#include "panelio/upper_filters.h"

namespace kuv {
namespace {

using devtest::TempDir;
using nlohmann::json;

std::vector<std::uint8_t> TestRaster() {
  std::vector<std::uint8_t> raster(1152);
  for (std::size_t i = 0; i < raster.size(); ++i) raster[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return raster;
}

// Records every SCSI command sent to drive 1; the disk accepts them all.
class RecordingEnv : public devtest::NullEnv {
 public:
  struct Command {
    std::vector<std::uint8_t> cdb;
    DataDirection direction;
    std::vector<std::uint8_t> data;
  };
  std::vector<Command> commands;
  std::vector<int> opened;

  Result<std::unique_ptr<Disk>> OpenDisk(int drive, DiskAccess) override {
    opened.push_back(drive);
    if (drive != 1) return Status(ENXIO, "no such drive here");
    return std::unique_ptr<Disk>(std::make_unique<RecordingDisk>(*this));
  }

 private:
  class RecordingDisk : public Disk {
   public:
    explicit RecordingDisk(RecordingEnv& env) : env_(env) {}
    Result<ScsiReply> Scsi(const ScsiRequest& r) override {
      env_.commands.push_back(
          {{r.cdb.begin(), r.cdb.end()}, r.direction, {r.data.begin(), r.data.end()}});
      EXPECT_EQ(r.timeoutSeconds, 120u);
      return ScsiReply{};
    }
    Status ReadAt(std::uint64_t, std::span<std::uint8_t>) override { return Status(EIO, ""); }
    Result<std::uint64_t> SizeBytes() override { return Status(EIO, ""); }
    Status CheckVerify() override { return {}; }
    Status AtaCommand(const AtaTaskFile&, std::span<std::uint8_t>) override {
      return Status(EIO, "");
    }

   private:
    RecordingEnv& env_;
  };
};

TEST(LineTransfer, EachRecordGoesWithItsIndex) {
  RecordingEnv env;
  ScopedEnvOverride use(env);
  std::vector<std::uint8_t> slots = devtest::LineSlots(TestRaster());
  ASSERT_EQ(LcdSendLineData(0x301, slots.data()), kPanelOk);  // only the low byte counts
  EXPECT_EQ(env.opened, std::vector<int>{1});
  ASSERT_EQ(env.commands.size(), 96u);
  for (int i = 0; i < 96; ++i) {
    const auto& c = env.commands[static_cast<std::size_t>(i)];
    std::vector<std::uint8_t> cdb = {0x3B, 0x01, 0xE3, 0x40, 0x00, static_cast<std::uint8_t>(i),
                                     0,    0,    0,    0};
    EXPECT_EQ(c.cdb, cdb) << i;
    EXPECT_EQ(c.direction, DataDirection::kOut);
    EXPECT_TRUE(std::equal(c.data.begin(), c.data.end(), slots.begin() + i * 64)) << i;
    EXPECT_EQ(c.data.size(), 64u);
  }
  EXPECT_EQ(env.commands[0].data[3], 0x80);
  EXPECT_EQ(env.commands[95].data[3], 0x06);

  env.commands.clear();
  ASSERT_EQ(StopLcdTimer(1), kPanelOk);
  ASSERT_EQ(env.commands.size(), 1u);
  std::vector<std::uint8_t> stop(16, 0);
  stop[0] = 0x3B;
  stop[1] = 0x01;
  stop[2] = 0xE7;
  EXPECT_EQ(env.commands[0].cdb, stop);
  EXPECT_EQ(env.commands[0].data, std::vector<std::uint8_t>(8, 0));
}

TEST(LineTransfer, BadArgumentsAndMissingDrives) {
  RecordingEnv env;
  ScopedEnvOverride use(env);
  EXPECT_EQ(LcdSendLineData(1, nullptr), kPanelBadHandle);
  EXPECT_TRUE(env.opened.empty());
  std::vector<std::uint8_t> slots = devtest::LineSlots(TestRaster());
  errno = 0;
  EXPECT_EQ(LcdSendLineData(2, slots.data()), kPanelDriveNotOpened);
  EXPECT_EQ(errno, ENXIO);  // the service reports the open's own reason
  EXPECT_EQ(StopLcdTimer(2), kPanelStopRefused);
  EXPECT_EQ(errno, ENXIO);
}

class ExportWorld : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim::WriteSampleWorld(dir_.path(), {.sleepScale = 0}).ok());
    env_ = NewSimEnv(dir_.path());
    use_.emplace(*env_);
  }
  sim::PanelMemory Panel(const std::string& name) {
    auto memory = sim::ReadPanel(dir_.path(), name);
    EXPECT_TRUE(memory.ok());
    return memory.ok() ? *memory : sim::PanelMemory{};
  }
  static std::vector<int> Received(const sim::PanelMemory& m) {
    std::vector<int> lines;
    for (int i = 0; i < 96; ++i)
      if (m.received[static_cast<std::size_t>(i)]) lines.push_back(i);
    return lines;
  }
  static std::vector<int> Range(int n) {
    std::vector<int> lines(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) lines[static_cast<std::size_t>(i)] = i;
    return lines;
  }
  void AddFault(sim::Fault fault) { ASSERT_TRUE(sim::AddFault(dir_.path(), fault).ok()); }
  std::string Path(const std::string& rel) { return dir_.path() + "/" + rel; }

  TempDir dir_;
  std::unique_ptr<DeviceEnv> env_;
  std::optional<ScopedEnvOverride> use_;
};

TEST_F(ExportWorld, PictureReachesTheBridgePanelAndItsSnapshot) {
  std::vector<std::uint8_t> raster = TestRaster();
  std::vector<std::uint8_t> slots = devtest::LineSlots(raster);
  ASSERT_EQ(LcdSendLineData(1, slots.data()), kPanelOk);
  sim::PanelMemory m = Panel("bridge1");
  EXPECT_EQ(m.pictures, 1u);
  EXPECT_EQ(m.linesReceived, 96u);
  EXPECT_TRUE(std::equal(raster.begin(), raster.end(), m.raster.begin()));

  PictureResult pbm = ReadPictureFile(Path("state/panels/bridge1.pbm"));
  PictureResult png = ReadPictureFile(Path("state/panels/bridge1.png"));
  ASSERT_TRUE(pbm) << pbm.error;
  ASSERT_TRUE(png) << png.error;
  EXPECT_EQ(png.picture->width, 96 * 4);
  auto back = PanelRasterOfPicture(*pbm.picture);
  ASSERT_TRUE(back);
  EXPECT_TRUE(std::equal(raster.begin(), raster.end(), back->begin()));

  EXPECT_EQ(StopLcdTimer(1), kPanelOk);
  EXPECT_EQ(Panel("bridge1").stops, 1u);
  EXPECT_EQ(StopLcdTimer(2), kPanelStopRefused);  // no bridge panel on the tray drive
  EXPECT_EQ(LcdSendLineData(2, slots.data()), kPanelLineRefused);
}

// A picture goes to the panel every minute: closing a disk opened for writing would make udev
// probe it again, and read its partition table again when no partition is mounted, which the
// program counts as a device change and answers with a full rescan.
TEST_F(ExportWorld, PicturesAndStopsCauseNoUdevEvents) {
  std::filesystem::remove(Path("volumes/data"));  // drive 5's only partition, not mounted now
  std::vector<std::uint8_t> slots = devtest::LineSlots(TestRaster());
  for (int drive : {1, 4, 5}) {  // mounted, without partitions, with one not mounted
    SCOPED_TRACE(drive);
    ASSERT_EQ(LcdSendLineData(drive, slots.data()), kPanelOk);
    ASSERT_EQ(StopLcdTimer(drive), kPanelOk);
    auto counters = sim::ReadDiskCounters(dir_.path(), drive);
    ASSERT_TRUE(counters.ok()) << counters.status().ToString();
    EXPECT_EQ(counters->changeEvents, 0u);
    EXPECT_EQ(counters->partitionEvents, 0u);
  }
}

TEST_F(ExportWorld, RefusedLineEndsThePicture) {
  AddFault({.target = "disk:1", .kind = sim::Fault::Kind::kRefuseLine, .line = 50});
  std::vector<std::uint8_t> slots = devtest::LineSlots(TestRaster());
  errno = 0;
  EXPECT_EQ(LcdSendLineData(1, slots.data()), kPanelLineRefused);
  EXPECT_EQ(errno, EIO);
  sim::PanelMemory m = Panel("bridge1");
  EXPECT_EQ(Received(m), Range(50));
  EXPECT_EQ(m.lastLine, 49);
  EXPECT_EQ(m.pictures, 0u);
  EXPECT_FALSE(std::filesystem::exists(Path("state/panels/bridge1.png")));
}

TEST_F(ExportWorld, UnpluggedMidPictureIsARefusedLineNotAHang) {
  AddFault({.target = "disk:1", .kind = sim::Fault::Kind::kUnplug, .afterCommands = 30});
  std::vector<std::uint8_t> slots = devtest::LineSlots(TestRaster());
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(LcdSendLineData(1, slots.data()), kPanelLineRefused);
  EXPECT_EQ(errno, ENODEV);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(Received(Panel("bridge1")), Range(30));
  EXPECT_EQ(LcdSendLineData(1, slots.data()), kPanelDriveNotOpened);
  EXPECT_EQ(errno, ENOENT);
}

// The sample world plus three Silicon Image adapters and one of another vendor, each with a disk.
class FilterWorld : public ExportWorld {
 protected:
  void SetUp() override {
    ExportWorld::SetUp();
    json world = json::parse(devtest::ReadAll(Path("world.json")));
    auto adapter = [](const char* id, const char* hardwareId, json filters) {
      json a = {
          {"id", id}, {"hardwareIds", {hardwareId}}, {"pdoName", std::string("\\Device\\") + id}};
      if (!filters.is_null()) a["upperFilters"] = filters;
      return a;
    };
    world["adapters"] = {
        adapter("three", "PCI\\VEN_1095&DEV_3132&SUBSYS_71321095&REV_01",
                {"PartMgr", "KuvSATAFil", "EhStorClass"}),
        adapter("none", "pci\\ven_1095&dev_3124", nullptr),
        adapter("other", "PCI\\VEN_1095&DEV_3512&REV_01", {"PartMgr"}),
        adapter("intel", "PCI\\VEN_8086&DEV_2922", {"PartMgr"}),
    };
    world["disks"] = {{{"number", 0}, {"adapter", "three"}, {"sizeBytes", 1 << 20}},
                      {{"number", 1}, {"adapter", "none"}, {"sizeBytes", 1 << 20}},
                      {{"number", 2}, {"adapter", "other"}, {"sizeBytes", 1 << 20}},
                      {{"number", 3}, {"adapter", "intel"}, {"sizeBytes", 1 << 20}},
                      {{"number", 4}, {"sizeBytes", 1 << 20}}};
    world["hidPanels"] = json::array();
    devtest::WriteWorld(dir_.path(), world);
  }

  std::optional<std::vector<std::u16string>> List(const char* id) {
    auto list = env_->ReadUpperFilters(id);
    EXPECT_TRUE(list.ok());
    if (!list.ok() || !*list) return std::nullopt;
    return ParseMultiString(**list);
  }
  std::vector<std::uint32_t> States() {
    std::vector<std::uint32_t> s;
    for (std::uint32_t d = 0; d < 6; ++d) s.push_back(DoesExistSATAFilter(d));
    return s;
  }
};

TEST_F(FilterWorld, AddsOnceRemovesKeepingOrderCreatesWhenMissing) {
  using L = std::vector<std::u16string>;
  EXPECT_EQ(States(), (std::vector<std::uint32_t>{5, 6, 6, 4, 4, 4}));

  EXPECT_EQ(ModifyFilterSilHost(1), 1);
  EXPECT_EQ(List("three"), (L{u"PartMgr", u"KuvSATAFil", u"EhStorClass"}));  // already there
  EXPECT_EQ(List("none"), (L{u"KuvSATAFil"}));
  auto created = env_->ReadUpperFilters("none");
  EXPECT_EQ(created->value().size(), kSataFilterEntryBytes + 2);
  EXPECT_EQ(List("other"), (L{u"KuvSATAFil", u"PartMgr"}));
  EXPECT_EQ(List("intel"), (L{u"PartMgr"}));
  EXPECT_EQ(States(), (std::vector<std::uint32_t>{5, 5, 5, 4, 4, 4}));

  EXPECT_EQ(ModifyFilterSilHost(1), 0);  // nothing left to write
  EXPECT_EQ(AddFilterSilHost(), 0);
  EXPECT_EQ(List("other"), (L{u"KuvSATAFil", u"PartMgr"}));

  EXPECT_EQ(ModifyFilterSilHost(0), 1);
  EXPECT_EQ(List("three"), (L{u"PartMgr", u"EhStorClass"}));
  EXPECT_EQ(List("other"), (L{u"PartMgr"}));
  EXPECT_EQ(States(), (std::vector<std::uint32_t>{6, 6, 6, 4, 4, 4}));
  EXPECT_EQ(ModifyFilterSilHost(0), 0);

  // The lists live in state/, so another process on the world sees them.
  auto other = NewSimEnv(dir_.path());
  EXPECT_EQ(ParseMultiString(**other->ReadUpperFilters("three")), (L{u"PartMgr", u"EhStorClass"}));
}

TEST_F(FilterWorld, FailedWriteSparesTheOthers) {
  AddFault({.target = "adapter:none", .kind = sim::Fault::Kind::kFailOpen});
  errno = 0;
  EXPECT_EQ(ModifyFilterSilHost(1), 1);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(List("none"), std::nullopt);
  EXPECT_EQ(List("other")->front(), u"KuvSATAFil");
}

TEST_F(FilterWorld, PortOfTheDrivesAdapter) {
  SataFilterInfo on = SataFilterOfDrive(*env_, 0, true);
  EXPECT_EQ(on.state, 5);
  EXPECT_EQ(on.portPath, "sim:port:three");
  EXPECT_EQ(SataFilterOfDrive(*env_, 0, false).portPath, std::nullopt);
  SataFilterInfo off = SataFilterOfDrive(*env_, 3, true);
  EXPECT_EQ(off.state, 4);
  EXPECT_EQ(off.portPath, std::nullopt);
}

TEST_F(ExportWorld, SizesFromTheDrivesOwnSectors) {
  DriveRecord record;
  std::memset(static_cast<void*>(&record), 0xFF, sizeof record);
  ASSERT_EQ(GetSizeFromSector(3, &record), 1);
  EXPECT_EQ(record.driveNumber, 3);
  EXPECT_EQ(record.fileSystemType, kFsXfs);
  EXPECT_EQ(record.totalSectors, 488378390u);  // 4 KiB blocks of a 2 TB disk
  EXPECT_EQ(record.freeSectors, 171000000u);
  EXPECT_EQ(record.connectionState, 0);
  EXPECT_EQ(record.health, 0);  // cleared

  ASSERT_EQ(GetSizeFromSector(2, &record), 1);
  EXPECT_EQ(record.fileSystemType, kFsFat32);
  ASSERT_EQ(GetSizeFromSector(1, &record), 1);
  EXPECT_EQ(record.fileSystemType, kFsUnknown);  // NTFS: the volume has the sizes

  std::memset(static_cast<void*>(&record), 0xFF, sizeof record);
  EXPECT_EQ(GetSizeFromSector(29, &record), 0);
  EXPECT_EQ(record.driveNumber, 29);
  EXPECT_EQ(record.totalSectors, 0u);
  EXPECT_EQ(GetSizeFromSector(1, nullptr), 0);
}

TEST_F(ExportWorld, ReadSector0MakesTheTrayPanelReport) {
  auto hid = env_->OpenHid(sim::SampleTrayPath(1));
  ASSERT_TRUE(hid.ok());
  auto probe = [&] {
    std::array<std::uint8_t, 65> report{}, reply{};
    report[1] = 0x41;
    EXPECT_TRUE((*hid)->Write(report).ok());
    EXPECT_EQ(*(*hid)->Read(reply, 100), 65u);
    return reply[2];
  };
  EXPECT_EQ(probe(), 0x60);
  EXPECT_NE(ReadSector0(2), 0);
  EXPECT_EQ(probe(), 0xE0);
  EXPECT_EQ(ReadSector0(29), 0);
  EXPECT_EQ(ReadSector0(0xFFFFFFFFu), 0);
}

TEST_F(ExportWorld, FileHelpers) {
  std::string folder = Path("volumes/BACKUP/TAVIO_LCDMANAGER");
  std::u16string wfolder = Utf8ToUtf16(folder);
  EXPECT_NE(LcdCreateDirectory(wfolder.c_str()), 0);
  EXPECT_TRUE(*env_->IsHidden(folder));
  errno = 0;
  EXPECT_EQ(LcdCreateDirectory(wfolder.c_str()), 0);
  EXPECT_EQ(errno, EEXIST);

  // A folder the user made is left as it is, not hidden behind their back.
  std::string mine = Path("volumes/BACKUP/mine");
  std::filesystem::create_directory(mine);
  EXPECT_EQ(LcdCreateDirectory(Utf8ToUtf16(mine).c_str()), 0);
  EXPECT_FALSE(*env_->IsHidden(mine));

  std::u16string file = Utf8ToUtf16(folder + "/LCD_DATA.TXT");
  const std::uint8_t data[] = {'[', 'A', ']', '\n'};
  EXPECT_NE(LcdWriteFile(file.c_str(), data, sizeof data), 0);
  EXPECT_NE(LcdWriteFile(file.c_str(), data, sizeof data), 0);
  EXPECT_EQ(devtest::ReadAll(folder + "/LCD_DATA.TXT"), "[A]\n[A]\n");
  EXPECT_EQ(LcdWriteFile(file.c_str(), nullptr, 4), 0);
  EXPECT_EQ(LcdWriteFile(nullptr, data, 4), 0);
  EXPECT_EQ(LcdWriteFile(u"/etc/kuvlcd-test", data, 4), 0);  // outside the simulated world
  EXPECT_EQ(errno, EACCES);

  EXPECT_EQ(LcdDeleteFile(file.c_str()), 1);
  EXPECT_EQ(LcdDeleteFile(file.c_str()), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(static_cast<std::uint32_t>(LcdDeleteFile(nullptr)), kPanelBadHandle);
  EXPECT_EQ(LcdCreateDirectory(nullptr), 0);
}

TEST_F(ExportWorld, SetAutorunLooksAtTheLowByteOnly) {
  const struct {
    std::int32_t on;
    bool registered;
  } cases[] = {{0x0101, true}, {2, false}, {1, true}, {0x0100, false}, {-255, true}, {0, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(SetAutorun(c.on), 0) << c.on;
    EXPECT_EQ(*env_->AutostartRegistered(), c.registered) << c.on;
  }
}

}  // namespace
}  // namespace kuv
