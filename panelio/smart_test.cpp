#include "panelio/smart.h"

#include <gtest/gtest.h>

#include <cstring>

#include "common/utf16.h"
#include "panelio/panelio.h"
#include "panelio/sim/sim_ata.h"
#include "panelio/smart_test_support.h"

namespace kuv {
namespace {

using testing::AtaOf;
using testing::ReadSector;
using testing::TempWorld;
using testing::TestdataDrive;
using testing::WatchingEnv;

AtaSector IdentifyWith(std::string_view serial, std::uint16_t word80, std::uint16_t word82) {
  AtaSector id{};
  for (std::size_t i = 0; i < 20 && i < serial.size(); ++i)
    id[20 + (i ^ 1)] = static_cast<std::uint8_t>(serial[i]);
  id[160] = static_cast<std::uint8_t>(word80);
  id[161] = static_cast<std::uint8_t>(word80 >> 8);
  id[164] = static_cast<std::uint8_t>(word82);
  id[165] = static_cast<std::uint8_t>(word82 >> 8);
  return id;
}

TEST(SerialFromIdentify, SkipsLeadingSpacesOnly) {
  struct Case {
    std::string_view raw;  // the 20 characters in reading order
    std::u16string_view serial;
  } cases[] = {
      {"    ABC123          ", u"ABC123          "},
      {"                    ", u""},
      {"XYZ789ABCDEFGHIJKLMN", u"XYZ789ABCDEFGHIJKLMN"},
      {"  AB\0CD              ", u"AB"},  // a NUL ends the text for every reader
  };
  for (const Case& c : cases) {
    std::string raw(c.raw.data(), 20);
    EXPECT_EQ(SerialFromIdentify(IdentifyWith(raw, 0, 0)), c.serial) << raw;
  }
}

TEST(SerialFromIdentify, RealDrives) {
  KUV_SKIP_WITHOUT_TESTDATA();
  struct Case {
    const char* drive;
    std::u16string_view serial;
  } cases[] = {
      {"ST9100821AS--3.CME", u"5NJ0R13A"},
      {"WDC_WD2500JB--00REA0-20.00K20", u"WD-WMANK4051741"},
      {"INTEL_SSDSA2CW120G3--4PC10302", u"CVPR109301UZ120LGN  "},
      {"FUJITSU_MHY2120BH--0084000D", u"K434T81257SL"},
  };
  for (const Case& c : cases) {
    AtaSector id = ReadSector(TestdataDrive(c.drive) + "/identify.bin");
    EXPECT_EQ(SerialFromIdentify(id), c.serial) << c.drive;
    EXPECT_TRUE(SmartCapable(id)) << c.drive;
  }
}

TEST(SmartCapable, VersionAndFeatureRules) {
  struct Case {
    std::uint16_t word80, word82;
    bool capable;
  } cases[] = {
      {0x0010, 0x0001, true},                            // ATA-4
      {0x0008, 0x0001, true},                            // ATA-3, the oldest accepted
      {0x0006, 0x0001, false},                           // ATA-1 and ATA-2 only
      {0x0000, 0x0001, false},                           // not reported
      {0xFFFF, 0x0001, false},                           // not reported either
      {0x8000, 0x0001, false},                           // bit 15 is not a version
      {0x8010, 0x0001, true},  {0x01F0, 0x0000, false},  // no S.M.A.R.T. feature set
      {0x01F0, 0xFFFE, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SmartCapable(IdentifyWith("", c.word80, c.word82)), c.capable)
        << std::hex << c.word80 << " " << c.word82;
}

TEST(FilterRequest, LayoutIsExact) {
  auto b = BuildFilterRequest(FilterCode::kReadThresholds, 2, 5);
  const std::uint8_t head[] = {28, 0, 0,    0,    'Q',  'M', '_', 'S', 'A', 'T', 'A',  '_',  10, 0,
                               0,  0, 0x03, 0x05, 0x1B, 0,   0,   0,   0,   0,   0x11, 0x02, 0,  0,
                               0,  0, 0,    0,    2,    5,   0,   0,   0,   0,   0xF0, 0,    0};
  EXPECT_EQ(std::memcmp(b.data(), head, sizeof head), 0);
  const std::uint8_t regs[] = {0xD1, 0, 0, 0x4F, 0xC2, 0, 0xB0, 0};
  EXPECT_EQ(std::memcmp(b.data() + 61, regs, sizeof regs), 0);
  std::size_t nonzero = 0;
  for (std::size_t i = 0; i < b.size(); ++i)
    if (b[i] && !(i < sizeof head) && !(i >= 61 && i < 69)) ++nonzero;
  EXPECT_EQ(nonzero, 0u);

  // The filter (as the simulator plays it) reads every code back with its own registers.
  for (FilterCode code : {FilterCode::kIdentify, FilterCode::kReadData, FilterCode::kReadThresholds,
                          FilterCode::kEnable}) {
    auto request = BuildFilterRequest(code, 0, 1);
    auto parsed = sim::ParseFilterRequest(std::span(request).first(kFilterRequestBytes));
    ASSERT_TRUE(parsed) << static_cast<std::uint32_t>(code);
    EXPECT_EQ(parsed->controlCode, static_cast<std::uint32_t>(code));
    EXPECT_EQ(parsed->targetId, 1);
  }
}

TEST(FilterRequest, ShortAnswerGivesNoData) {
  std::array<std::uint8_t, kFilterBufferBytes> b{};
  b[44] = 0xAA;
  EXPECT_FALSE(FilterReplyData(b, 555));
  auto data = FilterReplyData(b, 556);
  ASSERT_TRUE(data);
  EXPECT_EQ((*data)[0], 0xAA);
}

// A drive whose medium is not ready.
class NotReadyDisk final : public Disk {
 public:
  int commands = 0;
  Result<ScsiReply> Scsi(const ScsiRequest&) override {
    ++commands;
    return ScsiReply{};
  }
  Status ReadAt(std::uint64_t, std::span<std::uint8_t>) override { return Status(EIO, "x"); }
  Result<std::uint64_t> SizeBytes() override { return Status(EIO, "x"); }
  Status CheckVerify() override { return Status(EIO, "not ready"); }
  Status AtaCommand(const AtaTaskFile&, std::span<std::uint8_t>) override {
    return Status(EIO, "x");
  }
};

TEST(PassThroughIdentify, NotReadyIsAFailureAndSendsNothing) {
  NotReadyDisk disk;
  AtaSector id;
  id.fill(0x5A);
  EXPECT_EQ(PassThroughIdentify(&disk, id), kPanelPassThroughFailed);
  EXPECT_EQ(disk.commands, 0);
  EXPECT_EQ(id[0], 0x5A);
  EXPECT_EQ(PassThroughIdentify(nullptr, id), kPanelBadHandle);
}

class SmartWorld : public ::testing::Test {
 protected:
  void SetUp() override {
    KUV_SKIP_WITHOUT_TESTDATA();
    AtaSector old = IdentifyWith("  OLD1", 0xFFFF, 0x0001);
    std::ofstream(world_.dir() + "/old.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(old.data()), old.size());
    nlohmann::json oldAta = AtaOf("SAMSUNG_HD501LJ--CR100-12");
    oldAta["identify"] = world_.dir() + "/old.bin";
    world_.Write({
        {"disks",
         {{{"number", 0},
           {"sizeBytes", 1 << 20},
           {"transport", "platform"},
           {"ata", AtaOf("SAMSUNG_HD501LJ--CR100-12")}},
          {{"number", 1},
           {"sizeBytes", 1 << 20},
           {"transport", "filter"},
           {"adapter", "sil"},
           {"scsiAddress", {{"path", 0}, {"target", 1}}},
           {"ata", AtaOf("ST9100821AS--3.CME")}},
          {{"number", 2},
           {"sizeBytes", 1 << 20},
           {"transport", "bridge12"},
           {"ata", AtaOf("WDC_WD2500JB--00REA0-20.00K20")}},
          {{"number", 3},
           {"sizeBytes", 1 << 20},
           {"transport", "bridge16"},
           {"ata", AtaOf("INTEL_SSDSA2CW120G3--4PC10302")}},
          {{"number", 4},
           {"sizeBytes", 1 << 20},
           {"transport", "filter"},
           {"adapter", "bare"},
           {"ata", AtaOf("TOSHIBA_MK1651GSY--38IGT0G5T")}},
          {{"number", 5}, {"sizeBytes", 1 << 20}, {"transport", "none"}},
          {{"number", 6}, {"sizeBytes", 1 << 20}, {"transport", "platform"}, {"ata", oldAta}}}},
        {"adapters",
         {{{"id", "sil"},
           {"hardwareIds", {"PCI\\VEN_1095&DEV_3132&SUBSYS_71321095&REV_01"}},
           {"upperFilters", {"KuvSATAFil"}}},
          {{"id", "bare"}, {"hardwareIds", {"PCI\\VEN_1095&DEV_3512"}}}}},
    });
  }

  struct Buffers {
    AtaSector thresholds, data;
    char16_t serial[kSerialUnits];
    Buffers() {
      thresholds.fill(0xEE);
      data.fill(0xDD);
      std::fill(std::begin(serial), std::end(serial), u'#');
    }
    SmartOutputs Outputs() { return {thresholds.data(), data.data(), serial}; }
  };

  TempWorld world_;
  std::unique_ptr<DeviceEnv> sim_ = NewSimEnv(world_.dir());
  WatchingEnv env_{*sim_};
};

TEST_F(SmartWorld, EachTransportReadsTheDrive) {
  struct Case {
    int drive;
    const char* dump;
    SmartTransport transport;
    std::u16string_view serial;
    std::vector<std::uint8_t> opcodes;  // pass-through commands, in order
  } cases[] = {
      {0, "SAMSUNG_HD501LJ--CR100-12", SmartTransport::kPlatform, u"S0MUJ1NQ110060      ", {}},
      {1, "ST9100821AS--3.CME", SmartTransport::kFilter, u"5NJ0R13A", {}},
      // Only the 12-byte form: identify at once, each sector after the 16-byte form was refused.
      {2,
       "WDC_WD2500JB--00REA0-20.00K20",
       SmartTransport::kBridge,
       u"WD-WMANK4051741",
       {0xA1, 0x85, 0xA1, 0x85, 0xA1}},
      // Only the 16-byte form: identify on the second try, each sector on the first.
      {3,
       "INTEL_SSDSA2CW120G3--4PC10302",
       SmartTransport::kBridge,
       u"CVPR109301UZ120LGN  ",
       {0xA1, 0x85, 0x85, 0x85}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.drive);
    env_.cdbs.clear();
    Buffers b;
    SmartOutcome outcome = ReadSmart(env_, c.drive, b.Outputs());
    EXPECT_TRUE(outcome.capable);
    EXPECT_EQ(outcome.transport, c.transport);
    EXPECT_EQ(std::u16string_view(b.serial), c.serial);
    EXPECT_EQ(b.data, ReadSector(TestdataDrive(c.dump) + "/data.bin"));
    EXPECT_EQ(b.thresholds, ReadSector(TestdataDrive(c.dump) + "/thresholds.bin"));
    EXPECT_EQ(env_.Opcodes(), c.opcodes);
  }
}

TEST_F(SmartWorld, FailuresLeaveTheSectorsUntouched) {
  struct Case {
    int drive;
    std::u16string_view serial;  // "#" when it must be untouched
  } cases[] = {
      {4, u""},      // Silicon Image adapter without the filter: nothing answers
      {5, u"#"},     // no ATA route at all
      {6, u"OLD1"},  // IDENTIFY gives version 0xFFFF
      {17, u"#"},    // no such drive
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.drive);
    Buffers b;
    SmartOutcome outcome = ReadSmart(env_, c.drive, b.Outputs());
    EXPECT_FALSE(outcome.capable);
    EXPECT_EQ(b.data[0], 0xDD);
    EXPECT_EQ(b.data[511], 0xDD);
    EXPECT_EQ(b.thresholds[0], 0xEE);
    if (c.serial == u"#") {
      EXPECT_EQ(b.serial[0], u'#');
      EXPECT_EQ(b.serial[20], u'#');
    } else {
      EXPECT_EQ(std::u16string_view(b.serial), c.serial);
    }
  }
}

TEST_F(SmartWorld, ExportTakesNullOutputs) {
  ScopedEnvOverride use(env_);
  EXPECT_EQ(GetSmartInfo(0, nullptr, nullptr, nullptr), 1);
  AtaSector data{};
  EXPECT_EQ(GetSmartInfo(3, nullptr, data.data(), nullptr), 1);
  EXPECT_EQ(data, ReadSector(TestdataDrive("INTEL_SSDSA2CW120G3--4PC10302") + "/data.bin"));
  EXPECT_EQ(GetSmartInfo(5, nullptr, data.data(), nullptr), 0);
}

}  // namespace
}  // namespace kuv
