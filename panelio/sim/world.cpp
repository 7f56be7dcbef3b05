#include "panelio/sim/world.h"

#include <cerrno>
#include <nlohmann/json.hpp>
#include <set>

#include "panelio/unique_fd.h"

namespace kuv::sim {
namespace {

using nlohmann::json;

// A parse failure with the key path that caused it; caught once in ParseWorld.
struct WorldError {
  std::string message;
};

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
  throw WorldError{where + ": " + what};
}

std::string Resolve(const std::string& dir, const std::string& path) {
  // Rooted is enough: "/data/x.img" names one file on Windows too (on the current drive).
  if (path.empty() || PathOfUtf8(path).has_root_directory()) return path;
  return dir + "/" + path;
}

// A number given as JSON number or as a "0x..." / decimal string, within [lo, hi].
std::uint64_t Number(const json& v, const std::string& where, std::uint64_t lo, std::uint64_t hi) {
  std::uint64_t n = 0;
  if (v.is_number_unsigned()) {
    n = v.get<std::uint64_t>();
  } else if (v.is_number_integer()) {
    if (v.get<std::int64_t>() < 0) Fail(where, "negative");
    n = static_cast<std::uint64_t>(v.get<std::int64_t>());
  } else if (v.is_string()) {
    const std::string& s = v.get_ref<const std::string&>();
    std::size_t used = 0;
    try {
      n = std::stoull(s, &used, 0);
    } catch (const std::exception&) {
      Fail(where, "not a number: \"" + s + "\"");
    }
    if (used != s.size() || s.empty() || s[0] == '-') Fail(where, "not a number: \"" + s + "\"");
  } else {
    Fail(where, "expected a number");
  }
  if (n < lo || n > hi) Fail(where, "out of range");
  return n;
}

const json* Member(const json& obj, const char* key) {
  auto it = obj.find(key);
  return it == obj.end() || it->is_null() ? nullptr : &*it;
}

std::string Str(const json& obj, const char* key, const std::string& where,
                const std::string& fallback = "") {
  const json* v = Member(obj, key);
  if (!v) return fallback;
  if (!v->is_string()) Fail(where + "." + key, "expected a string");
  return v->get<std::string>();
}

bool Bool(const json& obj, const char* key, const std::string& where, bool fallback) {
  const json* v = Member(obj, key);
  if (!v) return fallback;
  if (!v->is_boolean()) Fail(where + "." + key, "expected true or false");
  return v->get<bool>();
}

template <typename T>
T Num(const json& obj, const char* key, const std::string& where, T fallback, std::uint64_t lo,
      std::uint64_t hi) {
  const json* v = Member(obj, key);
  if (!v) return fallback;
  return static_cast<T>(Number(*v, where + "." + key, lo, hi));
}

const json& Obj(const json& v, const std::string& where) {
  if (!v.is_object()) Fail(where, "expected an object");
  return v;
}

const json* Array(const json& obj, const char* key, const std::string& where) {
  const json* v = Member(obj, key);
  if (v && !v->is_array()) Fail(where + "." + key, "expected an array");
  return v;
}

std::vector<std::string> Strings(const json& v, const std::string& where) {
  if (!v.is_array()) Fail(where, "expected an array of strings");
  std::vector<std::string> out;
  for (const json& s : v) {
    if (!s.is_string()) Fail(where, "expected an array of strings");
    out.push_back(s.get<std::string>());
  }
  return out;
}

Transport ParseTransport(const std::string& name, const std::string& where) {
  if (name == "" || name == "none") return Transport::kNone;
  if (name == "filter") return Transport::kFilter;
  if (name == "platform") return Transport::kPlatform;
  if (name == "bridge12") return Transport::kBridge12;
  if (name == "bridge16") return Transport::kBridge16;
  Fail(where, "unknown transport \"" + name + "\"");
}

Disk ParseDisk(const json& v, const std::string& where, const std::string& dir) {
  Obj(v, where);
  Disk d;
  const json* number = Member(v, "number");
  if (!number) Fail(where + ".number", "missing");
  d.number = static_cast<int>(Number(*number, where + ".number", 0, 31));
  d.name = Str(v, "name", where, "disk" + std::to_string(d.number));
  d.image = Resolve(dir, Str(v, "image", where));
  d.sizeBytes = Num<std::uint64_t>(v, "sizeBytes", where, 0, 0, std::uint64_t{1} << 62);
  d.logicalBlockBytes = Num<std::uint32_t>(v, "logicalBlockBytes", where, 512, 512, 4096);
  if ((d.logicalBlockBytes & (d.logicalBlockBytes - 1)) != 0)
    Fail(where + ".logicalBlockBytes", "not a power of two");
  d.ataStatusSense = Bool(v, "ataStatusSense", where, false);
  if (Member(v, "senseFormat")) {
    const std::string format = Str(v, "senseFormat", where);
    if (format != "descriptor" && format != "fixed")
      Fail(where + ".senseFormat", "expected descriptor or fixed");
    d.senseFormat = format == "fixed" ? SenseFormat::kFixed : SenseFormat::kDescriptor;
  }
  d.unfetchedRegisters = Bool(v, "unfetchedRegisters", where, false);
  d.friendlyName = Str(v, "friendlyName", where, "SIM Disk " + std::to_string(d.number));
  d.scsiAddress.port = static_cast<std::uint8_t>(d.number);
  if (const json* a = Member(v, "scsiAddress")) {
    std::string w = where + ".scsiAddress";
    Obj(*a, w);
    d.scsiAddress.port = Num<std::uint8_t>(*a, "port", w, d.scsiAddress.port, 0, 255);
    d.scsiAddress.path = Num<std::uint8_t>(*a, "path", w, 0, 0, 255);
    d.scsiAddress.target = Num<std::uint8_t>(*a, "target", w, 0, 0, 255);
    d.scsiAddress.lun = Num<std::uint8_t>(*a, "lun", w, 0, 0, 255);
  }
  d.transport = ParseTransport(Str(v, "transport", where), where + ".transport");
  if (const json* u = Member(v, "usb")) {
    std::string w = where + ".usb";
    Obj(*u, w);
    Usb usb;
    usb.vendor = Num<std::uint16_t>(*u, "vendor", w, 0, 0, 0xFFFF);
    usb.product = Num<std::uint16_t>(*u, "product", w, 0, 0, 0xFFFF);
    usb.serial = Str(*u, "serial", w, usb.serial);
    usb.intermediatePrefix = Str(*u, "intermediatePrefix", w);
    d.usb = usb;
  }
  d.adapter = Str(v, "adapter", where);
  if (Member(v, "powerMode")) {
    auto mode = PowerModeFromName(Str(v, "powerMode", where));
    if (!mode) Fail(where + ".powerMode", "expected active, idle, standby or sleep");
    d.powerMode = *mode;
  }
  if (const json* ata = Member(v, "ata")) {
    std::string w = where + ".ata";
    Obj(*ata, w);
    d.identify = Resolve(dir, Str(*ata, "identify", w));
    d.smartData = Resolve(dir, Str(*ata, "smartData", w));
    d.smartThresholds = Resolve(dir, Str(*ata, "smartThresholds", w));
    d.smartStatusGood = Bool(*ata, "smartStatusGood", w, true);
  }
  if (const json* vols = Array(v, "volumes", where)) {
    for (std::size_t i = 0; i < vols->size(); ++i) {
      std::string w = where + ".volumes[" + std::to_string(i) + "]";
      const json& e = Obj((*vols)[i], w);
      Volume vol;
      vol.partition = Num<int>(e, "partition", w, 1, 0, 128);
      vol.dir = Resolve(dir, Str(e, "dir", w));
      if (vol.dir.empty()) Fail(w + ".dir", "missing");
      vol.label = Str(e, "label", w);
      vol.fileSystem = Str(e, "fileSystem", w, vol.fileSystem);
      if (Member(e, "totalBytes"))
        vol.totalBytes = Num<std::uint64_t>(e, "totalBytes", w, 0, 0, UINT64_MAX);
      if (Member(e, "freeBytes"))
        vol.freeBytes = Num<std::uint64_t>(e, "freeBytes", w, 0, 0, UINT64_MAX);
      vol.hangMs = Num<int>(e, "hangMs", w, 0, 0, 600000);
      vol.readWrite = Bool(e, "readWrite", w, true);
      d.volumes.push_back(std::move(vol));
    }
  }
  if (const json* b = Member(v, "bridgePanel")) {
    std::string w = where + ".bridgePanel";
    Obj(*b, w);
    BridgePanel p;
    p.name = Str(*b, "name", w, d.name);
    p.idText = Str(*b, "idText", w, p.idText);
    if (p.idText.size() > 8) Fail(w + ".idText", "longer than 8 bytes");
    p.state = Num<std::uint8_t>(*b, "state", w, 0, 0, 255);
    p.panelWord = Num<std::uint16_t>(*b, "panelWord", w, 1, 0, 0xFFFF);
    d.bridgePanel = p;
  }
  return d;
}

HidPanel ParseHid(const json& v, const std::string& where) {
  Obj(v, where);
  HidPanel h;
  h.name = Str(v, "name", where);
  if (h.name.empty()) Fail(where + ".name", "missing");
  h.path = Str(v, "path", where, "sim:hid:" + h.name);
  h.vendor = Num<std::uint16_t>(v, "vendor", where, h.vendor, 0, 0xFFFF);
  h.product = Num<std::uint16_t>(v, "product", where, h.product, 0, 0xFFFF);
  if (Member(v, "disk")) h.disk = Num<int>(v, "disk", where, 0, 0, 31);
  h.capsReadable = Bool(v, "capsReadable", where, true);
  h.collections = Num<int>(v, "collections", where, 1, 1, 8);
  h.lateReplies = Num<int>(v, "lateReplies", where, 0, 0, 1000);
  h.lateReplyMs = Num<int>(v, "lateReplyMs", where, h.lateReplyMs, 0, 10000);
  return h;
}

Adapter ParseAdapter(const json& v, const std::string& where) {
  Obj(v, where);
  Adapter a;
  a.id = Str(v, "id", where);
  if (a.id.empty()) Fail(where + ".id", "missing");
  a.instanceId = Str(v, "instanceId", where, a.id);
  a.portPath = Str(v, "portPath", where, "sim:port:" + a.id);
  if (const json* ids = Member(v, "hardwareIds"))
    a.hardwareIds = Strings(*ids, where + ".hardwareIds");
  a.pdoName = Str(v, "pdoName", where, "\\Device\\SimPort_" + a.id);
  if (const json* f = Member(v, "upperFilters"))
    a.upperFilters = Strings(*f, where + ".upperFilters");
  return a;
}

template <typename T, typename Key>
void RequireUnique(const std::vector<T>& items, Key key, const std::string& what) {
  std::set<decltype(key(items.front()))> seen;
  for (const T& item : items)
    if (!seen.insert(key(item)).second) Fail(what, "two entries share one key");
}

}  // namespace

const Disk* World::FindDisk(int number) const {
  for (const Disk& d : disks)
    if (d.number == number) return &d;
  return nullptr;
}

const HidPanel* World::FindHid(std::string_view path) const {
  for (const HidPanel& h : hidPanels)
    if (h.path == path) return &h;
  return nullptr;
}

const Adapter* World::FindAdapter(std::string_view id) const {
  for (const Adapter& a : adapters)
    if (a.id == id || a.instanceId == id) return &a;
  return nullptr;
}

Result<World> ParseWorld(std::string_view text, const std::string& dir) {
  json root = json::parse(text, nullptr, false);
  if (root.is_discarded()) return Status(EINVAL, "world.json: not valid JSON");
  try {
    Obj(root, "world.json");
    World w;
    w.dir = dir;
    if (const json* disks = Array(root, "disks", "world"))
      for (std::size_t i = 0; i < disks->size(); ++i)
        w.disks.push_back(ParseDisk((*disks)[i], "disks[" + std::to_string(i) + "]", dir));
    if (const json* hid = Array(root, "hidPanels", "world"))
      for (std::size_t i = 0; i < hid->size(); ++i)
        w.hidPanels.push_back(ParseHid((*hid)[i], "hidPanels[" + std::to_string(i) + "]"));
    if (const json* ad = Array(root, "adapters", "world"))
      for (std::size_t i = 0; i < ad->size(); ++i)
        w.adapters.push_back(ParseAdapter((*ad)[i], "adapters[" + std::to_string(i) + "]"));
    if (const json* s = Member(root, "sleepScale")) {
      if (!s->is_number() || s->get<double>() < 0 || s->get<double>() > 10)
        Fail("sleepScale", "expected a number from 0 to 10");
      w.sleepScale = s->get<double>();
    }
    if (!w.disks.empty()) {
      RequireUnique(
          w.disks, [](const Disk& d) { return d.number; }, "disks[].number");
      std::vector<std::string> panels;
      for (const Disk& d : w.disks)
        if (d.bridgePanel) panels.push_back(d.bridgePanel->name);
      for (const HidPanel& h : w.hidPanels) panels.push_back(h.name);
      if (!panels.empty())
        RequireUnique(
            panels, [](const std::string& n) { return n; }, "panel names");
    }
    if (!w.hidPanels.empty())
      RequireUnique(
          w.hidPanels, [](const HidPanel& h) { return h.path; }, "hidPanels[].path");
    if (!w.adapters.empty())
      RequireUnique(
          w.adapters, [](const Adapter& a) { return a.id; }, "adapters[].id");
    for (const Disk& d : w.disks)
      if (!d.adapter.empty() && !w.FindAdapter(d.adapter))
        Fail("disks[" + std::to_string(d.number) + "].adapter", "no adapter \"" + d.adapter + "\"");
    // Panel names and adapter ids become file names under state/.
    for (const Adapter& a : w.adapters)
      if (a.id.find_first_of("/\\") != std::string::npos || a.id[0] == '.')
        Fail("adapters[].id", "not usable as a file name: \"" + a.id + "\"");
    for (const HidPanel& h : w.hidPanels)
      if (h.name.find_first_of("/\\") != std::string::npos || h.name[0] == '.')
        Fail("hidPanels[].name", "not usable as a file name: \"" + h.name + "\"");
    for (const Disk& d : w.disks)
      if (d.bridgePanel && (d.bridgePanel->name.empty() ||
                            d.bridgePanel->name.find_first_of("/\\") != std::string::npos ||
                            d.bridgePanel->name[0] == '.'))
        Fail("bridgePanel.name", "not usable as a file name: \"" + d.bridgePanel->name + "\"");
    return w;
  } catch (const WorldError& e) {
    return Status(EINVAL, "world.json: " + e.message);
  } catch (const json::exception& e) {
    return Status(EINVAL, std::string("world.json: ") + e.what());
  }
}

Result<World> LoadWorld(const std::string& dir) {
  const std::string path = dir + "/world.json";
  UniqueFd fd(OpenFd(path, O_RDONLY));
  if (!fd.valid()) return PosixError("open " + path, errno);
  std::string text;
  if (int err = ReadAll(fd.get(), text); err != 0) return PosixError("read " + path, err);
  return ParseWorld(text, dir);
}

std::string_view TransportName(Transport transport) {
  switch (transport) {
    case Transport::kNone:
      return "none";
    case Transport::kFilter:
      return "filter";
    case Transport::kPlatform:
      return "platform";
    case Transport::kBridge12:
      return "bridge12";
    case Transport::kBridge16:
      return "bridge16";
  }
  return "none";
}

std::string_view PowerModeName(PowerMode mode) {
  switch (mode) {
    case PowerMode::kActive:
      return "active";
    case PowerMode::kIdle:
      return "idle";
    case PowerMode::kStandby:
      return "standby";
    case PowerMode::kSleep:
      return "sleep";
  }
  return "active";
}

std::optional<PowerMode> PowerModeFromName(std::string_view name) {
  for (PowerMode mode :
       {PowerMode::kActive, PowerMode::kIdle, PowerMode::kStandby, PowerMode::kSleep}) {
    if (name == PowerModeName(mode)) return mode;
  }
  return std::nullopt;
}

}  // namespace kuv::sim
