// The installed daemon and units: the libraries the daemon loads, and, checked
// by systemd's own tools, that the units load and how much of the system a
// compromised service would reach.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "common/service_client.h"

namespace {

namespace fs = std::filesystem;

const std::string kUnit = KUVLCD_BINARY_DIR "/packaging/panelsvc.service";
const std::string kServiceBinary = KUVLCD_BINARY_DIR "/panelsvc/panelsvc";
const std::string kWatchUnit = KUVLCD_BINARY_DIR "/packaging/kuvlcd-watch.service";
const std::string kToolBinary = KUVLCD_BINARY_DIR "/tools/kuvlcd/kuvlcd";

struct ShellRun {
  int status = -1;
  std::string output;  // standard output and error together
};

ShellRun Shell(const std::string& command) {
  ShellRun run;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) run.output.append(buffer, n);
  const int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A copy of an installed unit in a scratch folder, its ExecStart pointed at the
// binary just built (verify insists that it exists).
class UnitFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Shell("command -v systemd-analyze").status != 0) {
      GTEST_SKIP() << "systemd-analyze is not installed";
    }
    char tmpl[] = "/tmp/kuvunitXXXXXX";
    dir_ = ::mkdtemp(tmpl);
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }
  // False when the unit or its binary is not built.
  bool Copy(const std::string& unit, const std::string& binary) {
    if (::access(binary.c_str(), X_OK) != 0 || !fs::exists(unit)) return false;
    const std::string text =
        std::regex_replace(Slurp(unit), std::regex("ExecStart=[^ \n]*"), "ExecStart=" + binary);
    std::ofstream(dir_ + "/" + fs::path(unit).filename().string()) << text;
    return true;
  }
  std::string dir_;
};

TEST_F(UnitFileTest, BothUnitsVerifyWithoutComplaint) {
  if (!Copy(kUnit, kServiceBinary)) GTEST_SKIP() << "panelsvc not built";
  ShellRun run = Shell("cd '" + dir_ + "' && systemd-analyze verify --man=no ./panelsvc.service");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output, "");

  if (!Copy(kWatchUnit, kToolBinary)) GTEST_SKIP() << "kuvlcd not built";
  // A user manager of its own needs a runtime folder.
  fs::create_directory(dir_ + "/runtime");
  run = Shell("cd '" + dir_ + "' && XDG_RUNTIME_DIR='" + dir_ +
              "/runtime' systemd-analyze --user verify --man=no "
              "./kuvlcd-watch.service");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output, "");
}

TEST_F(UnitFileTest, ExposureStaysLow) {
  if (!Copy(kUnit, kServiceBinary)) GTEST_SKIP() << "panelsvc not built";
  ShellRun run =
      Shell("cd '" + dir_ + "' && systemd-analyze security --offline=yes ./panelsvc.service");
  std::smatch level;
  if (!std::regex_search(run.output, level, std::regex("Overall exposure level[^:]*: ([0-9.]+)"))) {
    GTEST_SKIP() << "systemd-analyze security does not work offline here: " << run.output;
  }
  // A root service that opens raw disks and takes its clients' identities: what
  // is left is what it must do.
  EXPECT_LE(std::stod(level[1].str()), 1.5) << run.output;
  for (const std::string wanted :
       {"ProtectSystem=", "SystemCallFilter=~@resources", "SystemCallFilter=~@mount",
        "CapabilityBoundingSet=~CAP_SYS_ADMIN",
        "CapabilityBoundingSet=~CAP_(DAC_*|FOWNER|IPC_OWNER)",
        "PrivateNetwork=", "RestrictAddressFamilies=~AF_NETLINK",
        "RestrictAddressFamilies=~AF_(INET|INET6)", "UMask=", "PrivateMounts="}) {
    EXPECT_EQ(run.output.find("✗ " + wanted + " "), std::string::npos) << wanted << "\n"
                                                                       << run.output;
    EXPECT_NE(run.output.find(wanted + " "), std::string::npos) << "no longer rated: " << wanted;
  }
}

TEST_F(UnitFileTest, TheClientsFindTheSocketInTheUnitsRuntimeFolder) {
  const std::string unit = Slurp(kUnit);
  std::smatch folder;
  ASSERT_TRUE(std::regex_search(unit, folder, std::regex("\nRuntimeDirectory=([^\n]*)"))) << unit;
  EXPECT_EQ(fs::path(kuv::kDefaultServiceSocket).parent_path(), "/run/" + folder[1].str());
  EXPECT_TRUE(std::regex_search(unit, std::regex("\nRuntimeDirectoryMode=0755\n")))
      << "every user must reach the socket";
}

TEST(Daemon, LoadsNoLibraryItDoesNotCall) {
  if (::access(kServiceBinary.c_str(), X_OK) != 0) GTEST_SKIP() << "panelsvc not built";
  ShellRun run = Shell("readelf -d '" + kServiceBinary + "'");
  if (run.status != 0) GTEST_SKIP() << "readelf: " << run.output;
  ASSERT_NE(run.output.find("(NEEDED)"), std::string::npos) << run.output;
  // The service manager is told with a datagram of our own, pictures are only
  // written (zlib), and the C++ runtime is linked in: each of these would map
  // hundreds of kilobytes for nothing.
  for (const char* unwanted : {"libsystemd", "libpng", "libstdc++", "libgcc_s"}) {
    EXPECT_EQ(run.output.find(std::string("[") + unwanted), std::string::npos) << unwanted << "\n"
                                                                               << run.output;
  }
}

}  // namespace
