// The settings files are read for every drive at each scan and written at each update, and a
// whole `kuvlcd update` is what a script waits for: these time the two files and the whole
// process on the sample simulated world.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/model/lcd_data_file.h"
#include "app/model/ports.h"
#include "common/utf16.h"

extern char** environ;

namespace {

kuv::ScreenConfig TypicalConfig() {
  kuv::ScreenConfig config = kuv::InitialSlotConfig();
  kuv::SetField(config.line1, std::string_view("E:BACKUP"));
  kuv::SetField(config.line2, std::string_view("WDC WD20EZRX-"));
  config.lineType1 = 1;
  config.lineType2 = 3;
  config.lineType3 = 5;
  config.lineType4 = 4;
  config.showHddStatus = 1;
  config.warningTemp = 50;
  kuv::SetField(config.bmpFileName, std::string_view("/home/user/Pictures/tray.bmp"));
  return config;
}

std::string TempDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kuvbench.XXXXXX").string();
  return ::mkdtemp(pattern.data());
}

void BM_LoadLcdData(benchmark::State& state) {
  kuv::DriveRecord drive{};
  const std::string bytes = kuv::EncodeLcdData(drive, TypicalConfig(), 1, 2);
  const std::string dir = TempDirectory();
  kuv::PosixVolumeFiles files;
  int err = 0;
  auto folder = files.OpenFolder(dir, "", kuv::FolderUse::kVolume, false, err);
  kuv::ReplaceFile(*folder, "LCD_DATA.TXT", bytes);
  for (auto _ : state) {
    // As a load does it: the folder opened once, the file read relative to it.
    auto opened = files.OpenFolder(dir, "", kuv::FolderUse::kVolume, false, err);
    std::optional<std::string> read = opened->Read("LCD_DATA.TXT", 1 << 20, err);
    kuv::ScreenConfig config = kuv::InitialSlotConfig();
    kuv::ApplyLcdData(std::span(reinterpret_cast<const std::uint8_t*>(read->data()), read->size()),
                      config, kuv::ClockSnapshot{});
    benchmark::DoNotOptimize(config);
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_LoadLcdData)->Unit(benchmark::kMicrosecond);

// Encoding plus the durable replace (temporary file, fsync, rename) that a save costs.
void BM_SaveLcdData(benchmark::State& state) {
  kuv::DriveRecord drive{};
  const kuv::ScreenConfig config = TypicalConfig();
  const std::string dir = TempDirectory();
  kuv::PosixVolumeFiles files;
  int err = 0;
  auto folder = files.OpenFolder(dir, "", kuv::FolderUse::kVolume, false, err);
  for (auto _ : state) {
    if (kuv::ReplaceFile(*folder, "LCD_DATA.TXT", kuv::EncodeLcdData(drive, config, 1, 2)) != 0) {
      state.SkipWithError("cannot write in the temporary directory");
      break;
    }
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_SaveLcdData)->Unit(benchmark::kMicrosecond);

int RunProcess(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// kuvlcd update from start to exit against panelsvc on a fresh sample world; drive 1 carries the
// bridge panel, 2 the HID panel and 3 the video-recorder disk. The world does not wait out the tie
// procedure's pauses, so the figure is the program's own cost.
void BM_KuvlcdUpdateProcess(benchmark::State& state) {
  const std::string kuvlcd = KUVLCD_BINARY_DIR "/tools/kuvlcd/kuvlcd";
  const std::string panelsvc = KUVLCD_BINARY_DIR "/panelsvc/panelsvc";
  if (!std::filesystem::exists(kuvlcd) || !std::filesystem::exists(panelsvc)) {
    state.SkipWithError("kuvlcd or panelsvc is not built");
    return;
  }
  const std::string dir = TempDirectory();
  const std::string world = dir + "/world";
  ::setenv("KUVLCD_SIM_WORLD", world.c_str(), 1);
  ::setenv("KUVLCD_SOCKET", (dir + "/service.sock").c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
  RunProcess({kuvlcd, "sim", "init", world, "--sleep-scale", "0"});
  std::vector<char*> svcArgs = {const_cast<char*>(panelsvc.c_str()),
                                const_cast<char*>("--foreground"), nullptr};
  pid_t service = 0;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn(&service, panelsvc.c_str(), &actions, nullptr, svcArgs.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  for (int i = 0; i < 100 && !std::filesystem::exists(dir + "/service.sock"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const std::string drive = std::to_string(state.range(0));
  // The first update of a drive writes its settings files; the timed ones find them.
  for (const char* d : {"1", "2", "3"}) RunProcess({kuvlcd, "update", "--drive", d});
  int failures = 0;
  for (auto _ : state) {
    failures += RunProcess({kuvlcd, "update", "--drive", drive, "--line1", "Bench"}) != 0;
  }
  ::kill(service, SIGTERM);
  ::waitpid(service, nullptr, 0);
  std::filesystem::remove_all(dir);
  if (failures != 0) state.SkipWithError("kuvlcd update failed");
}
BENCHMARK(BM_KuvlcdUpdateProcess)
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10)
    ->UseRealTime();

}  // namespace
