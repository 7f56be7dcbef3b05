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

#include "app/compose/qr_test_decode.h"
#include "app/model/test_fakes.h"
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
    service_ = ::fork();
    if (service_ == 0) {
      ::setenv("KUVLCD_SIM_WORLD", world_.c_str(), 1);
      ::setenv("KUVLCD_SOCKET", socket_.c_str(), 1);
      // The service must not outlive a test that dies, nor hold the test's output open.
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      std::freopen("/dev/null", "w", stdout);
      std::freopen("/dev/null", "w", stderr);
      ::execl(kPanelsvc.c_str(), kPanelsvc.c_str(), "--foreground", nullptr);
      ::_exit(127);
    }
    for (int i = 0; i < 250 && !std::filesystem::exists(socket_); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(std::filesystem::exists(socket_));
  }
  void TearDown() override { StopService(); }

  void StopService() {
    if (service_ > 0) {
      ::kill(service_, SIGTERM);
      ::waitpid(service_, nullptr, 0);
      service_ = -1;
    }
  }

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
  pid_t service_ = -1;
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
      mount = drive["columns"][0];
    }
  }
  ASSERT_GE(bridge, 0) << scan.text;

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

}  // namespace
}  // namespace kuv
