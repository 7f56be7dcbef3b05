// kuvlcd as a process: exit statuses, what goes to stdout and what to stderr, the terminal check,
// and the verbs against panelsvc on the sample simulated world.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "app/model/test_fakes.h"
#include "app/model/test_service.h"
#include "common/strings.h"
#include "common/utf16.h"

namespace kuv {
namespace {

const std::string kKuvlcd = KUVLCD_BINARY_DIR "/tools/kuvlcd/kuvlcd";
const std::string kPanelsvc = KUVLCD_BINARY_DIR "/panelsvc/panelsvc";

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs kuvlcd with the words and the environment's changes; stdout goes to a file, or to a
// pseudo-terminal when onTerminal.
Result Kuvlcd(const std::vector<std::string>& words,
              const std::map<std::string, std::string>& environment = {}, bool onTerminal = false,
              const std::string& program = kKuvlcd) {
  testing::TempDir dir;
  const std::string out = dir.path() + "/out";
  const std::string err = dir.path() + "/err";
  int master = -1;
  int terminal = -1;
  if (onTerminal && ::openpty(&master, &terminal, nullptr, nullptr, nullptr) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    for (const auto& [name, value] : environment) ::setenv(name.c_str(), value.c_str(), 1);
    const int outFd = onTerminal ? terminal : ::open(out.c_str(), O_WRONLY | O_CREAT, 0600);
    ::dup2(outFd, STDOUT_FILENO);
    ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT, 0600), STDERR_FILENO);
    std::vector<char*> argv = {const_cast<char*>(program.c_str())};
    for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  if (terminal >= 0) ::close(terminal);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (master >= 0) ::close(master);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(out), ReadAll(err)};
}

class Process : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kKuvlcd)) GTEST_SKIP() << "kuvlcd is not built";
  }
};

struct Case {
  std::vector<std::string> words;
  int status;
  std::string out;  // a part of stdout; "" for an empty stdout
  std::string err;  // a part of stderr; "" for an empty stderr
};

TEST_F(Process, ExitStatusesAndStreams) {
  const std::string now = "--now=2026-12-06T09:05";
  const Case cases[] = {
      {{"--help"}, 0, "Commands:", ""},
      {{"help", "sim", "init"}, 0, "usage: kuvlcd sim init DIR", ""},
      {{"--version"}, 0, "kuvlcd ", ""},
      {{}, 2, "", "a command is needed"},
      {{"bogus"}, 2, "", "unknown command 'bogus'"},
      {{"--bogus"}, 2, "", "unknown option --bogus"},
      {{"sim"}, 2, "", "sim init"},
      {{"sim", "--help"}, 0, "sim unplug", ""},
      {{"direct", "bogus"}, 2, "", "unknown command 'bogus'"},
      {{"render", "--help", "--bogus"}, 0, "--line-reverse MASK", ""},
      {{"render", "--bogus"}, 2, "", "kuvlcd render: unknown option --bogus"},
      {{"render", "--reverse=0"}, 2, "", "--reverse takes no value"},
      {{"render", "--type1", "9"}, 2, "", "smart-data (8)"},
      {{"render", "--rotation", "45"}, 2, "", "--rotation must be"},
      {{"render", "--type1", "time", now}, 0, "\"09:05\"", ""},
      {{"render", "--type1", "5", now}, 0, "\"09:05\"", ""},
      {{"render", "--line1", "ABCDEFGHIJKLMNOP"},
       0,
       "\"ABCDEFGHIJKLM\"",
       "warning: --line1 'ABCDEFGHIJKLMNOP' was cut to 'ABCDEFGHIJKLM'"},
      {{"render", "--line1", "ABCDEFGHIJKLM"}, 0, "\"ABCDEFGHIJKLM\"", ""},
      {{"render", "--line2", "Hi", "--type2", "date", now},
       0,
       "\"2026/12/06\"",
       "warning: --line2 is not shown: line 2 shows the item 'date'"},
      {{"render", "--type3", "smart-current"}, 0, "\"lines\"", "line 3 shows nothing"},
      {{"render", "--type3", "smart-current", "--smart-id", "0"}, 0, "\"lines\"", ""},
      {{"render", "--fs-type", "4", "--type2", "date"}, 2, "", "show text only"},
      {{"render", "--fs-type", "4", "--type2", "text", "--line2", "Rec"}, 0, "\"Rec\"", ""},
      {{"update", "--drive", "1", "--area", "upper"}, 2, "", "--area needs --bitmap FILE"},
      {{"update", "--drive", "1", "--qr", "x", "--line1", "y"}, 2, "", "--line1 does not go"},
      {{"update", "--drive", "1", "--bitmap", "a", "--threshold", "9"},
       2,
       "",
       "--threshold needs --convert"},
      {{"smart", "--drive", "32"}, 2, "", "--drive must be 0 to 31"},
      {{"smart", "--drive", "1", "now"}, 2, "", "kuvlcd smart: unexpected 'now'"},
      {{"sim", "panel", "world"}, 2, "", "DIR and NAME are needed"},
      {{"sectors", "a", "b"}, 2, "", "unexpected 'b'"},
  };
  for (const Case& c : cases) {
    const std::string line = ::testing::PrintToString(c.words);
    const Result r = Kuvlcd(c.words, {{"KUVLCD_SOCKET", "/nonexistent/kuvlcd.sock"}});
    EXPECT_EQ(r.status, c.status) << line << "\n" << r.err;
    if (c.out.empty()) {
      EXPECT_EQ(r.out, "") << line;
    } else {
      EXPECT_NE(r.out.find(c.out), std::string::npos) << line << "\n" << r.out;
    }
    if (c.err.empty()) {
      EXPECT_EQ(r.err, "") << line;
    } else {
      EXPECT_NE(r.err.find(c.err), std::string::npos) << line << "\n" << r.err;
    }
  }
}

TEST_F(Process, APictureIsNotWrittenToATerminal) {
  testing::TempDir dir;
  for (const char* format : {"png", "pbm"}) {
    const Result refused = Kuvlcd({"render", "--format", format}, {}, true);
    EXPECT_EQ(refused.status, 2) << format;
    EXPECT_NE(refused.err.find("--out FILE"), std::string::npos) << refused.err;
  }
  const std::string file = dir.path() + "/screen.png";
  EXPECT_EQ(Kuvlcd({"render", "--format", "png", "--out", file}, {}, true).status, 0);
  EXPECT_EQ(ReadAll(file).substr(1, 3), "PNG");
  EXPECT_EQ(Kuvlcd({"render", "--format", "ascii"}, {}, true).status, 0) << "text is fine";
  const Result piped = Kuvlcd({"render", "--format", "png"});
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.out.substr(1, 3), "PNG") << "a file or a pipe takes the picture";
}

// Most runs update text: they start without the image codecs and the graphics libraries under
// them, which cost more than the update itself. A conversion loads them as a module, and a
// program installed without it says so.
TEST_F(Process, OnlyAConversionLoadsTheImageCodecs) {
  const Result listed = Kuvlcd({"--version"}, {{"LD_TRACE_LOADED_OBJECTS", "1"}});
  ASSERT_NE(listed.out.find("libQt6Core"), std::string::npos) << listed.out;
  EXPECT_EQ(listed.out.find("libQt6Gui"), std::string::npos) << listed.out;

  testing::TempDir dir;
  const std::string picture = dir.path() + "/photo.pgm";
  std::ofstream(picture) << "P2\n2 2\n255\n0 255\n255 0\n";
  const Result converted = Kuvlcd({"convert", picture, "--ascii"});
  EXPECT_EQ(converted.status, 0) << converted.err;
  EXPECT_NE(converted.out.find('#'), std::string::npos) << converted.out;

  const std::string alone = dir.path() + "/kuvlcd";
  std::filesystem::copy_file(kKuvlcd, alone);
  const Result missing = Kuvlcd({"convert", picture, "--ascii"}, {}, false, alone);
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_NE(missing.err.find("kuvlcd-pictures.so"), std::string::npos) << missing.err;
}

// Every verb that needs the service says what the window says when it cannot be reached.
class Unreachable : public ::testing::TestWithParam<std::pair<std::vector<std::string>, int>> {};

TEST_P(Unreachable, GivesTheWindowsHint) {
  if (!std::filesystem::exists(kKuvlcd)) GTEST_SKIP() << "kuvlcd is not built";
  testing::TempDir dir;
  const std::string socket = dir.path() + "/none.sock";
  const auto& [words, status] = GetParam();
  const Result r = Kuvlcd(words, {{"KUVLCD_SOCKET", socket},
                                  {"XDG_CONFIG_HOME", dir.path() + "/config"},
                                  {"XDG_RUNTIME_DIR", dir.path()},
                                  {"LC_ALL", "C.UTF-8"}});
  EXPECT_EQ(r.status, status);
  EXPECT_EQ(r.out, "");
  const std::string message = StringUtf8(115, Language::kEnglish);
  EXPECT_NE(r.err.find(message.substr(0, message.find('\n'))), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(socket), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("sudo systemctl enable --now panelsvc"), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    EveryServiceVerb, Unreachable,
    ::testing::Values(std::pair<std::vector<std::string>, int>{{"scan"}, 1},
                      std::pair<std::vector<std::string>, int>{{"config", "--drive", "1"}, 1},
                      std::pair<std::vector<std::string>, int>{{"update", "--drive", "1"}, 1},
                      std::pair<std::vector<std::string>, int>{{"refresh"}, 1},
                      std::pair<std::vector<std::string>, int>{{"smart", "--drive", "1"}, 1},
                      std::pair<std::vector<std::string>, int>{{"watch"}, 1},
                      std::pair<std::vector<std::string>, int>{{"request", "--command", "1"}, 3}));

class SampleWorld : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kKuvlcd) || !std::filesystem::exists(kPanelsvc)) {
      GTEST_SKIP() << "kuvlcd or panelsvc is not built";
    }
    env_ = {{"KUVLCD_SIM_WORLD", world_},
            {"KUVLCD_SOCKET", dir_.path() + "/service.sock"},
            {"XDG_CONFIG_HOME", dir_.path() + "/config"},
            {"XDG_DATA_HOME", dir_.path() + "/data"},
            {"TMPDIR", dir_.path()}};
    ASSERT_EQ(Kuvlcd({"sim", "init", world_}).status, 0);
    ASSERT_TRUE(service_.Start(kPanelsvc, world_, env_["KUVLCD_SOCKET"]));
  }

  Result Run(const std::vector<std::string>& words) { return Kuvlcd(words, env_); }

  // The drive of the scan whose file-system type has the name fs.
  nlohmann::json DriveOf(const std::string& fs) {
    const Result scan = Run({"scan", "--format", "json"});
    EXPECT_EQ(scan.status, 0) << scan.err;
    const nlohmann::json drives = nlohmann::json::parse(scan.out)["drives"];
    for (const auto& drive : drives) {
      if (drive["fileSystemTypeName"] == fs) return drive;
    }
    ADD_FAILURE() << "no " << fs << " drive in " << scan.out;
    return {};
  }

  testing::TempDir dir_;
  std::string world_ = dir_.path() + "/world";
  std::map<std::string, std::string> env_;
  testing::ServiceProcess service_;
};

TEST_F(SampleWorld, EveryVerbShowsADriveUnderTheSameKeys) {
  const nlohmann::json scanned = DriveOf("ntfs");
  ASSERT_FALSE(scanned.is_null());
  const std::string drive = std::to_string(scanned["driveNumber"].get<int>());
  const Result request = Run({"request", "--command", "1", "--drive", drive});
  ASSERT_EQ(request.status, 0) << request.err;
  const Result direct = Run({"direct", "info", "--drive", drive});
  ASSERT_EQ(direct.status, 0) << direct.err;
  const nlohmann::json answers[] = {nlohmann::json::parse(request.out)["driveInfo"],
                                    nlohmann::json::parse(direct.out)};
  for (const nlohmann::json& answer : answers) {
    for (const char* key : {"driveNumber", "mountPoint", "friendlyName", "fileSystem",
                            "fileSystemType", "fileSystemTypeName", "totalMB", "freeMB",
                            "connectionState", "connectionStateName", "panelModel"}) {
      EXPECT_EQ(answer.at(key), scanned.at(key)) << key;
    }
  }
  EXPECT_TRUE(scanned["totalMB"].is_number());
  EXPECT_TRUE(scanned["totalText"].is_string()) << "the size as the list shows it, beside it";
  EXPECT_EQ(scanned["totalText"], scanned["columns"][4]);
}

TEST_F(SampleWorld, SmartOfANumberNoDriveAnswersAtFails) {
  const Result empty = Run({"smart", "--drive", "31", "--format", "json"});
  EXPECT_EQ(empty.status, 1);
  EXPECT_EQ(empty.out, "");
  EXPECT_NE(empty.err.find("drive 31"), std::string::npos) << empty.err;

  const std::string drive = std::to_string(DriveOf("ntfs")["driveNumber"].get<int>());
  const Result read = Run({"smart", "--drive", drive, "--format", "json"});
  ASSERT_EQ(read.status, 0) << read.err;
  const nlohmann::json smart = nlohmann::json::parse(read.out);
  EXPECT_EQ(smart["smart"], "read");
  ASSERT_FALSE(smart["attributes"].empty());
  EXPECT_TRUE(smart["attributes"][0]["id"].is_number());
}

TEST_F(SampleWorld, UpdateNamesWhatIsMissing) {
  // A picture that is no one-bit BMP: the bitmap page refuses it, the tool says what would help.
  const std::string picture = dir_.path() + "/photo.pgm";
  std::ofstream(picture) << "P2\n2 2\n255\n0 255\n255 0\n";
  const std::string ntfs = std::to_string(DriveOf("ntfs")["driveNumber"].get<int>());
  const Result photo = Run({"update", "--drive", ntfs, "--bitmap", picture});
  EXPECT_EQ(photo.status, 1);
  EXPECT_NE(photo.err.find("add --convert"), std::string::npos) << photo.err;
  EXPECT_EQ(Run({"update", "--drive", ntfs, "--bitmap", picture, "--convert"}).status, 0);

  // The window offers no QR page for a video recorder's disk.
  const std::string xfs = std::to_string(DriveOf("xfs")["driveNumber"].get<int>());
  const Result qr = Run({"update", "--drive", xfs, "--qr", "hello"});
  EXPECT_EQ(qr.status, 1);
  EXPECT_NE(qr.err.find("QR"), std::string::npos) << qr.err;
}

TEST_F(SampleWorld, AQrTextThePageChangesIsWarnedOfBriefly) {
  const std::string drive = std::to_string(DriveOf("ntfs")["driveNumber"].get<int>());
  const struct {
    std::string text;
    std::string warning;  // "" for none
  } cases[] = {
      {"https://example.org/d/1", ""},
      {"\u65e5 disk", "characters the code does not take became '?'"},
      {std::string(801, '7'), "cut to its first 800 characters"},
  };
  std::map<std::string, std::string> english = env_;
  english["LC_ALL"] = "C.UTF-8";
  for (const auto& c : cases) {
    const Result r = Kuvlcd(
        {"update", "--drive", drive, "--qr", c.text, "--cell-pitch", "1", "--ecc", "0"}, english);
    SCOPED_TRACE(c.text.substr(0, 20));
    EXPECT_EQ(r.status, 0) << r.err;
    if (c.warning.empty()) {
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_NE(r.err.find(c.warning), std::string::npos) << r.err;
      EXPECT_LT(r.err.size(), 200u) << "the warning does not repeat the text";
    }
  }
}

TEST_F(SampleWorld, LineTypesByNameReachTheStoredSettings) {
  const std::string drive = std::to_string(DriveOf("ntfs")["driveNumber"].get<int>());
  const Result update = Run({"update", "--drive", drive, "--type2", "time", "--line3", "Shelf"});
  ASSERT_EQ(update.status, 0) << update.err;
  const nlohmann::json config = nlohmann::json::parse(Run({"config", "--drive", drive}).out);
  EXPECT_EQ(config["lineType2"], 5);
  EXPECT_EQ(config["lineType2Name"], "time");
  EXPECT_EQ(config["line3"], "Shelf");
}

// An update that finds the last scan's panel paths asks its own drive alone; the paths the scan
// found for every other drive must survive it, or the next run of another drive starts cold.
TEST_F(SampleWorld, AWarmUpdateKeepsEveryDrivesPanelPath) {
  const std::string runtime = dir_.path() + "/run";
  ASSERT_TRUE(std::filesystem::create_directory(runtime));
  std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
  env_["XDG_RUNTIME_DIR"] = runtime;
  auto paths = [&runtime] {
    std::ifstream in(runtime + "/kuvlcd-panel-paths");
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  ASSERT_EQ(Run({"scan"}).status, 0);
  const std::string scanned = paths();
  ASSERT_NE(scanned.find("\n"), std::string::npos) << "the scan kept no paths";
  for (const char* fs : {"fat32", "ntfs"}) {
    const std::string drive = std::to_string(DriveOf(fs)["driveNumber"].get<int>());
    const Result update = Run({"update", "--drive", drive, "--line1", "Shelf"});
    ASSERT_EQ(update.status, 0) << update.err;
    EXPECT_EQ(paths(), scanned) << "after updating drive " << drive;
  }
}

}  // namespace
}  // namespace kuv
