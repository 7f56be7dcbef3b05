#include "panelio/discovery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "common/health.h"
#include "common/utf16.h"
#include "panelio/file_io.h"
#include "panelio/panelio.h"
#include "panelio/sim/sample_world.h"
#include "panelio/smart.h"
#include "panelio/smart_test_support.h"

namespace kuv {
namespace {

// A folder as the volume listing spells its mount point: "C:\x\vol" on Windows.
std::string MountPointSpelling(const std::string& folder) {
  const std::u8string text = PathOfUtf8(folder).make_preferred().u8string();
  return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

using nlohmann::json;
using testing::AtaOf;
using testing::ReadSector;
using testing::TempWorld;
using testing::TestdataDrive;
using testing::WatchingEnv;

constexpr const char* kDump = "SAMSUNG_HD501LJ--CR100-12";

json DiskJson(int number, json extra = json::object()) {
  json d = {{"number", number},
            {"sizeBytes", 64 << 20},
            {"transport", "bridge16"},
            {"ata", AtaOf(kDump)}};
  d.update(extra);
  return d;
}

json HidJson(const std::string& name, int disk) {
  return {{"name", name}, {"disk", disk}};
}

std::vector<std::uint8_t> Mbr(std::uint8_t type, std::uint32_t start) {
  std::vector<std::uint8_t> s(512);
  s[450] = type;
  for (int i = 0; i < 4; ++i) s[454 + i] = static_cast<std::uint8_t>(start >> (8 * i));
  s[510] = 0x55;
  s[511] = 0xAA;
  return s;
}

class Discovery : public ::testing::Test {
 protected:
  void SetUp() override { KUV_SKIP_WITHOUT_TESTDATA(); }

  // GetLcdInfo on the world, with hidPath preset.
  std::int32_t Info(int drive, const std::string& hidPath = "") {
    record_ = DriveRecord{};
    SetField(record_.hidPath, hidPath);
    return FillLcdInfo(env_, drive, &record_);
  }
  std::string Field(const char16_t (&f)[260]) const { return FieldUtf8(f); }

  TempWorld world_;
  std::unique_ptr<DeviceEnv> sim_ = NewSimEnv(world_.dir());
  WatchingEnv env_{*sim_};
  DriveRecord record_{};
};

TEST_F(Discovery, BridgeRecognition) {
  struct Case {
    const char* what;
    json usb;
    json panel;
    std::int32_t found, connectionState, panelModel;
    std::uint16_t panelState;
  } cases[] = {
      {"state 0x00", {{"vendor", 0x3E5B}, {"product", 0x1101}}, {{"state", 0x00}}, 1, 1, 1, 1},
      {"state 0x05", {{"vendor", 0x3E5B}, {"product", 0x1103}}, {{"state", 0x05}}, 1, 2, 1, 1},
      {"state 0x01", {{"vendor", 0x3E5B}, {"product", 0x1104}}, {{"state", 0x01}}, 1, 3, 2, 1},
      {"behind a TVQ1CR node",
       {{"vendor", 0x3E5B}, {"product", 0x1105}, {"intermediatePrefix", "TVQ1CR\\"}},
       {{"state", 0x00}},
       1,
       1,
       3,
       1},
      {"other product", {{"vendor", 0x3E5B}, {"product", 0x1234}}, {{"state", 0x00}}, 1, 1, 4, 1},
      // A bridge whose panel does not report itself: not found, and no HID panel is probed.
      {"panel word 0x0100",
       {{"vendor", 0x3E5B}, {"product", 0x1101}},
       {{"state", 0x05}, {"panelWord", 0x0100}},
       0,
       2,
       0,
       0x0100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    world_.Write({{"disks", {DiskJson(0, {{"usb", c.usb}, {"bridgePanel", c.panel}})}},
                  {"hidPanels", {HidJson("tray", 0)}}});
    env_.hidOpens = 0;
    EXPECT_EQ(Info(0), c.found);
    EXPECT_EQ(record_.connectionState, c.connectionState);
    EXPECT_EQ(record_.panelModel, c.panelModel);
    EXPECT_EQ(record_.panelState, c.panelState);
    EXPECT_EQ(env_.hidOpens, 0);
    EXPECT_EQ(Field(record_.hidPath), "");
  }
}

TEST_F(Discovery, NotABridgeSearchesHid) {
  struct Case {
    const char* what;
    json usb;
    std::string idText;
  } cases[] = {
      {"product 0x1106", {{"vendor", 0x3E5B}, {"product", 0x1106}}, "MB86C311"},
      {"other vendor", {{"vendor", 0x152D}, {"product", 0x1101}}, "MB86C311"},
      {"other id text", {{"vendor", 0x3E5B}, {"product", 0x1101}}, "JMS578  "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    world_.Write(
        {{"disks", {DiskJson(0, {{"usb", c.usb}, {"bridgePanel", {{"idText", c.idText}}}})}},
         {"hidPanels", {HidJson("tray", 0)}}});
    EXPECT_EQ(Info(0), 1);
    EXPECT_EQ(record_.panelModel, 0);
    EXPECT_EQ(record_.connectionState, kNotSiliconImageHost);
    EXPECT_EQ(Field(record_.hidPath), "sim:hid:tray");
  }
}

TEST_F(Discovery, TiedPanelTakesTheFilterState) {
  struct Case {
    json adapters;
    std::int32_t state;
  } cases[] = {
      {json::array({{{"id", "ahci"}, {"hardwareIds", {"PCI\\VEN_8086&DEV_2922"}}}}), 4},
      {json::array({{{"id", "ahci"},
                     {"hardwareIds", {"pci\\VEN_1095&DEV_3124&SUBSYS_1"}},
                     {"upperFilters", {"Other", "KuvSATAFil"}}}}),
       5},
      {json::array({{{"id", "ahci"}, {"hardwareIds", {"PCI\\VEN_1095&DEV_3512"}}}}), 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    world_.Write({{"disks", {DiskJson(0, {{"adapter", "ahci"}, {"transport", "platform"}})}},
                  {"hidPanels", {HidJson("tray", 0)}},
                  {"adapters", c.adapters}});
    EXPECT_EQ(Info(0), 1);
    EXPECT_EQ(record_.connectionState, c.state);
    EXPECT_EQ(Field(record_.hidPath), "sim:hid:tray");
  }
}

TEST_F(Discovery, KnownPathNeedsNoProbe) {
  // Another drive's panel is listed first, so the first scan probes it in vain.
  world_.Write({{"disks", {DiskJson(0), DiskJson(1)}},
                {"hidPanels", {HidJson("other", 1), HidJson("tray", 0)}}});
  ASSERT_EQ(Info(0), 1);
  ASSERT_EQ(Field(record_.hidPath), "sim:hid:tray");
  EXPECT_GT(env_.hidWrites, 0);

  env_.hidOpens = env_.hidWrites = 0;
  EXPECT_EQ(Info(0, "sim:hid:tray"), 1);
  EXPECT_EQ(env_.hidOpens, 0);
  EXPECT_EQ(env_.hidWrites, 0);
  EXPECT_EQ(Field(record_.hidPath), "sim:hid:tray");
  EXPECT_EQ(record_.connectionState, kNotSiliconImageHost);
}

TEST_F(Discovery, PanelsOfOtherDrivesAndNone) {
  world_.Write(
      {{"disks", {DiskJson(0), DiskJson(1), DiskJson(2)}}, {"hidPanels", {HidJson("tray", 1)}}});
  EXPECT_EQ(Info(0), 1);  // a panel answered that is not this drive's
  EXPECT_EQ(record_.connectionState, kHidUntied);
  EXPECT_EQ(Field(record_.hidPath), "");
  EXPECT_EQ(Info(1), 1);
  EXPECT_EQ(Field(record_.hidPath), "sim:hid:tray");

  world_.Write({{"disks", {DiskJson(0)}}});
  EXPECT_EQ(Info(0), 0);
  EXPECT_EQ(record_.connectionState, kNoPanel);
  // Health and temperature are filled even without a panel.
  auto data = ReadSector(TestdataDrive(kDump) + "/data.bin");
  auto thresholds = ReadSector(TestdataDrive(kDump) + "/thresholds.bin");
  EXPECT_EQ(record_.health, DriveHealth(data, thresholds));
  EXPECT_EQ(record_.temperature, DriveTemperature(data));
  EXPECT_GT(record_.temperature, 0);
}

// A panel controller played by the test: its status is computed from what the drive went through
// since the previous probe.
class ScriptedHid final : public HidDevice {
 public:
  using Rule = std::function<std::optional<std::uint8_t>(int exchange)>;
  ScriptedHid(Rule rule, int* maxTimeout) : rule_(std::move(rule)), maxTimeout_(maxTimeout) {}

  Status Write(std::span<const std::uint8_t, 65> report) override {
    if (report[1] == kProbeCommand) {
      ++exchange_;
      asked_ = true;
    }
    return {};
  }
  // One reply per probe, as the controller gives it.
  Result<std::size_t> Read(std::span<std::uint8_t, 65> report, int timeoutMs) override {
    *maxTimeout_ = std::max(*maxTimeout_, timeoutMs);
    if (!std::exchange(asked_, false)) return std::size_t{0};
    std::optional<std::uint8_t> status = rule_(exchange_);
    if (!status) return std::size_t{0};                  // silent until the time-out
    if (*status == 0xFF) return Status(ENODEV, "gone");  // unplugged
    std::fill(report.begin(), report.end(), 0);
    report[1] = kProbeCommand;
    report[2] = *status;
    return report.size();
  }

 private:
  Rule rule_;
  int* maxTimeout_;
  int exchange_ = 0;
  bool asked_ = false;
};

TEST_F(Discovery, TieProcedureRules) {
  world_.Write(
      {{"disks", {DiskJson(0, {{"transport", "platform"}})}}, {"hidPanels", {HidJson("tray", 0)}}});
  auto isIdentify = [](const std::vector<std::uint8_t>& cdb) {
    return (cdb[0] == 0xA1 && cdb[9] == 0xEC) || (cdb[0] == 0x85 && cdb[14] == 0xEC);
  };
  std::size_t seenCdbs = 0;
  // 0xE0 only once IDENTIFY went to the drive since the last probe: the second chance.
  auto afterIdentify = [&](int) -> std::optional<std::uint8_t> {
    bool identified = false;
    for (; seenCdbs < env_.cdbs.size(); ++seenCdbs) identified |= isIdentify(env_.cdbs[seenCdbs]);
    return identified ? 0xE0 : 0x60;
  };
  struct Case {
    const char* what;
    ScriptedHid::Rule rule;
    std::int32_t found, connectionState;
    std::size_t sleeps;
  } cases[] = {
      {"flag after IDENTIFY", afterIdentify, 1, kNotSiliconImageHost, 0},
      // Five failed attempts: a pause between each two, none after the last.
      {"flag that never clears", [](int) { return std::optional<std::uint8_t>(0xE0); }, 1,
       kHidUntied, 4},
      {"no controller bits", [](int) { return std::optional<std::uint8_t>(0x00); }, 0, kNoPanel, 4},
      {"stops answering mid-tie",
       [](int n) { return n <= 3 ? std::optional<std::uint8_t>(0x60) : std::nullopt; }, 1,
       kHidUntied, 4},
      {"unplugged mid-tie", [](int n) { return std::optional<std::uint8_t>(n <= 3 ? 0x60 : 0xFF); },
       1, kHidUntied, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int maxTimeout = 0;
    env_.hidOverride = [&](const std::string&) -> Result<std::unique_ptr<HidDevice>> {
      return std::unique_ptr<HidDevice>(std::make_unique<ScriptedHid>(c.rule, &maxTimeout));
    };
    env_.sleeps.clear();
    seenCdbs = env_.cdbs.size();
    EXPECT_EQ(Info(0), c.found);
    EXPECT_EQ(record_.connectionState, c.connectionState);
    EXPECT_EQ(env_.sleeps.size(), c.sleeps);
    EXPECT_LE(maxTimeout, kProbeReplyTimeoutMs);
    EXPECT_GT(maxTimeout, 0);
  }
}

// Every panel still gets its five attempts against a drive it does not belong to, but the
// panels take them in turn and share the pauses between the rounds.
TEST_F(Discovery, PanelsOfOtherDrivesShareThePauses) {
  const struct {
    int panels;
    std::size_t pauses;
  } cases[] = {{0, 0}, {1, 4}, {3, 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.panels);
    json disks = {DiskJson(0)}, hids = json::array();
    for (int p = 1; p <= c.panels; ++p) {
      disks.push_back(DiskJson(p));
      hids.push_back(HidJson("tray" + std::to_string(p), p));
    }
    world_.Write({{"disks", disks}, {"hidPanels", hids}});
    env_.sleeps.clear();
    env_.hidOpens = env_.hidWrites = 0;
    EXPECT_EQ(Info(0), c.panels > 0 ? 1 : 0);
    EXPECT_EQ(record_.connectionState, c.panels > 0 ? kHidUntied : kNoPanel);
    EXPECT_EQ(env_.sleeps.size(), c.pauses);
    EXPECT_EQ(env_.hidOpens, c.panels);
    // Per attempt: two probes, a read, a probe, IDENTIFY, a probe that still shows no read.
    EXPECT_EQ(env_.hidWrites, c.panels * kTieAttempts * 4);
  }
}

// What the service tells from the scan so far: a panel tied to another drive is not opened for
// this one, and counts as a panel that answered (connectionState 8), as probing it would find.
TEST_F(Discovery, PanelsTiedElsewhereInTheScanAreNotProbed) {
  world_.Write({{"disks", {DiskJson(0), DiskJson(1), DiskJson(2)}},
                {"hidPanels", {HidJson("one", 1), HidJson("two", 2)}}});
  const std::string one = "sim:hid:one", two = "sim:hid:two";
  const struct {
    const char* what;
    std::vector<std::string> elsewhere;
    int drive;
    std::int32_t found, connectionState;
    int opens;
    std::string hidPath;
  } cases[] = {
      {"both elsewhere", {one, two}, 0, 1, kHidUntied, 0, ""},
      {"one elsewhere", {one}, 0, 1, kHidUntied, 1, ""},
      {"the other one ties", {one}, 2, 1, kNotSiliconImageHost, 1, two},
      {"a path no longer listed", {"sim:hid:gone"}, 1, 1, kNotSiliconImageHost, 2, one},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    env_.sleeps.clear();
    env_.hidOpens = 0;
    record_ = DriveRecord{};
    EXPECT_EQ(FillLcdInfo(env_, c.drive, &record_, c.elsewhere), c.found);
    EXPECT_EQ(record_.connectionState, c.connectionState);
    EXPECT_EQ(env_.hidOpens, c.opens);
    EXPECT_EQ(Field(record_.hidPath), c.hidPath);
  }
  world_.Write({{"disks", {DiskJson(0)}}});
  record_ = DriveRecord{};
  EXPECT_EQ(FillLcdInfo(env_, 0, &record_, std::vector<std::string>{one}), 0)
      << "a path that is not listed is no panel at all";
  EXPECT_EQ(record_.connectionState, kNoPanel);
}

// hidapi lists an interface once per top-level collection: a panel with two is still one panel,
// counted once and probed once per attempt.
TEST_F(Discovery, APanelListedOncePerCollectionIsOnePanel) {
  world_.Write({{"disks", {DiskJson(0), DiskJson(1)}},
                {"hidPanels", {{{"name", "tray"}, {"disk", 1}, {"collections", 2}}}}});
  auto listed = sim_->ListHid();
  ASSERT_TRUE(listed.ok());
  ASSERT_EQ(listed->size(), 2u) << "the simulator lists it as hidapi does";
  ScopedEnvOverride use(env_);
  EXPECT_EQ(GetHidLcdCount(), 1);
  env_.hidOpens = env_.hidWrites = 0;
  EXPECT_EQ(Info(0), 1);
  EXPECT_EQ(record_.connectionState, kHidUntied);
  EXPECT_EQ(env_.hidOpens, 1);
  EXPECT_EQ(env_.hidWrites, kTieAttempts * 4);
}

TEST_F(Discovery, NamesAndSizes) {
  std::string vol = world_.Subdir("vol");
  std::vector<std::uint8_t> xfs(512);
  std::memcpy(xfs.data(), "XFSB", 4);
  xfs[6] = 0x10;        // block size 4096, big-endian
  xfs[8 + 5] = 0x04;    // 262144 data blocks: 1 GiB
  xfs[144 + 5] = 0x01;  // 65536 free: 256 MiB
  std::string ntfs = world_.Image("ntfs.img", 2 << 20, {{0, Mbr(0x07, 2048)}});
  std::string xfsImg = world_.Image("xfs.img", 2 << 20, {{0, Mbr(0x83, 2048)}, {1 << 20, xfs}});
  const std::uint64_t total = 500ull << 30, free = 123ull << 20;
  world_.Write({{"disks",
                 {DiskJson(0, {{"image", ntfs},
                               {"friendlyName", "WDC WD5000AAKS-00TMA0 USB Device"},
                               {"volumes",
                                {{{"dir", vol},
                                  {"label", "DATA"},
                                  {"fileSystem", "NTFS"},
                                  {"totalBytes", total},
                                  {"freeBytes", free}}}}}),
                  DiskJson(1, {{"image", xfsImg}, {"friendlyName", ""}}),
                  DiskJson(2, {{"sizeBytes", 3 << 20}}), DiskJson(3, {{"image", ntfs}})}}});

  Info(0);
  EXPECT_EQ(FieldUtf8(record_.driveLetter), MountPointSpelling(vol));
  EXPECT_EQ(FieldUtf8(record_.volumeLabel), "DATA");
  EXPECT_EQ(FieldUtf8(record_.fileSystem), "NTFS");
  EXPECT_EQ(FieldUtf8(record_.friendlyName), "WDC WD5000AAKS-00TMA0 USB Device");
  EXPECT_EQ(record_.fileSystemType, kFsNtfs);
  EXPECT_EQ(record_.totalMB, total >> 20);
  EXPECT_EQ(record_.freeMB, 123u);
  EXPECT_EQ(record_.totalSectors, (total >> 9) + 1);
  EXPECT_EQ(record_.freeSectors, free >> 9);

  Info(1);  // a video-recorder disk: sizes from its own superblock
  EXPECT_EQ(FieldUtf8(record_.driveLetter), "-");
  EXPECT_EQ(FieldUtf8(record_.friendlyName), "Disk Drive");
  EXPECT_EQ(record_.fileSystemType, kFsXfs);
  EXPECT_EQ(record_.totalMB, 1024u);
  EXPECT_EQ(record_.freeMB, 256u);
  EXPECT_EQ(record_.totalSectors, 262144u);
  EXPECT_EQ(record_.freeSectors, 65536u);

  Info(2);  // nothing on it: the size of the drive
  EXPECT_EQ(FieldUtf8(record_.driveLetter), "-");
  EXPECT_EQ(FieldUtf8(record_.fileSystem), "-");
  EXPECT_EQ(record_.totalMB, 3u);
  EXPECT_EQ(record_.freeMB, 0u);

  Info(3);  // a volume the system would mount but has not: the queries fail, the flow goes on
  EXPECT_EQ(FieldUtf8(record_.driveLetter), "");
  EXPECT_EQ(FieldUtf8(record_.fileSystem), "-");
  EXPECT_EQ(record_.totalMB, 0u);
}

// What a mounted volume makes of a drive: a volume mounted read-write is an ordinary drive whatever
// its file system; XFS and ext that are not mounted, or mounted read-only, stay recorder disks.
TEST_F(Discovery, VolumesByFileSystemAndWriteAccess) {
  std::vector<std::uint8_t> xfs(512);
  std::memcpy(xfs.data(), "XFSB", 4);
  xfs[6] = 0x10;        // 4096-byte blocks
  xfs[8 + 5] = 0x04;    // 262144 blocks: 1 GiB
  xfs[144 + 5] = 0x01;  // 65536 free: 256 MiB
  std::vector<std::uint8_t> ext(512);
  ext[4 + 2] = 0x08;   // 524288 blocks of 1 KiB: 512 MiB
  ext[12 + 1] = 0x80;  // 32768 free: 32 MiB
  ext[56] = 0x53;
  ext[57] = 0xEF;
  const std::string xfsImg =
      world_.Image("xfs.img", 2 << 20, {{0, Mbr(0x83, 2048)}, {1 << 20, xfs}});
  const std::string extImg =
      world_.Image("ext.img", 2 << 20, {{0, Mbr(0x83, 2048)}, {(1 << 20) + 1024, ext}});
  const std::string bareExt = world_.Image("bare-ext.img", 2 << 20, {{1024, ext}});
  const std::string linuxImg = world_.Image("linux.img", 2 << 20, {{0, Mbr(0x83, 2048)}});
  const std::string ntfsImg = world_.Image("ntfs.img", 2 << 20, {{0, Mbr(0x07, 2048)}});
  const std::string fatImg = world_.Image("fat.img", 2 << 20, {{0, Mbr(0x0C, 2048)}});
  const std::string vol = world_.Subdir("vol");
  constexpr std::uint64_t kTotal = 4000ull << 30, kFree = 1500ull << 30;

  struct Case {
    const char* what;
    std::string image;
    const char* fileSystem;  // of the mounted volume; nullptr: not mounted
    bool readWrite;
    std::int32_t type;
    const char* shownFileSystem;
    bool onVolume;  // named and sized by the volume, not by the sectors
  } cases[] = {
      {"ext4 read-write", extImg, "ext4", true, kFsOtherReadWrite, "ext4", true},
      {"ext4 read-only", extImg, "ext4", false, kFsExt, "", false},
      {"ext not mounted", extImg, nullptr, false, kFsExt, "", false},
      {"xfs read-write", xfsImg, "xfs", true, kFsOtherReadWrite, "xfs", true},
      {"xfs read-only", xfsImg, "xfs", false, kFsXfs, "", false},
      {"xfs not mounted", xfsImg, nullptr, false, kFsXfs, "", false},
      {"btrfs read-write", linuxImg, "btrfs", true, kFsOtherReadWrite, "btrfs", true},
      {"btrfs read-only", linuxImg, "btrfs", false, kFsUnknown, "-", true},
      {"f2fs on the whole disk", bareExt, "f2fs", true, kFsOtherReadWrite, "f2fs", true},
      {"ext on the whole disk read-only", bareExt, "ext4", false, kFsUnknown, "-", false},
      {"NTFS read-write", ntfsImg, "NTFS", true, kFsNtfs, "NTFS", true},
      {"NTFS read-only", ntfsImg, "NTFS", false, kFsNtfs, "NTFS", true},
      {"FAT32 read-write", fatImg, "FAT32", true, kFsFat32, "FAT32", true},
      {"exFAT on a Linux partition", linuxImg, "exFAT", true, kFsExfat, "exFAT", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    json disk = DiskJson(0, {{"image", c.image}, {"sizeBytes", 3 << 20}});
    if (c.fileSystem) {
      disk["volumes"] = {{{"dir", vol},
                          {"label", "shelf"},
                          {"fileSystem", c.fileSystem},
                          {"readWrite", c.readWrite},
                          {"totalBytes", kTotal},
                          {"freeBytes", kFree}}};
    }
    world_.Write({{"disks", {disk}}});
    Info(0);
    EXPECT_EQ(record_.fileSystemType, c.type);
    EXPECT_EQ(FieldUtf8(record_.fileSystem), c.shownFileSystem);
    EXPECT_EQ(FieldUtf8(record_.driveLetter), c.onVolume ? MountPointSpelling(vol) : "-");
    EXPECT_EQ(FieldUtf8(record_.volumeLabel), c.onVolume ? "shelf" : "");
    if (c.onVolume) {
      EXPECT_EQ(record_.totalMB, kTotal >> 20);
      EXPECT_EQ(record_.freeMB, kFree >> 20);
    } else {
      EXPECT_LT(record_.totalMB, 4096u) << "sizes from the drive itself";
    }
  }
}

TEST_F(Discovery, UnopenableDriveKeepsOnlyPathAndNumber) {
  world_.Write({{"disks", {DiskJson(0)}}});
  DriveRecord r;
  std::memset(&r, 0x77, sizeof r);
  SetField(r.hidPath, "sim:hid:tray");
  EXPECT_EQ(FillLcdInfo(env_, 9, &r), 0);
  EXPECT_EQ(FieldUtf8(r.hidPath), "sim:hid:tray");
  EXPECT_EQ(r.driveNumber, 9);
  DriveRecord expected{};
  std::copy(std::begin(r.hidPath), std::end(r.hidPath), expected.hidPath);
  expected.driveNumber = 9;
  EXPECT_EQ(std::memcmp(&r, &expected, sizeof r), 0);
  EXPECT_EQ(FillLcdInfo(env_, 0, nullptr), 0);
}

TEST_F(Discovery, HealthMatchesTheSharedRuleOnRealDrives) {
  json disks = json::array();
  std::vector<std::string> dumps;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::string(KUVLCD_TESTDATA_DIR) + "/smart"))
    dumps.push_back(entry.path().filename().string());
  std::sort(dumps.begin(), dumps.end());
  const char* transports[] = {"platform", "bridge12", "bridge16"};
  for (std::size_t i = 0; i < dumps.size() && i < 32; ++i)
    disks.push_back(DiskJson(static_cast<int>(i),
                             {{"ata", AtaOf(dumps[i])}, {"transport", transports[i % 3]}}));
  world_.Write({{"disks", disks}});
  int judged = 0;
  for (std::size_t i = 0; i < dumps.size() && i < 32; ++i) {
    SCOPED_TRACE(dumps[i]);
    Info(static_cast<int>(i));
    auto identify = ReadSector(TestdataDrive(dumps[i]) + "/identify.bin");
    auto data = ReadSector(TestdataDrive(dumps[i]) + "/data.bin");
    auto thresholds = ReadSector(TestdataDrive(dumps[i]) + "/thresholds.bin");
    ASSERT_TRUE(SmartCapable(identify));
    EXPECT_EQ(std::memcmp(record_.smartData, data.data(), 512), 0);
    EXPECT_EQ(std::memcmp(record_.smartThresholds, thresholds.data(), 512), 0);
    EXPECT_EQ(std::u16string_view(record_.serialNumber), SerialFromIdentify(identify));
    EXPECT_EQ(record_.health, DriveHealth(data, thresholds));
    EXPECT_EQ(record_.temperature, DriveTemperature(data));
    judged += record_.health != kHealthGood;
  }
  EXPECT_GT(judged, 0);  // the set holds failing drives, so the rule is really exercised
}

// The sample world as a new user meets it, and with the second Silicon Image adapter still
// waiting for its filter.
TEST(SampleWorld, EveryDriveGivesItsRecord) {
  for (bool registered : {true, false}) {
    SCOPED_TRACE(registered ? "filter registered" : "filter not registered");
    TempWorld world;
    ASSERT_TRUE(
        sim::WriteSampleWorld(world.dir(), {.sataFilterRegistered = registered, .sleepScale = 0})
            .ok());
    auto env = NewSimEnv(world.dir());
    struct Case {
      std::int32_t connectionState, panelModel, fileSystemType;
      std::string hidPath;
      const char* fileSystem;
      const char* mount;  // the last component of driveLetter
    } cases[] = {
        // The trays' panels answer, but none is this drive's.
        {kHidUntied, 0, kFsUnknown, "", "-", "-"},
        {kBridgePlain, 1, kFsNtfs, "", "NTFS", "BACKUP"},
        {kNotSiliconImageHost, 0, kFsFat32, sim::SampleTrayPath(1), "FAT32", "PHOTOS"},
        {kSiliconImageWithFilter, 0, kFsXfs, sim::SampleTrayPath(2), "", "-"},
        {kBridgeLocked, 2, kFsUnknown, "", "-", "-"},
        {kBridgeUnlocked, 3, kFsOtherReadWrite, "", "ext4", "data"},
        {kHidUntied, 0, kFsUnknown, "", "-", "-"},  // product 0x1106: searched over HID
        {registered ? kSiliconImageWithFilter : kSiliconImageWithoutFilter, 0, kFsOtherReadWrite,
         sim::SampleTrayPath(3), "btrfs", "archive"},
    };
    for (int drive = 0; drive < static_cast<int>(std::size(cases)); ++drive) {
      SCOPED_TRACE(drive);
      const Case& c = cases[drive];
      DriveRecord r{};
      EXPECT_EQ(FillLcdInfo(*env, drive, &r), 1);
      EXPECT_EQ(r.connectionState, c.connectionState);
      EXPECT_EQ(r.panelModel, c.panelModel);
      EXPECT_EQ(r.fileSystemType, c.fileSystemType);
      EXPECT_EQ(FieldUtf8(r.hidPath), c.hidPath);
      EXPECT_EQ(FieldUtf8(r.fileSystem), c.fileSystem);
      const std::string letter = FieldUtf8(r.driveLetter);
      EXPECT_EQ(letter.substr(letter.find_last_of("/\\") + 1), c.mount);
      // Disks of the sizes people shelve, hundreds of gigabytes to terabytes.
      EXPECT_GE(r.totalMB, 300000u);
      EXPECT_LE(r.freeMB, r.totalMB);
      if (r.fileSystemType != kFsUnknown) {
        EXPECT_GT(r.freeMB, 0u) << "free space is known";
      }
      // Without the filter the drive on the bare Silicon Image adapter gives no S.M.A.R.T. at all.
      EXPECT_EQ(r.temperature == 0, !registered && drive == 7);
    }
  }
}

TEST_F(Discovery, ExportsCountPanels) {
  world_.Write({{"disks", {DiskJson(0)}},
                {"hidPanels",
                 {HidJson("a", 0),
                  HidJson("b", 1),
                  {{"name", "mouse"}, {"vendor", 0x046D}, {"product", 0xC077}},
                  {{"name", "deaf"}, {"capsReadable", false}}}}});
  ScopedEnvOverride use(env_);
  EXPECT_EQ(GetHidLcdCount(), 2);
  DriveRecord r{};
  EXPECT_EQ(GetLcdInfo(0, &r), 1);
  EXPECT_EQ(FieldUtf8(r.hidPath), "sim:hid:a");
  EXPECT_EQ(GetLcdInfo(0, nullptr), 0);
}

}  // namespace
}  // namespace kuv
