// The tie procedure's pauses at real speed (sleepScale 1): the program's scan of the sample world
// through panelsvc, cold (no panel path known, as every new kuvlcd process starts) and warm (every
// path known from the scan before, as the program's later scans run). Each prints the pauses the
// simulator counted per scan and the scan's wall time.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/model/headless_session.h"
#include "panelio/sim/sample_world.h"
#include "panelio/sim/sim_state.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// panelsvc on a sample world whose pauses take their real time, for the whole run.
class PausingWorld {
 public:
  PausingWorld() {
    const std::string panelsvc = KUVLCD_BINARY_DIR "/panelsvc/panelsvc";
    if (::access(panelsvc.c_str(), X_OK) != 0) {
      error_ = "panelsvc is not built in " KUVLCD_BINARY_DIR;
      return;
    }
    std::string pattern = (std::filesystem::temp_directory_path() / "kuvbench-XXXXXX").string();
    dir_ = ::mkdtemp(pattern.data());
    world_ = dir_ + "/world";
    if (!kuv::sim::WriteSampleWorld(world_, {.sleepScale = 1}).ok()) {
      error_ = "cannot write the sample world";
      return;
    }
    ::setenv("KUVLCD_SIM_WORLD", world_.c_str(), 1);
    ::setenv("KUVLCD_SOCKET", (dir_ + "/service.sock").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir_ + "/config").c_str(), 1);
    std::vector<char*> args = {const_cast<char*>(panelsvc.c_str()),
                               const_cast<char*>("--foreground"), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    ::posix_spawn(&pid_, panelsvc.c_str(), &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    for (int i = 0; i < 250 && !std::filesystem::exists(dir_ + "/service.sock"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!std::filesystem::exists(dir_ + "/service.sock")) error_ = "panelsvc did not come up";
  }
  ~PausingWorld() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  const std::string& error() const { return error_; }

  std::uint64_t Pauses() const {
    auto pauses = kuv::sim::ReadPauses(world_);
    return pauses.ok() ? pauses->count : 0;
  }

 private:
  std::string dir_, world_, error_;
  pid_t pid_ = -1;
};

PausingWorld& World() {
  static PausingWorld world;
  return world;
}

// One scan timed, its pauses and wall time added to the totals.
template <typename Scan>
void Measure(Scan&& scan, std::uint64_t& pauses, double& millis) {
  const std::uint64_t before = World().Pauses();
  const auto start = Clock::now();
  scan();
  millis += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  pauses += World().Pauses() - before;
}

void Report(benchmark::State& state, std::uint64_t pauses, double millis) {
  const double scans = static_cast<double>(state.iterations());
  state.counters["pauses"] = static_cast<double>(pauses) / scans;
  state.counters["wall_ms"] = millis / scans;
}

void BM_ColdScanPauses(benchmark::State& state) {
  if (!World().error().empty()) {
    state.SkipWithError(World().error().c_str());
    return;
  }
  std::uint64_t pauses = 0;
  double millis = 0;
  for (auto _ : state) {
    kuv::HeadlessSession session;
    Measure([&] { session.Start(); }, pauses, millis);
  }
  Report(state, pauses, millis);
}
BENCHMARK(BM_ColdScanPauses)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_WarmScanPauses(benchmark::State& state) {
  if (!World().error().empty()) {
    state.SkipWithError(World().error().c_str());
    return;
  }
  kuv::HeadlessSession session;
  session.Start();
  std::uint64_t pauses = 0;
  double millis = 0;
  for (auto _ : state) Measure([&] { session.model.ScanDrives(false); }, pauses, millis);
  Report(state, pauses, millis);
}
BENCHMARK(BM_WarmScanPauses)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace
