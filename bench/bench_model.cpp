// The settings files are read for every drive at each scan and written at each update, and a
// whole `kuvlcd update` or `kuvlcd scan` is what a script waits for: these time the two files, a
// scan's settings waits and the whole processes on the sample simulated world. The processes
// timed are this build's, or those of the build KUVLCD_BENCH_BINARY_DIR names, so that the commit
// before a change can be timed in the same run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/model/lcd_data_file.h"
#include "app/model/lcd_model.h"
#include "app/model/ports.h"
#include "app/model/profile_store.h"
#include "app/model/test_service.h"
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
  kuv::SystemVolumeFiles files;
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
  kuv::SystemVolumeFiles files;
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

// Runs a program to its end; its exit status, -1 when it could not run. cpuMs, when given, grows
// by the CPU time the program itself took.
int RunProcess(const std::vector<std::string>& argv, double* cpuMs = nullptr) {
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
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  if (cpuMs) {
    auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    *cpuMs += ms(usage.ru_utime) + ms(usage.ru_stime);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string BinaryDir() {
  const char* other = std::getenv("KUVLCD_BENCH_BINARY_DIR");
  return other && *other ? other : KUVLCD_BINARY_DIR;
}

// A fresh sample world served by panelsvc: no drive has been updated, so no LCD_DATA.TXT exists
// anywhere. The user's runtime folder is the world's own.
struct ServedWorld {
  // initOptions: more options of `kuvlcd sim init`.
  explicit ServedWorld(const std::vector<std::string>& initOptions = {}) {
    if (!std::filesystem::exists(kuvlcd) || !std::filesystem::exists(panelsvc)) return;
    ::setenv("KUVLCD_SIM_WORLD", world.c_str(), 1);
    ::setenv("KUVLCD_SOCKET", socket.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    std::filesystem::create_directory(runtime);
    ::chmod(runtime.c_str(), 0700);
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    std::vector<std::string> init = {kuvlcd, "sim", "init", world};
    init.insert(init.end(), initOptions.begin(), initOptions.end());
    ready = RunProcess(init) == 0 && service.Start(panelsvc, world, socket) &&
            // The Silicon Image adapter gets its filter, as after the program's first start.
            RunProcess({kuvlcd, "request", "--command", "3", "--format", "json"}) == 0;
  }
  ~ServedWorld() {
    service.Stop();
    std::filesystem::remove_all(dir);
  }
  const std::string kuvlcd = BinaryDir() + "/tools/kuvlcd/kuvlcd";
  const std::string panelsvc = BinaryDir() + "/panelsvc/panelsvc";
  const std::string dir = TempDirectory();
  const std::string world = dir + "/world";
  const std::string socket = dir + "/service.sock";
  const std::string runtime = dir + "/run";
  kuv::testing::ServiceProcess service;
  bool ready = false;
};

// kuvlcd update from start to exit against panelsvc on a fresh sample world; drive 1 carries the
// bridge panel, 2 the HID panel and 3 the video-recorder disk. The world does not wait out the tie
// procedure's pauses, so the figure is the program's own cost.
void BM_KuvlcdUpdateProcess(benchmark::State& state) {
  ServedWorld served({"--sleep-scale", "0"});
  if (!served.ready) return state.SkipWithError("kuvlcd or panelsvc is not built or did not start");
  const std::string drive = std::to_string(state.range(0));
  // The first update of a drive writes its settings files; the timed ones find them, and find
  // the panel paths of the last run's scan.
  for (const char* d : {"1", "2", "3"}) RunProcess({served.kuvlcd, "update", "--drive", d});
  int failures = 0;
  double cpuMs = 0;
  for (auto _ : state) {
    failures +=
        RunProcess({served.kuvlcd, "update", "--drive", drive, "--line1", "Bench"}, &cpuMs) != 0;
  }
  // The wall time includes the service's; this is kuvlcd's own part.
  state.counters["kuvlcd_cpu_ms"] = cpuMs / static_cast<double>(state.iterations());
  if (failures != 0) state.SkipWithError("kuvlcd update failed");
}
BENCHMARK(BM_KuvlcdUpdateProcess)
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10)
    ->UseRealTime();

// kuvlcd scan on a fresh sample world: 0 the first scan of a user (no panel paths kept), 1 a
// second scan, which finds the paths the first one kept.
void BM_KuvlcdScanProcess(benchmark::State& state) {
  ServedWorld served;
  if (!served.ready) return state.SkipWithError("kuvlcd or panelsvc is not built or did not start");
  const bool warm = state.range(0) == 1;
  if (warm) RunProcess({served.kuvlcd, "scan"});
  int failures = 0;
  double cpuMs = 0;
  for (auto _ : state) {
    if (!warm) {
      state.PauseTiming();
      std::filesystem::remove(served.runtime + "/kuvlcd-panel-paths");
      state.ResumeTiming();
    }
    failures += RunProcess({served.kuvlcd, "scan"}, &cpuMs) != 0;
  }
  state.counters["kuvlcd_cpu_ms"] = cpuMs / static_cast<double>(state.iterations());
  if (failures != 0) state.SkipWithError("kuvlcd scan failed");
}
BENCHMARK(BM_KuvlcdScanProcess)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->UseRealTime();

class CountingSystem : public kuv::EnvPanelSystem {
 public:
  void Pause(std::chrono::milliseconds duration) override {
    ++pauses;
    EnvPanelSystem::Pause(duration);
  }
  int pauses = 0;
};

class NoRenderer : public kuv::TextRenderer {
 public:
  void RenderTextScreen(kuv::DriveTable&, int) override {}
};

// The scan kuvlcd starts with, in this process, on a fresh sample world where no drive was ever
// updated: the waits for settings files it makes (none are worth waiting for).
void BM_ScanNeverUpdatedDrives(benchmark::State& state) {
  ServedWorld served;
  if (!served.ready) return state.SkipWithError("kuvlcd or panelsvc is not built or did not start");
  kuv::SocketDeviceService service;
  kuv::MemoryProfileStore profile;
  kuv::SystemVolumeFiles files;
  CountingSystem system;
  NoRenderer renderer;
  kuv::ShellHooks hooks;
  kuv::LcdModel model{kuv::ModelPorts{service, profile, files, system, renderer, hooks}};
  int drives = 0;
  for (auto _ : state) {
    model.table = kuv::DriveTable();
    drives = model.ScanDrives(true);
  }
  state.counters["drives"] = drives;
  state.counters["settings_waits_per_scan"] =
      static_cast<double>(system.pauses) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_ScanNeverUpdatedDrives)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace
