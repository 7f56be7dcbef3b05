// kuvlcd's scan, config and update verbs against panelsvc on the sample simulated world, through
// real socket exchanges: the program's main job end to end.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "app/compose/bmp_file.h"
#include "app/compose/qr_test_decode.h"
#include "app/model/test_fakes.h"
#include "app/model/test_service.h"
#include "common/picture_io.h"

namespace kuv {
namespace {

const std::string kKuvlcd = KUVLCD_BINARY_DIR "/tools/kuvlcd/kuvlcd";
const std::string kPanelsvc = KUVLCD_BINARY_DIR "/panelsvc/panelsvc";

struct Output {
  int status = -1;
  std::string text;
};

class SampleWorld : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kKuvlcd) || !std::filesystem::exists(kPanelsvc)) {
      GTEST_SKIP() << "kuvlcd or panelsvc is not built";
    }
    env_ = "KUVLCD_SIM_WORLD=" + world_ + " KUVLCD_SOCKET=" + socket_ +
           " XDG_CONFIG_HOME=" + dir_.path() + "/config ";
    ASSERT_EQ(Run("sim init " + world_).status, 0);
    PrepareWorld();
    ASSERT_TRUE(service_.Start(kPanelsvc, world_, socket_));
  }
  void TearDown() override { StopService(); }
  // Changes the fresh world before the service starts.
  virtual void PrepareWorld() {}

  void StopService() { service_.Stop(); }

  Output Run(const std::string& arguments) {
    Output out;
    FILE* pipe = ::popen((env_ + kKuvlcd + " " + arguments + " 2>/dev/null").c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.text.append(buffer, n);
    int status = ::pclose(pipe);
    out.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
  }

  static std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  testing::TempDir dir_;
  std::string world_ = dir_.path() + "/world";
  std::string socket_ = dir_.path() + "/service.sock";
  std::string env_;
  testing::ServiceProcess service_;
};

TEST_F(SampleWorld, ScanListsEveryPanelAndUpdateChangesPictureAndSettings) {
  Output scan = Run("scan --format json");
  ASSERT_EQ(scan.status, 0);
  nlohmann::json drives = nlohmann::json::parse(scan.text)["drives"];
  ASSERT_GE(drives.size(), 3u);
  int bridge = -1;
  std::string mount;
  for (const auto& drive : drives) {
    ASSERT_EQ(drive["columns"].size(), 6u);
    if (drive["columns"][1] == "KV-D210") {
      bridge = drive["driveNumber"];
      mount = drive["mountPoint"];
      EXPECT_EQ(drive["columns"][0], "usb-bridge USB-HDD") << "the short drive name";
    }
  }
  ASSERT_GE(bridge, 0) << scan.text;
  EXPECT_EQ(mount, world_ + "/volumes/usb-bridge");

  const std::string before = ReadAll(world_ + "/state/panels/bridge1.png");
  Output update = Run("update --drive " + std::to_string(bridge) + " --line1 Hello");
  ASSERT_EQ(update.status, 0) << update.text;
  EXPECT_NE(ReadAll(world_ + "/state/panels/bridge1.png"), before);
  const std::string settings =
      ReadAll(world_ + "/volumes/usb-bridge/TAVIO_LCDMANAGER/LCD_DATA.TXT");
  std::string expected;
  for (char c : std::string_view("[DATA1]Hello\n")) expected += {c, '\0'};
  EXPECT_NE(settings.find(expected), std::string::npos);

  Output config = Run("config --drive " + std::to_string(bridge));
  ASSERT_EQ(config.status, 0);
  EXPECT_EQ(nlohmann::json::parse(config.text)["line1"], "Hello");
  EXPECT_EQ(Run("config --drive 31").status, 1) << "no panel on drive 31";
}

TEST_F(SampleWorld, QrUpdateReachesThePanelAndTheDrive) {
  const std::string url = "https://example.org/inventory?drive=42";
  Output update = Run("update --drive 1 --qr '" + url + "' --cell-pitch 1");
  ASSERT_EQ(update.status, 0) << update.text;
  EXPECT_EQ(ReadAll(world_ + "/volumes/usb-bridge/TAVIO_LCDMANAGER/QR_DATA.TXT"), url);
  Output config = Run("config --drive 1");
  ASSERT_EQ(config.status, 0);
  const nlohmann::json settings = nlohmann::json::parse(config.text);
  EXPECT_EQ(settings["cellPitch"], 1) << config.text;
  EXPECT_EQ(settings["eccValue"], 3) << "1Dot/Cell selects Max(30%)";
#ifdef KUVLCD_HAVE_ZBAR
  const std::string pbm = ReadAll(world_ + "/state/panels/bridge1.pbm");
  PictureResult panel =
      DecodePbm(std::span(reinterpret_cast<const std::uint8_t*>(pbm.data()), pbm.size()));
  ASSERT_TRUE(panel) << panel.error;
  EXPECT_EQ(testing::DecodeQrWithZbar(*panel.picture), url);
#endif
  // The drive keeps 1Dot/Cell and Max(30%): 674 digits fit, 675 give message 102.
  EXPECT_EQ(Run("update --drive 1 --qr " + std::string(674, '7')).status, 0);
  EXPECT_EQ(Run("update --drive 1 --qr " + std::string(675, '7')).status, 1);
}

TEST_F(SampleWorld, AStoppedServiceIsReportedWithAFailingExit) {
  StopService();
  EXPECT_NE(Run("scan").status, 0);
}

TEST_F(SampleWorld, UpdateWithABitmapReachesThePanelAndTheDrive) {
  env_ += "XDG_DATA_HOME=" + dir_.path() + "/data TMPDIR=" + dir_.path() + " ";
  BmpImage image = DefaultBmpImage();
  for (int y = 5; y < 15; ++y)
    image.bits[static_cast<std::size_t>(y * 12 + 1)] = 0;  // not symmetric
  const std::vector<std::uint8_t> bytes = EncodeBmp(image);
  const std::string logo = dir_.path() + "/logo.bmp";
  ASSERT_TRUE(WriteFileBytes(logo, bytes, nullptr));
  const std::string stored = world_ + "/volumes/usb-bridge/TAVIO_LCDMANAGER/LCD_IMAGE.BMP";

  // Drive 1 of the sample world is the bridge panel on the NTFS-like volume.
  Output update = Run("update --drive 1 --bitmap " + logo);
  ASSERT_EQ(update.status, 0) << update.text;
  EXPECT_EQ(ReadAll(stored), std::string(bytes.begin(), bytes.end()));
  const std::string seen = ReadAll(world_ + "/state/panels/bridge1.pbm");
  const PictureResult panel =
      DecodePbm(std::span(reinterpret_cast<const std::uint8_t*>(seen.data()), seen.size()));
  ASSERT_TRUE(panel) << panel.error;
  EXPECT_EQ(*panel.picture, PictureFromRaster(image.bits));

  std::vector<std::uint8_t> grey = bytes;
  grey[28] = 8;
  const std::string rejected = dir_.path() + "/grey.bmp";
  ASSERT_TRUE(WriteFileBytes(rejected, grey, nullptr));
  EXPECT_EQ(Run("update --drive 1 --bitmap " + rejected).status, 1);
  EXPECT_EQ(ReadAll(stored), std::string(bytes.begin(), bytes.end()));
}

// The sample world with no SATA filter in any adapter's list, so a scan meets the restart question.
class WorldWithoutSataFilter : public SampleWorld {
 protected:
  void PrepareWorld() override {
    const std::string path = world_ + "/world.json";
    nlohmann::json world = nlohmann::json::parse(ReadAll(path));
    for (auto& adapter : world["adapters"]) adapter.erase("upperFilters");
    std::ofstream(path) << world.dump(1);
  }
};

TEST_F(WorldWithoutSataFilter, ToolsRegisterTheFilterOnlyWhenAsked) {
  const std::string filters = world_ + "/state/adapters";
  ASSERT_EQ(Run("scan").status, 0);
  Output scan = Run("scan --format json");
  ASSERT_EQ(scan.status, 0);
  int bridge = -1;
  const nlohmann::json drives = nlohmann::json::parse(scan.text)["drives"];
  for (const auto& drive : drives) {
    if (drive["columns"][1] == "KV-D210") bridge = drive["driveNumber"];
  }
  ASSERT_GE(bridge, 0) << scan.text;
  ASSERT_EQ(Run("update --drive " + std::to_string(bridge) + " --line1 Hi").status, 0);
  EXPECT_FALSE(std::filesystem::exists(filters) && !std::filesystem::is_empty(filters))
      << "scan and update left the adapters' filter lists alone";
  ASSERT_EQ(Run("scan --register-sata-filter").status, 0);
  EXPECT_TRUE(std::filesystem::exists(filters) && !std::filesystem::is_empty(filters));
}

}  // namespace
}  // namespace kuv
