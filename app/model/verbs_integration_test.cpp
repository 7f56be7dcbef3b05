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
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "app/compose/bmp_file.h"
#include "app/compose/qr_test_decode.h"
#include "app/model/test_fakes.h"
#include "app/model/test_service.h"
#include "common/picture_io.h"
#include "common/strings.h"

namespace kuv {
namespace {

const std::string kKuvlcd = KUVLCD_BINARY_DIR "/tools/kuvlcd/kuvlcd";
const std::string kPanelsvc = KUVLCD_BINARY_DIR "/panelsvc/panelsvc";

struct Output {
  int status = -1;
  std::string text;
  std::string errors;  // what it wrote to stderr
};

class SampleWorld : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kKuvlcd) || !std::filesystem::exists(kPanelsvc)) {
      GTEST_SKIP() << "kuvlcd or panelsvc is not built";
    }
    std::filesystem::create_directory(runtime_);
    std::filesystem::permissions(runtime_, std::filesystem::perms::owner_all);
    env_ = "KUVLCD_SIM_WORLD=" + world_ + " KUVLCD_SOCKET=" + socket_ +
           " XDG_CONFIG_HOME=" + dir_.path() + "/config XDG_RUNTIME_DIR=" + runtime_ + " ";
    // Nothing here measures time: the world skips the tie procedure's pauses.
    ASSERT_EQ(Run("sim init " + world_ + " --sleep-scale 0 " + InitOptions()).status, 0);
    ASSERT_TRUE(service_.Start(kPanelsvc, world_, socket_));
  }
  void TearDown() override { StopService(); }
  // More options of `kuvlcd sim init` for the fresh world.
  virtual std::string InitOptions() { return ""; }

  void StopService() { service_.Stop(); }

  Output Run(const std::string& arguments) {
    Output out;
    const std::string errors = dir_.path() + "/stderr";
    FILE* pipe = ::popen((env_ + kKuvlcd + " " + arguments + " 2>" + errors).c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.text.append(buffer, n);
    int status = ::pclose(pipe);
    out.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    out.errors = ReadAll(errors);
    return out;
  }
  std::string Volume(const std::string& name) const { return world_ + "/volumes/" + name; }
  static int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }
  static std::string Utf16(std::string_view ascii) {
    std::string bytes;
    for (char c : ascii) bytes += {c, '\0'};
    return bytes;
  }

  static std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  testing::TempDir dir_;
  std::string world_ = dir_.path() + "/world";
  std::string socket_ = dir_.path() + "/service.sock";
  std::string runtime_ = dir_.path() + "/run";
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
      EXPECT_EQ(drive["columns"][0], "BACKUP") << "the short drive name";
    }
  }
  ASSERT_GE(bridge, 0) << scan.text;
  EXPECT_EQ(mount, Volume("BACKUP"));
  EXPECT_EQ(scan.errors.find(StringUtf8(3010, SystemLanguage())), std::string::npos)
      << "a new user's world has no drive that needs a restart";

  const std::string before = ReadAll(world_ + "/state/panels/bridge1.png");
  Output update = Run("update --drive " + std::to_string(bridge) + " --line1 Hello");
  ASSERT_EQ(update.status, 0) << update.text;
  EXPECT_NE(ReadAll(world_ + "/state/panels/bridge1.png"), before);
  const std::string settings = ReadAll(Volume("BACKUP") + "/TAVIO_LCDMANAGER/LCD_DATA.TXT");
  EXPECT_NE(settings.find(Utf16("[DATA1]Hello\n")), std::string::npos);

  Output config = Run("config --drive " + std::to_string(bridge));
  ASSERT_EQ(config.status, 0);
  EXPECT_EQ(nlohmann::json::parse(config.text)["line1"], "Hello");
  EXPECT_EQ(Run("config --drive 31").status, 1) << "no panel on drive 31";
}

TEST_F(SampleWorld, QrUpdateReachesThePanelAndTheDrive) {
  const std::string url = "https://example.org/inventory?drive=42";
  Output update = Run("update --drive 1 --qr '" + url + "' --cell-pitch 1");
  ASSERT_EQ(update.status, 0) << update.text;
  EXPECT_EQ(ReadAll(Volume("BACKUP") + "/TAVIO_LCDMANAGER/QR_DATA.TXT"), url);
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
  const std::string stored = Volume("BACKUP") + "/TAVIO_LCDMANAGER/LCD_IMAGE.BMP";

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

// The mounted ext4 and btrfs drives as a new user meets them: named by their mount points, with
// their file systems and sizes; they take the lines, a picture and a QR code, and keep them in
// TAVIO_LCDMANAGER on the volume. The XFS disk nobody mounted stays a video recorder's disk.
TEST_F(SampleWorld, MountedLinuxDrivesAreOrdinaryAndTheRecorderDiskIsNot) {
  env_ += "XDG_DATA_HOME=" + dir_.path() + "/data TMPDIR=" + dir_.path() + " ";
  Output scan = Run("scan --format json");
  ASSERT_EQ(scan.status, 0) << scan.errors;
  std::map<int, nlohmann::json> drives;
  const nlohmann::json listed = nlohmann::json::parse(scan.text);
  for (const auto& drive : listed["drives"]) drives[drive["driveNumber"]] = drive;
  const std::vector<std::uint8_t> logo = EncodeBmp(DefaultBmpImage());
  const std::string logoPath = dir_.path() + "/logo.bmp";
  ASSERT_TRUE(WriteFileBytes(logoPath, logo, nullptr));
  struct Case {
    int drive;
    const char* volume;
    const char* fileSystem;
    const char* panel;
  };
  for (const Case& c : {Case{5, "data", "ext4", "bridge5"}, Case{7, "archive", "btrfs", "tray3"}}) {
    SCOPED_TRACE(c.fileSystem);
    ASSERT_EQ(drives.count(c.drive), 1u) << scan.text;
    const nlohmann::json& row = drives[c.drive];
    EXPECT_EQ(row["mountPoint"], Volume(c.volume));
    EXPECT_EQ(row["columns"][0], c.volume);
    EXPECT_EQ(row["columns"][5], c.fileSystem);
    EXPECT_TRUE(std::string(row["columns"][3]).ends_with("GB")) << row["columns"];
    EXPECT_TRUE(std::string(row["columns"][4]).ends_with("GB")) << row["columns"];

    const std::string drive = "--drive " + std::to_string(c.drive);
    const std::string folder = Volume(c.volume) + "/TAVIO_LCDMANAGER";
    const std::string panel = world_ + "/state/panels/" + c.panel + ".pbm";
    Output lines = Run("update " + drive + " --line1 One --line2 Two --line3 Three --line4 Four");
    ASSERT_EQ(lines.status, 0) << lines.errors;
    const std::string settings = ReadAll(folder + "/LCD_DATA.TXT");
    for (const char* line : {"[DATA1]One\n", "[DATA2]Two\n", "[DATA3]Three\n", "[DATA4]Four\n"}) {
      EXPECT_NE(settings.find(Utf16(line)), std::string::npos) << line;
    }
    Output config = Run("config " + drive);
    ASSERT_EQ(config.status, 0);
    EXPECT_EQ(nlohmann::json::parse(config.text)["line4"], "Four");
    const std::string lined = ReadAll(panel);
    EXPECT_FALSE(lined.empty());

    ASSERT_EQ(Run("update " + drive + " --bitmap " + logoPath).status, 0);
    EXPECT_EQ(ReadAll(folder + "/LCD_IMAGE.BMP"), std::string(logo.begin(), logo.end()));
    EXPECT_NE(ReadAll(panel), lined);

    const std::string url = "https://example.org/shelf/" + std::string(c.volume);
    ASSERT_EQ(Run("update " + drive + " --qr " + url).status, 0);
    EXPECT_EQ(ReadAll(folder + "/QR_DATA.TXT"), url);
  }

  ASSERT_EQ(drives.count(3), 1u) << scan.text;
  EXPECT_EQ(drives[3]["columns"][0], "-");
  EXPECT_EQ(drives[3]["columns"][5], "XFS");
  Output config = Run("config --drive 3");
  ASSERT_EQ(config.status, 0);
  EXPECT_EQ(nlohmann::json::parse(config.text)["line1"], "TV Rec Disk");
  Output update = Run("update --drive 3 --line2 Shelf");
  ASSERT_EQ(update.status, 0) << update.errors;
  EXPECT_NE(update.text.find("profile section WD-WCC4M3KX0L9Z"), std::string::npos) << update.text;
  EXPECT_EQ(nlohmann::json::parse(Run("config --drive 3").text)["line2"], "Shelf");
  Output qr = Run("update --drive 3 --qr https://example.org");
  EXPECT_EQ(qr.status, 1);
  EXPECT_NE(qr.errors.find("cannot show a QR code"), std::string::npos) << qr.errors;
}

// The tray's FAT32 stick as another user could prepare it: its QR_DATA.TXT is a link to one of
// the user's private files.
TEST_F(SampleWorld, ALinkOnAStickGivesNothingAway) {
  const std::string secret = dir_.path() + "/secret.txt";
  std::ofstream(secret) << "private notes";
  const std::string volume = Volume("PHOTOS");
  std::filesystem::create_directories(volume + "/TAVIO_LCDMANAGER");
  std::filesystem::create_symlink(secret, volume + "/TAVIO_LCDMANAGER/QR_DATA.TXT");
  Output scan = Run("scan --format json");
  ASSERT_EQ(scan.status, 0);
  int tray = -1;
  const nlohmann::json drives = nlohmann::json::parse(scan.text)["drives"];
  for (const auto& drive : drives) {
    if (drive["mountPoint"] == volume) tray = drive["driveNumber"];
  }
  ASSERT_GE(tray, 0) << scan.text;

  Output config = Run("config --drive " + std::to_string(tray));
  ASSERT_EQ(config.status, 0);
  EXPECT_EQ(nlohmann::json::parse(config.text)["qrText"], "");
  ASSERT_EQ(Run("update --drive " + std::to_string(tray) + " --line1 hello").status, 0);
  const std::string written = volume + "/TAVIO_LCDMANAGER/QR_DATA.TXT";
  EXPECT_FALSE(std::filesystem::is_symlink(written));
  EXPECT_EQ(ReadAll(written).find("private"), std::string::npos);
  EXPECT_EQ(ReadAll(secret), "private notes");
}

// A scan keeps the panel paths it found for the next kuvlcd run, in the user's runtime folder.
TEST_F(SampleWorld, AScanKeepsItsPanelPathsForTheNextRun) {
  Output scan = Run("scan --format json");
  ASSERT_EQ(scan.status, 0);
  std::vector<int> tied;
  const nlohmann::json drives = nlohmann::json::parse(scan.text)["drives"];
  for (const auto& drive : drives) {
    const int state = drive["connectionState"];
    if (state >= 4 && state <= 6) tied.push_back(drive["driveNumber"]);
  }
  ASSERT_FALSE(tied.empty()) << scan.text;
  const std::string kept = ReadAll(runtime_ + "/kuvlcd-panel-paths");
  for (int n : tied) {
    EXPECT_NE(kept.find("\n" + std::to_string(n) + " "), std::string::npos) << kept;
  }
  EXPECT_EQ(Run("scan").status, 0);
  EXPECT_EQ(ReadAll(runtime_ + "/kuvlcd-panel-paths"), kept);
}

// The sample world whose second Silicon Image adapter still lacks the filter, so a scan meets the
// restart question.
class WorldWithoutSataFilter : public SampleWorld {
 protected:
  std::string InitOptions() override { return "--unregistered-sata-filter"; }
};

TEST_F(WorldWithoutSataFilter, ToolsRegisterTheFilterOnlyWhenAsked) {
  const std::string filters = world_ + "/state/adapters";
  Output table = Run("scan");
  ASSERT_EQ(table.status, 0);
  EXPECT_EQ(Count(table.errors, StringUtf8(3010, SystemLanguage())), 1) << table.errors;
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
