// The installed daemon and unit: the libraries the daemon loads, and, checked by systemd's own
// tools, that the unit loads and how much of the system a compromised service would reach.

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

namespace {

namespace fs = std::filesystem;

const std::string kUnit = KUVLCD_BINARY_DIR "/packaging/panelsvc.service";
const std::string kServiceBinary = KUVLCD_BINARY_DIR "/panelsvc/panelsvc";

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

class UnitFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Shell("command -v systemd-analyze").status != 0) {
      GTEST_SKIP() << "systemd-analyze is not installed";
    }
    if (::access(kServiceBinary.c_str(), X_OK) != 0) GTEST_SKIP() << "panelsvc not built";
    std::ifstream in(kUnit);
    ASSERT_TRUE(in) << kUnit;
    std::stringstream text;
    text << in.rdbuf();
    // verify insists that ExecStart exists, so the copy points at the binary just built.
    const std::string unit = std::regex_replace(text.str(), std::regex("ExecStart=[^\n]*"),
                                                "ExecStart=" + kServiceBinary);
    char tmpl[] = "/tmp/kuvunitXXXXXX";
    dir_ = ::mkdtemp(tmpl);
    std::ofstream(dir_ + "/panelsvc.service") << unit;
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }
  std::string dir_;
};

TEST_F(UnitFileTest, VerifiesWithoutComplaint) {
  ShellRun run = Shell("cd '" + dir_ + "' && systemd-analyze verify --man=no ./panelsvc.service");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output, "");
}

TEST_F(UnitFileTest, ExposureStaysLow) {
  ShellRun run =
      Shell("cd '" + dir_ + "' && systemd-analyze security --offline=yes ./panelsvc.service");
  std::smatch level;
  if (!std::regex_search(run.output, level, std::regex("Overall exposure level[^:]*: ([0-9.]+)"))) {
    GTEST_SKIP() << "systemd-analyze security does not work offline here: " << run.output;
  }
  // A root service that opens raw disks: 3.0 leaves room for what it must do and no more.
  EXPECT_LE(std::stod(level[1].str()), 3.0) << run.output;
  for (const char* wanted : {"DevicePolicy=", "ProtectSystem=", "SystemCallFilter=~@resources",
                             "SystemCallFilter=~@mount", "CapabilityBoundingSet=~CAP_SYS_ADMIN"}) {
    std::regex failed(std::string("✗ ") + wanted + "[^\n]*");
    EXPECT_FALSE(std::regex_search(run.output, failed)) << wanted << "\n" << run.output;
  }
}

TEST(Daemon, LoadsNoLibraryItDoesNotCall) {
  if (::access(kServiceBinary.c_str(), X_OK) != 0) GTEST_SKIP() << "panelsvc not built";
  ShellRun run = Shell("readelf -d '" + kServiceBinary + "'");
  if (run.status != 0) GTEST_SKIP() << "readelf: " << run.output;
  ASSERT_NE(run.output.find("(NEEDED)"), std::string::npos) << run.output;
  // The service manager is told with a datagram of our own, pictures are only written (zlib), and
  // the C++ runtime is linked in: each of these would map hundreds of kilobytes for nothing.
  for (const char* unwanted : {"libsystemd", "libpng", "libstdc++", "libgcc_s"}) {
    EXPECT_EQ(run.output.find(std::string("[") + unwanted), std::string::npos) << unwanted << "\n"
                                                                               << run.output;
  }
}

}  // namespace
