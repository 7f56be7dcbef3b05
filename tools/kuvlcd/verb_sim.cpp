// kuvlcd sim ...: makes and inspects simulated worlds (KUVLCD_SIM_WORLD), so the program, the
// service and the tests can run without a drive tray.

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "common/picture_io.h"
#include "panelio/sim/sample_world.h"
#include "panelio/sim/sim_state.h"
#include "panelio/sim/world_plug.h"
#include "tools/kuvlcd/cli.h"

namespace {

// --sleep-scale: how the world's pauses relate to real time, 0 (none) to 10.
double SleepScale(const kuv::cli::Args& args) {
  const std::string text = args.GetOr("sleep-scale", "1");
  char* end = nullptr;
  const double scale = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(scale >= 0 && scale <= 10))
    throw kuv::cli::UsageError("--sleep-scale is a number from 0 to 10");
  return scale;
}

int Init(const kuv::cli::Args& args) {
  const std::string& dir = args.positional()[0];
  kuv::Status s = kuv::sim::WriteSampleWorld(
      dir, {.resetState = !args.Has("keep-state"),
            .sataFilterRegistered = !args.Has("unregistered-sata-filter"),
            .sleepScale = SleepScale(args)});
  if (!s.ok()) throw std::runtime_error(s.ToString());
  std::printf("sample world written to %s\nuse it with: KUVLCD_SIM_WORLD=%s\n", dir.c_str(),
              dir.c_str());
  return 0;
}

int Fault(const kuv::cli::Args& args) {
  const std::string& dir = args.positional()[0];
  if (args.Has("clear")) {
    kuv::Status s = kuv::sim::ClearFaults(dir);
    if (!s.ok()) throw std::runtime_error(s.ToString());
    return 0;
  }
  kuv::sim::Fault fault;
  auto target = args.Get("target");
  if (!target) throw kuv::cli::UsageError("--target disk:N or hid:NAME is needed");
  fault.target = *target;
  const std::string kind = args.GetOr("kind", "");
  if (kind == "refuseLine") {
    fault.kind = kuv::sim::Fault::Kind::kRefuseLine;
    fault.line = static_cast<int>(args.GetIntOr("line", 0));
  } else if (kind == "failOpen") {
    fault.kind = kuv::sim::Fault::Kind::kFailOpen;
  } else if (kind == "unplug") {
    fault.kind = kuv::sim::Fault::Kind::kUnplug;
    fault.afterCommands = static_cast<int>(args.GetIntOr("after", 0));
  } else if (kind == "stall") {
    fault.kind = kuv::sim::Fault::Kind::kStall;
    fault.ms = static_cast<int>(args.GetIntOr("ms", 1000));
  } else if (kind == "swallowPassThrough") {
    fault.kind = kuv::sim::Fault::Kind::kSwallowPassThrough;
  } else {
    throw kuv::cli::UsageError(
        "--kind is refuseLine, failOpen, unplug, stall or swallowPassThrough");
  }
  kuv::Status s = kuv::sim::AddFault(dir, fault);
  if (!s.ok()) throw std::runtime_error(s.ToString());
  return 0;
}

int Panel(const kuv::cli::Args& args) {
  const std::string& dir = args.positional()[0];
  const std::string& name = args.positional()[1];
  auto memory = kuv::sim::ReadPanel(dir, name);
  if (!memory.ok()) throw std::runtime_error(memory.status().ToString());
  kuv::Raster raster;
  std::copy(memory->raster.begin(), memory->raster.end(), raster.begin());
  std::printf("%s", kuv::TextArt(kuv::PictureOfPanelRaster(raster)).c_str());
  std::printf("pictures %llu, lines %llu, stops %llu, last line %d\n",
              static_cast<unsigned long long>(memory->pictures),
              static_cast<unsigned long long>(memory->linesReceived),
              static_cast<unsigned long long>(memory->stops), memory->lastLine);
  std::printf("%s/state/panels/%s.png\n", dir.c_str(), name.c_str());
  return 0;
}

int Plug(const kuv::cli::Args& args, bool plug) {
  const std::string& dir = args.positional()[0];
  const std::string& name = args.positional()[1];
  kuv::Status s = kuv::sim::PlugDevice(dir, name, plug);
  if (!s.ok()) throw std::runtime_error(s.context());
  std::printf("%s %s\n", name.c_str(), plug ? "plugged in" : "unplugged");
  return 0;
}

int PlugIn(const kuv::cli::Args& args) {
  return Plug(args, true);
}
int Unplug(const kuv::cli::Args& args) {
  return Plug(args, false);
}

// Puts a simulated disk into a power mode, or prints its mode and the reads that woke it.
int Power(const kuv::cli::Args& args) {
  const std::string& dir = args.positional()[0];
  const auto disk = args.GetInt("disk");
  if (!disk || *disk < 0 || *disk > 31) throw kuv::cli::UsageError("--disk 0..31 is needed");
  const int number = static_cast<int>(*disk);
  if (auto name = args.Get("mode")) {
    auto mode = kuv::sim::PowerModeFromName(*name);
    if (!mode) throw kuv::cli::UsageError("--mode is active, idle, standby or sleep");
    kuv::Status s = kuv::sim::SetDiskPowerMode(dir, number, *mode);
    if (!s.ok()) throw std::runtime_error(s.ToString());
  }
  auto power = kuv::sim::ReadDiskPower(dir, number);
  if (!power.ok()) throw std::runtime_error(power.status().ToString());
  std::printf("disk %d: %s, woken %llu times\n", number,
              std::string(kuv::sim::PowerModeName(power->mode)).c_str(),
              static_cast<unsigned long long>(power->wakeups));
  return 0;
}

kuv::cli::Registrar init(
    {"sim init",
     "write the sample simulated world",
     "Writes the sample simulated world into DIR: a shelf of drives of real sizes with a "
     "bridge panel on NTFS, an HID panel in a FAT32 tray, ext4 and btrfs data drives, a video "
     "recorder's XFS disk, a locked drive and a failing one. Use it with KUVLCD_SIM_WORLD=DIR "
     "for the service, the program and kuvlcd.",
     {"DIR [--keep-state] [--unregistered-sata-filter] [--sleep-scale X]"},
     {{"",
       {{"keep-state", "", "keep what the devices of an earlier world in DIR remember"},
        {"unregistered-sata-filter", "",
         "leave the SATA filter out, so a scan meets the restart question"},
        {"sleep-scale", "X", "the tie procedure's pauses against real time, 0 to 10 (1)"}}}},
     "",
     Init,
     {},
     {"DIR"}});
kuv::cli::Registrar fault(
    {"sim fault",
     "add a fault to a simulated world, or clear them",
     "Adds a fault to a simulated world for tests, or clears them all.",
     {"DIR --target disk:N|hid:NAME|adapter:ID --kind KIND [--line N] [--after N] [--ms N]",
      "DIR --clear"},
     {{"",
       {{"target", "WHO", "disk:N, hid:NAME or adapter:ID"},
        {"kind", "KIND", "refuseLine, failOpen, unplug, stall or swallowPassThrough"},
        {"line", "N", "refuseLine: the line record refused"},
        {"after", "N", "unplug: the commands served first (0)"},
        {"ms", "N", "stall: how long a reply waits (1000)"},
        {"clear", "", "remove every fault"}}}},
     "",
     Fault,
     {},
     {"DIR"}});
kuv::cli::Registrar panel(
    {"sim panel",
     "show what a simulated panel displays",
     "Prints what a simulated panel shows, as text art, with its counters and the path of its "
     "PNG picture.",
     {"DIR NAME"},
     {},
     "",
     Panel,
     {},
     {"DIR", "NAME"}});
// NAME: a disk's name, its bridge panel's name or an HID panel's name; a tray goes as a whole.
kuv::cli::Registrar plug(
    {"sim plug",
     "plug a simulated device back in",
     "Plugs a device of a simulated world back in: a disk, its bridge panel or an HID panel "
     "by name (a tray goes as a whole). A running program or kuvlcd watch sees it as a device "
     "change.",
     {"DIR NAME"},
     {},
     "",
     PlugIn,
     {},
     {"DIR", "NAME"}});
kuv::cli::Registrar unplug(
    {"sim unplug",
     "unplug a simulated device",
     "Unplugs a device of a simulated world: a disk, its bridge panel or an HID panel by name "
     "(a tray goes as a whole).",
     {"DIR NAME"},
     {},
     "",
     Unplug,
     {},
     {"DIR", "NAME"}});
kuv::cli::Registrar power(
    {"sim power",
     "put a simulated disk to sleep, or show its power mode",
     "Puts a simulated disk into a power mode, or prints its mode and how often reads woke it.",
     {"DIR --disk N [--mode active|idle|standby|sleep]"},
     {{"",
       {{"disk", "N", "the simulated disk's drive number, 0 to 31"},
        {"mode", "MODE", "active, idle, standby or sleep; without it the mode is shown"}}}},
     "",
     Power,
     {},
     {"DIR"}});

}  // namespace
