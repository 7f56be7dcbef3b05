// The minute refresh runs every minute for every drive while the program sits in the tray: this
// times one pass over 16 bridge drives on a simulated world, through a real panelsvc.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "app/model/headless_session.h"
#include "panelio/sim/sample_world.h"

extern char** environ;

namespace {

constexpr int kDrives = 16;

// The sample world's plain bridge drive, sixteen times, each with its own panel and volume.
bool WriteSixteenDriveWorld(const std::string& world) {
  if (!kuv::sim::WriteSampleWorld(world, {.sleepScale = 0}).ok()) return false;
  std::ifstream in(world + "/world.json");
  nlohmann::json sample = nlohmann::json::parse(in, nullptr, false);
  if (sample.is_discarded()) return false;
  nlohmann::json bridge;
  for (const auto& disk : sample["disks"]) {
    if (disk.value("name", "") == "usb-bridge") bridge = disk;
  }
  if (bridge.is_null()) return false;
  nlohmann::json disks = nlohmann::json::array();
  for (int n = 0; n < kDrives; ++n) {
    nlohmann::json disk = bridge;
    const std::string name = "bench" + std::to_string(n);
    disk["number"] = n;
    disk["name"] = name;
    disk["bridgePanel"]["name"] = name;
    disk["usb"]["serial"] = "SIMBENCH" + std::to_string(n);
    disk["scsiAddress"]["target"] = n;
    disk["volumes"][0]["dir"] = "volumes/" + name;
    disk["volumes"][0]["label"] = name;
    std::filesystem::create_directories(world + "/volumes/" + name);
    disks.push_back(disk);
  }
  sample["disks"] = disks;
  sample["hidPanels"] = nlohmann::json::array();
  std::ofstream(world + "/world.json") << sample.dump(2);
  return true;
}

void BM_MinuteRefreshSixteenDrives(benchmark::State& state) {
  const std::string panelsvc = KUVLCD_BINARY_DIR "/panelsvc/panelsvc";
  if (!std::filesystem::exists(panelsvc)) {
    state.SkipWithError("panelsvc is not built");
    return;
  }
  std::string pattern = (std::filesystem::temp_directory_path() / "kuvbench.XXXXXX").string();
  const std::string dir = ::mkdtemp(pattern.data());
  const std::string world = dir + "/world";
  const std::string socket = dir + "/service.sock";
  ::setenv("KUVLCD_SIM_WORLD", world.c_str(), 1);
  ::setenv("KUVLCD_SOCKET", socket.c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
  if (!WriteSixteenDriveWorld(world)) {
    state.SkipWithError("cannot write the world");
    return;
  }
  std::vector<char*> args = {const_cast<char*>(panelsvc.c_str()), const_cast<char*>("--foreground"),
                             nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t service = 0;
  posix_spawn(&service, panelsvc.c_str(), &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  for (int i = 0; i < 250 && !std::filesystem::exists(socket); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  {
    kuv::HeadlessSession session;
    if (std::int32_t found = session.Start(); found != kDrives) {
      std::fprintf(stderr, "the scan found %d drives\n", found);
      state.SkipWithError("the scan did not find 16 drives");
    } else {
      session.model.MinuteRefresh();  // the first pass writes nothing new, like every later one
      for (auto _ : state) session.model.MinuteRefresh();
      state.counters["drives"] = kDrives;
    }
  }
  ::kill(service, SIGTERM);
  ::waitpid(service, nullptr, 0);
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_MinuteRefreshSixteenDrives)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
