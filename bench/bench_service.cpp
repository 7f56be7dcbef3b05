// Round trips through the real panelsvc on a sample simulated world: one command-0 request, and
// the drive scan of the program (command 1 for drives 0 to 31).

#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "common/service_client.h"
#include "panelio/sim/sample_world.h"

namespace {

using Clock = std::chrono::steady_clock;

// One service for the whole run, stopped at exit.
class BenchService {
 public:
  BenchService() {
    const std::string binary = KUVLCD_BINARY_DIR "/panelsvc/panelsvc";
    if (::access(binary.c_str(), X_OK) != 0) {
      error_ = "panelsvc is not built in " KUVLCD_BINARY_DIR;
      return;
    }
    char tmpl[] = "/tmp/kuvbenchsvcXXXXXX";
    dir_ = ::mkdtemp(tmpl);
    socket_ = dir_ + "/svc.sock";
    if (!kuv::sim::WriteSampleWorld(dir_ + "/world", {.sleepScale = 0}).ok()) {
      error_ = "cannot write the sample world";
      return;
    }
    std::vector<std::string> env = {"KUVLCD_SIM_WORLD=" + dir_ + "/world",
                                    "KUVLCD_SOCKET=" + socket_};
    std::vector<std::string> args = {binary, "--foreground"};
    std::vector<char*> cargs, cenv;
    for (auto& a : args) cargs.push_back(a.data());
    cargs.push_back(nullptr);
    for (auto& e : env) cenv.push_back(e.data());
    cenv.push_back(nullptr);
    if (::posix_spawn(&pid_, binary.c_str(), nullptr, nullptr, cargs.data(), cenv.data()) != 0) {
      error_ = "cannot start panelsvc";
      return;
    }
    for (int i = 0; i < 500; ++i) {
      kuv::RequestRecord probe = kuv::MakeRequest(0);
      if (kuv::TryExchangeRequest(probe, {socket_, 1, std::chrono::milliseconds(10)}) ==
          kuv::ExchangeOutcome::kAnswered) {
        return;
      }
    }
    error_ = "panelsvc did not answer";
  }
  ~BenchService() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  const std::string& error() const { return error_; }
  const std::string& socket() const { return socket_; }

 private:
  std::string dir_, socket_, error_;
  pid_t pid_ = -1;
};

BenchService& Service() {
  static BenchService service;
  return service;
}

double Median(std::vector<double>& values) {
  if (values.empty()) return 0;
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

void BM_RoundTripCommand0(benchmark::State& state) {
  if (!Service().error().empty()) {
    state.SkipWithError(Service().error().c_str());
    return;
  }
  const kuv::ServiceClientOptions options{Service().socket()};
  std::vector<double> micros;
  for (auto _ : state) {
    kuv::RequestRecord record = kuv::MakeRequest(0);
    auto start = Clock::now();
    if (kuv::TryExchangeRequest(record, options) != kuv::ExchangeOutcome::kAnswered) {
      state.SkipWithError("no answer");
      return;
    }
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  state.counters["median_us"] = Median(micros);
}
BENCHMARK(BM_RoundTripCommand0);

void BM_ScanDrives0To31(benchmark::State& state) {
  if (!Service().error().empty()) {
    state.SkipWithError(Service().error().c_str());
    return;
  }
  const kuv::ServiceClientOptions options{Service().socket()};
  std::vector<double> millis;
  for (auto _ : state) {
    auto start = Clock::now();
    for (std::int32_t drive = 0; drive < 32; ++drive) {
      kuv::RequestRecord record = kuv::GetLcdInfoRequest(drive, u"", true);
      if (kuv::TryExchangeRequest(record, options) != kuv::ExchangeOutcome::kAnswered) {
        state.SkipWithError("no answer");
        return;
      }
      benchmark::DoNotOptimize(record.result);
    }
    millis.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  state.counters["median_ms"] = Median(millis);
}
BENCHMARK(BM_ScanDrives0To31)->Unit(benchmark::kMillisecond);

}  // namespace
