// The window's costs a user feels: a keystroke until the preview is redrawn, the program's start
// on the sample world until every panel has been sent, and what the idle program keeps in memory
// and takes in CPU time and wake-ups.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/model/test_service.h"
#include "app/pages/preview_widget.h"
#include "app/pages/text_page_widget.h"
#include "app/shell/main_window.h"

namespace {

namespace fs = std::filesystem;
const std::string kKuvlcd = KUVLCD_BINARY_DIR "/tools/kuvlcd/kuvlcd";
const std::string kPanelsvc = KUVLCD_BINARY_DIR "/panelsvc/panelsvc";

// The sample world with panelsvc serving it, for the whole run.
struct SampleWorld {
  SampleWorld() {
    char pattern[] = "/tmp/kuvbench.XXXXXX";
    dir = ::mkdtemp(pattern);
    const std::string world = dir + "/world";
    const std::string socket = dir + "/svc.sock";
    // The world does not wait out the tie procedure's pauses: the window's own cost is timed.
    const std::string init = kKuvlcd + " sim init " + world + " --sleep-scale 0 >/dev/null";
    if (std::system(init.c_str()) != 0) return;
    ::setenv("KUVLCD_SIM_WORLD", world.c_str(), 1);
    ::setenv("KUVLCD_SOCKET", socket.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    ready = service.Start(kPanelsvc, world, socket);
    // Drives that have been updated once carry LCD_DATA.TXT; a drive without it is given six
    // tries 100 ms apart at every start, which would be timed here instead of the program.
    for (int n = 0; ready && n < 8; ++n) {
      const std::string update =
          kKuvlcd + " update --drive " + std::to_string(n) + " --data-type 0 >/dev/null 2>&1";
      (void)std::system(update.c_str());
    }
  }
  ~SampleWorld() {
    service.Stop();
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  std::string dir;
  kuv::testing::ServiceProcess service;
  bool ready = false;
};

SampleWorld& World() {
  static SampleWorld world;
  return world;
}

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long value = 0;
  while (status >> key) {
    if (key == "VmRSS:") {
      status >> value;
      return value;
    }
    status.ignore(1 << 10, '\n');
  }
  return 0;
}

void BM_KeystrokeToPreview(benchmark::State& state) {
  if (!World().ready) return state.SkipWithError("the sample world could not be served");
  kuv::MainWindow window(kuv::Language::kEnglish);
  if (!window.Initialise()) return state.SkipWithError("the window did not start");
  QLineEdit* edit = nullptr;
  for (QLineEdit* e : window.findChildren<QLineEdit*>()) {
    if (e->accessibleName() == QStringLiteral("Line 1 text") && e->isEnabled()) edit = e;
  }
  if (!edit) return state.SkipWithError("line 1 of the first drive is not free text");
  edit->clear();
  const char keys[] = "ABCDEFGHIJK";
  std::size_t i = 0;
  for (auto _ : state) {
    if (edit->text().size() >= 10) edit->clear();
    // One key press: the edit changes, the model limits and stores it, the preview is composed
    // and the widget's image replaced.
    QTest::keyClick(edit, keys[i++ % 11]);
    benchmark::DoNotOptimize(window.textPage()->preview()->image().constBits());
  }
}
BENCHMARK(BM_KeystrokeToPreview)->Unit(benchmark::kMillisecond);

void BM_StartUntilEveryPanelSent(benchmark::State& state) {
  if (!World().ready) return state.SkipWithError("the sample world could not be served");
  for (auto _ : state) {
    kuv::MainWindow window(kuv::Language::kEnglish);
    if (!window.Initialise()) return state.SkipWithError("the window did not start");
  }
}
BENCHMARK(BM_StartUntilEveryPanelSent)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_IdleResidentMemory(benchmark::State& state) {
  if (!World().ready) return state.SkipWithError("the sample world could not be served");
  kuv::MainWindow window(kuv::Language::kEnglish);
  if (!window.Initialise()) return state.SkipWithError("the window did not start");
  window.show();
  for (auto _ : state) {
    QApplication::processEvents();
  }
  state.counters["resident_MiB"] = static_cast<double>(ResidentKiB()) / 1024.0;
}
BENCHMARK(BM_IdleResidentMemory)->Iterations(1);

// Two whole minutes of the program left alone on the sample world, so that the minute refresh and
// the 61-second slot check fall inside whatever the start: the CPU time it takes (all its
// threads) and how often it waits (voluntary context switches), per minute. Only its timers
// should wake it. Arg 0: hidden in the tray, as it mostly lives; 1: the window on screen.
void BM_Idle(benchmark::State& state) {
  if (!World().ready) return state.SkipWithError("the sample world could not be served");
  kuv::MainWindow window(kuv::Language::kEnglish);
  if (!window.Initialise()) return state.SkipWithError("the window did not start");
  if (state.range(0) == 0) {
    window.hide();
  } else {
    window.show();
  }
  // The start's last repaints and requests are the start's, not the idle program's.
  QTest::qWait(5000);
  constexpr int kSeconds = 120;
  for (auto _ : state) {
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    QEventLoop loop;
    QTimer::singleShot(kSeconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    auto micros = [](const timeval& t) { return t.tv_sec * 1000000.0 + t.tv_usec; };
    const double cpu = micros(after.ru_utime) - micros(before.ru_utime) + micros(after.ru_stime) -
                       micros(before.ru_stime);
    const double scale = 60.0 / kSeconds;
    state.counters["cpu_ms_per_minute"] = cpu / 1000.0 * scale;
    state.counters["wakeups_per_minute"] =
        static_cast<double>(after.ru_nvcsw - before.ru_nvcsw) * scale;
  }
}
BENCHMARK(BM_Idle)->ArgName("shown")->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);

// Selecting, in the window, a drive that was never updated (no LCD_DATA.TXT on it): every drive
// of a fresh sample world is one. Each iteration selects another row, as a click would.
void BM_SelectNeverUpdatedDrive(benchmark::State& state) {
  const char* names[] = {"KUVLCD_SIM_WORLD", "KUVLCD_SOCKET", "XDG_CONFIG_HOME"};
  std::vector<std::optional<std::string>> saved;
  for (const char* name : names) {
    const char* value = std::getenv(name);
    saved.push_back(value ? std::optional<std::string>(value) : std::nullopt);
  }
  {
    char pattern[] = "/tmp/kuvbench.XXXXXX";
    const std::string dir = ::mkdtemp(pattern);
    const std::string world = dir + "/world";
    const std::string socket = dir + "/svc.sock";
    kuv::testing::ServiceProcess service;
    ::setenv("KUVLCD_SIM_WORLD", world.c_str(), 1);
    ::setenv("KUVLCD_SOCKET", socket.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    const bool ready =
        std::system((kKuvlcd + " sim init " + world + " >/dev/null").c_str()) == 0 &&
        service.Start(kPanelsvc, world, socket) &&
        std::system((kKuvlcd + " request --command 3 --format json >/dev/null").c_str()) == 0;
    if (!ready) {
      state.SkipWithError("the fresh sample world could not be served");
    } else {
      kuv::MainWindow window(kuv::Language::kEnglish);
      QTreeWidget* list = window.Initialise() ? window.driveList() : nullptr;
      if (!list || list->topLevelItemCount() < 2) {
        state.SkipWithError("the window did not list two drives");
      } else {
        int row = 0;
        for (auto _ : state) {
          row = (row + 1) % list->topLevelItemCount();
          list->setCurrentItem(list->topLevelItem(row));
        }
        state.counters["target_ms"] = 20;
      }
    }
    service.Stop();
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  for (std::size_t i = 0; i < saved.size(); ++i) {
    if (saved[i]) {
      ::setenv(names[i], saved[i]->c_str(), 1);
    } else {
      ::unsetenv(names[i]);
    }
  }
}
BENCHMARK(BM_SelectNeverUpdatedDrive)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
