// kuvlcd.exe as a process under Windows: binary standard output, UTF-8 arguments, and the verbs
// against panelsvc.exe --console on the sample simulated world.

#include <windows.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "common/wide_text.h"
#include "panelio/env_test_support.h"

namespace kuv {
namespace {

namespace fs = std::filesystem;

const fs::path kKuvlcd = fs::path(KUVLCD_BINARY_DIR) / "tools" / "kuvlcd" / "kuvlcd.exe";
const fs::path kPanelsvc = fs::path(KUVLCD_BINARY_DIR) / "panelsvc" / "panelsvc.exe";

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

std::wstring Quoted(const std::wstring& word) {
  return L"\"" + word + L"\"";
}

// Sets the variables for the scope, so the programs started meanwhile inherit them.
class ScopedVariables {
 public:
  explicit ScopedVariables(const std::map<std::string, std::string>& variables) {
    for (const auto& [name, value] : variables) {
      names_.push_back(WideText(name));
      SetEnvironmentVariableW(names_.back().c_str(), WideText(value).c_str());
    }
  }
  ~ScopedVariables() {
    for (const auto& name : names_) SetEnvironmentVariableW(name.c_str(), nullptr);
  }

 private:
  std::vector<std::wstring> names_;
};

// Reads a pipe to its end on a thread of its own, so neither stream can fill up and stall.
std::thread Drain(HANDLE pipe, std::string& into) {
  return std::thread([pipe, &into] {
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0) into.append(buffer, n);
    CloseHandle(pipe);
  });
}

// Runs a program with the words, its stdout and stderr read through pipes.
Result Run(const fs::path& program, const std::vector<std::wstring>& words) {
  std::wstring line = Quoted(program.wstring());
  for (const auto& word : words) line += L" " + Quoted(word);
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE outRead, outWrite, errRead, errWrite;
  if (!CreatePipe(&outRead, &outWrite, &inherit, 0) || !CreatePipe(&errRead, &errWrite, &inherit, 0)) {
    return {};
  }
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = INVALID_HANDLE_VALUE;
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  PROCESS_INFORMATION process{};
  const bool started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &process);
  CloseHandle(outWrite);
  CloseHandle(errWrite);
  Result result;
  std::thread out = Drain(outRead, result.out);
  std::thread err = Drain(errRead, result.err);
  if (started) {
    WaitForSingleObject(process.hProcess, 120000);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    result.status = static_cast<int>(code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  out.join();
  err.join();
  return result;
}

Result Kuvlcd(const std::vector<std::wstring>& words) {
  return Run(kKuvlcd, words);
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(KuvlcdExe, APictureThroughAPipeIsTheFileItWrites) {
  devtest::TempDir dir;
  const fs::path file = fs::path(dir.path()) / "panel.png";
  const std::vector<std::wstring> screen = {L"render", L"--line1", L"Wine", L"--format", L"png"};
  Result piped = Kuvlcd(screen);
  std::vector<std::wstring> toFile = screen;
  toFile.insert(toFile.end(), {L"--out", file.wstring()});
  Result written = Kuvlcd(toFile);
  ASSERT_EQ(piped.status, 0) << piped.err;
  ASSERT_EQ(written.status, 0) << written.err;
  // The signature holds "\r\n\x1a\n": a text-mode stream would have turned its LF into CR LF.
  ASSERT_GE(piped.out.size(), 8u);
  EXPECT_EQ(piped.out.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  EXPECT_EQ(piped.out, ReadAll(file));
}

TEST(KuvlcdExe, TextOutputHasTheLinuxBuildsLineEnds) {
  Result json = Kuvlcd({L"render", L"--line1", L"Wine", L"--format", L"json"});
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(json.out.find('\r'), std::string::npos);
  EXPECT_TRUE(nlohmann::json::parse(json.out, nullptr, false).is_object());
}

TEST(KuvlcdExe, ArgumentsArriveAsUtf8WhateverTheCodePage) {
  // The option is echoed in the error, in UTF-8: a narrow main would have seen "?" for each.
  Result result = Kuvlcd({L"scan", L"--\u00e9t\u00e9-\u65e5\u672c"});
  EXPECT_EQ(result.status, 2);
  EXPECT_NE(result.err.find("--\xc3\xa9t\xc3\xa9-\xe6\x97\xa5\xe6\x9c\xac"), std::string::npos)
      << result.err;
}

// The sample world served by panelsvc.exe --console on a pipe of the test's own.
class SampleWorld : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    world_ = (fs::path(dir_.path()) / "world").make_preferred();
    Result init = Kuvlcd({L"sim", L"init", world_.wstring()});
    ASSERT_EQ(init.status, 0) << init.err;
    pipe_ = "\\\\.\\pipe\\kuvlcd-test-" + std::to_string(GetCurrentProcessId());
    variables_ = std::make_unique<ScopedVariables>(std::map<std::string, std::string>{
        {"KUVLCD_SIM_WORLD", NarrowText(world_.wstring())}, {"KUVLCD_SOCKET", pipe_}});
    std::wstring line = Quoted(kPanelsvc.wstring()) + L" --console --pipe " + WideText(pipe_);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &service_));
    for (int i = 0; i < 300 && !WaitNamedPipeW(WideText(pipe_).c_str(), 100); ++i) Sleep(100);
  }
  void TearDown() override {
    if (service_.hProcess) {
      TerminateProcess(service_.hProcess, 0);
      WaitForSingleObject(service_.hProcess, 10000);
      CloseHandle(service_.hThread);
      CloseHandle(service_.hProcess);
    }
  }

  devtest::TempDir dir_;
  fs::path world_;
  std::string pipe_;
  std::unique_ptr<ScopedVariables> variables_;
  PROCESS_INFORMATION service_{};
};

TEST_F(SampleWorld, ScanListsTheDrivesWithTheirWindowsMountPoints) {
  Result scan = Kuvlcd({L"scan", L"--format", L"json"});
  ASSERT_EQ(scan.status, 0) << scan.err;
  const auto json = nlohmann::json::parse(scan.out, nullptr, false);
  ASSERT_TRUE(json.contains("drives")) << scan.out;
  std::vector<int> numbers;
  for (const auto& drive : json["drives"]) numbers.push_back(drive["driveNumber"].get<int>());
  EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3, 4, 5, 7}));
  EXPECT_EQ(json["drives"][0]["mountPoint"].get<std::string>(),
            NarrowText((world_ / "volumes" / "BACKUP").wstring()));
  EXPECT_EQ(json["drives"][0]["columns"][1].get<std::string>(), "KV-D210");
}

TEST_F(SampleWorld, UpdateSendsThePictureAndSavesTheSettingsOnTheDrive) {
  const fs::path picture = world_ / "state" / "panels" / "bridge1.png";
  const std::string before = ReadAll(picture);
  Result update = Kuvlcd({L"update", L"--drive", L"1", L"--line1", L"Wine"});
  ASSERT_EQ(update.status, 0) << update.err;
  const fs::path folder = world_ / "volumes" / "BACKUP" / "TAVIO_LCDMANAGER";
  EXPECT_NE(update.out.find(NarrowText((folder / "LCD_DATA.TXT").wstring())), std::string::npos)
      << update.out;
  const std::string saved = ReadAll(folder / "LCD_DATA.TXT");
  // The file is UTF-16, as the Windows program writes it.
  EXPECT_NE(saved.find(std::string("W\0i\0n\0e\0", 8)), std::string::npos);
  EXPECT_NE(ReadAll(picture), before) << "the panel was sent no picture";
  // What config reads back is what was stored.
  Result config = Kuvlcd({L"config", L"--drive", L"1"});
  ASSERT_EQ(config.status, 0) << config.err;
  EXPECT_NE(config.out.find("\"Wine\""), std::string::npos) << config.out;
}

}  // namespace
}  // namespace kuv
