#include "panelio/sim/sim_state.h"

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <nlohmann/json.hpp>

#include "common/picture_io.h"
#include "panelio/file_io.h"
#include "panelio/unique_fd.h"

namespace kuv::sim {
namespace {

using nlohmann::json;

std::uint8_t ReverseBits(std::uint8_t b) {
  b = static_cast<std::uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<std::uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return static_cast<std::uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

Status MakeStateDir(const std::string& path) {
  if (int err = MakeDir(path); err != 0 && err != EEXIST) return PosixError("create " + path, err);
  return {};
}

const char* KindName(Fault::Kind kind) {
  switch (kind) {
    case Fault::Kind::kRefuseLine:
      return "refuseLine";
    case Fault::Kind::kFailOpen:
      return "failOpen";
    case Fault::Kind::kUnplug:
      return "unplug";
    case Fault::Kind::kStall:
      return "stall";
    case Fault::Kind::kSwallowPassThrough:
      return "swallowPassThrough";
  }
  return "failOpen";
}

std::optional<Fault::Kind> KindFromName(const std::string& name) {
  if (name == "refuseLine") return Fault::Kind::kRefuseLine;
  if (name == "failOpen") return Fault::Kind::kFailOpen;
  if (name == "unplug") return Fault::Kind::kUnplug;
  if (name == "stall") return Fault::Kind::kStall;
  if (name == "swallowPassThrough") return Fault::Kind::kSwallowPassThrough;
  return std::nullopt;
}

std::string Hex(std::span<const std::uint8_t> bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 15]);
  }
  return out;
}

bool FromHex(const std::string& text, std::span<std::uint8_t> out) {
  if (text.size() != out.size() * 2) return false;
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (std::size_t i = 0; i < out.size(); ++i) {
    int hi = nibble(text[2 * i]), lo = nibble(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[i] = static_cast<std::uint8_t>(hi << 4 | lo);
  }
  return true;
}

}  // namespace

bool PanelMemory::TakeLine(std::span<const std::uint8_t> record, int fallbackIndex) {
  if (record.size() < 16 || record[0] != 0x4C || record[1] != 0x10 || record[2] != 0x80)
    return false;
  // The panel places a row by the line number inside the record (1 to 96, bits reversed).
  int line = ReverseBits(record[3]);
  int index = (line >= 1 && line <= kPanelLines) ? line - 1 : fallbackIndex;
  if (index < 0 || index >= kPanelLines) return false;
  std::copy_n(record.begin() + 4, kRowBytes, raster.begin() + index * kRowBytes);
  received[static_cast<std::size_t>(index)] = true;
  ++linesReceived;
  lastLine = index;
  return true;
}

bool PanelMemory::Complete() const {
  for (bool r : received)
    if (!r) return false;
  return true;
}

namespace {

// How recently a file may have changed for its stamp to prove nothing changed since: well over
// the tick of any clock a local file system stamps with.
constexpr std::int64_t kRacyWindowNs = 100'000'000;

bool Racy(const FileStamp& stamp) {
  return FileClockNowNs() - stamp.modifiedNs < kRacyWindowNs;
}

}  // namespace

Result<bool> StampedFile::Refresh() {
  FileStamp st;
  if (int err = StampOf(path_, st); err != 0) {
    if (err != ENOENT) return PosixError("stat " + path_, err);
    bool changed = !known_ || text_.has_value();
    known_ = true;
    racy_ = false;
    text_.reset();
    return changed;
  }
  if (known_ && text_ && !racy_ && st.SameVersion(stamp_)) return false;
  UniqueFd fd(OpenFd(path_, O_RDONLY));
  if (!fd.valid()) return PosixError("open " + path_, errno);
  // The stamp of what is read: a change after it shows as another stamp next time.
  if (int err = StampOfFd(fd.get(), st); err != 0) return PosixError("stat " + path_, err);
  std::string text;
  if (int err = ReadAll(fd.get(), text); err != 0) return PosixError("read " + path_, err);
  bool changed = !known_ || !text_ || *text_ != text;
  known_ = true;
  racy_ = Racy(st);
  stamp_ = st;
  text_ = std::move(text);
  return changed;
}

struct StateDir::Shared {
  explicit Shared(std::string d) : dir(std::move(d)), faultsFile(dir + "/faults.json") {}

  const std::string dir;
  // flock belongs to an open file: the threads of one process take turns on the mutex first.
  std::mutex lockMutex;
  UniqueFd lockFd;
  std::mutex faultsMutex;
  StampedFile faultsFile;
  Result<std::vector<Fault>> faults = Status(EIO, "unread");
};

StateDir::StateDir(std::string worldDir)
    : shared_(std::make_shared<Shared>(std::move(worldDir) + "/state")) {}

const std::string& StateDir::dir() const {
  return shared_->dir;
}

Status StateDir::Locked(const std::function<Status()>& body) const {
  const std::string& dir = shared_->dir;
  std::lock_guard<std::mutex> turn(shared_->lockMutex);
  // A state folder removed meanwhile (a sample world written again) gets a new lock file, which
  // every process must then share.
  FileStamp st;
  if (shared_->lockFd.valid() && (StampOfFd(shared_->lockFd.get(), st) != 0 || st.links == 0))
    shared_->lockFd.reset();
  if (!shared_->lockFd.valid()) {
    std::string path = dir + "/.lock";
    shared_->lockFd.reset(OpenFd(path, O_RDWR | O_CREAT, 0666));
    if (!shared_->lockFd.valid() && errno == ENOENT) {
      if (Status s = MakeStateDir(dir); !s.ok()) return s;
      shared_->lockFd.reset(OpenFd(path, O_RDWR | O_CREAT, 0666));
    }
    if (!shared_->lockFd.valid()) return PosixError("open " + path, errno);
  }
  const int fd = shared_->lockFd.get();
  if (int err = LockFd(fd); err != 0) return PosixError("lock " + dir + "/.lock", err);
  Status result = body();
  UnlockFd(fd);
  return result;
}

Result<std::optional<std::string>> StateDir::Read(const std::string& rel) const {
  std::string path = dir() + "/" + rel;
  UniqueFd fd(OpenFd(path, O_RDONLY));
  if (!fd.valid()) {
    if (errno == ENOENT) return std::optional<std::string>();
    return PosixError("open " + path, errno);
  }
  std::string text;
  if (int err = ReadAll(fd.get(), text); err != 0) return PosixError("read " + path, err);
  return std::optional<std::string>(std::move(text));
}

namespace {

// Opens a state file, creating the state folder and the file's own folder only when missing.
UniqueFd OpenCreating(const std::string& dir, const std::string& rel, int flags, Status& why) {
  std::string path = dir + "/" + rel;
  UniqueFd fd(OpenFd(path, flags, 0666));
  if (!fd.valid() && errno == ENOENT && (flags & O_CREAT)) {
    if (Status s = MakeStateDir(dir); !s.ok()) {
      why = s;
      return fd;
    }
    if (std::size_t slash = rel.find('/'); slash != std::string::npos) {
      if (Status s = MakeStateDir(dir + "/" + rel.substr(0, slash)); !s.ok()) {
        why = s;
        return fd;
      }
    }
    fd.reset(OpenFd(path, flags, 0666));
  }
  if (!fd.valid()) why = PosixError("open " + path, errno);
  return fd;
}

// Writes bytes over the file's start; the file held oldSize bytes, which a shorter text cuts.
Status WriteAt0(int fd, const std::string& path, std::string_view bytes, std::size_t oldSize) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    std::ptrdiff_t n = WriteAtOffset(fd, bytes.data() + done, bytes.size() - done, done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return PosixError("write " + path, n < 0 ? errno : EIO);
    done += static_cast<std::size_t>(n);
  }
  if (bytes.size() < oldSize) {
    if (int err = ResizeFd(fd, bytes.size()); err != 0) return PosixError("truncate " + path, err);
  }
  return {};
}

}  // namespace

Status StateDir::Replace(const std::string& rel, std::string_view bytes) const {
  std::string temp = rel + ".tmp" + std::to_string(ProcessId());
  Status why;
  UniqueFd fd = OpenCreating(dir(), temp, O_WRONLY | O_CREAT | O_TRUNC, why);
  if (!fd.valid()) return why;
  std::string tempPath = dir() + "/" + temp;
  if (int err = WriteAll(fd.get(), bytes); err != 0) {
    RemoveFileAt(tempPath);
    return PosixError("write " + tempPath, err);
  }
  fd.reset();
  std::string path = dir() + "/" + rel;
  if (int err = RenameOver(tempPath, path); err != 0) {
    RemoveFileAt(tempPath);
    return PosixError("rename " + tempPath, err);
  }
  return {};
}

Status StateDir::Rewrite(const std::string& rel, std::string_view bytes) const {
  Status why;
  // Not O_TRUNC: ext4 flushes a file truncated to nothing and written again when it is closed.
  UniqueFd fd = OpenCreating(dir(), rel, O_WRONLY | O_CREAT, why);
  if (!fd.valid()) return why;
  FileStamp st;
  if (int err = StampOfFd(fd.get(), st); err != 0)
    return PosixError("stat " + dir() + "/" + rel, err);
  return WriteAt0(fd.get(), dir() + "/" + rel, bytes, static_cast<std::size_t>(st.size));
}

Status StateDir::Edit(const std::string& rel,
                      const std::function<Status(std::optional<std::string>&)>& edit) const {
  std::string path = dir() + "/" + rel;
  UniqueFd fd(OpenFd(path, O_RDWR));
  if (!fd.valid() && errno != ENOENT) return PosixError("open " + path, errno);
  std::optional<std::string> text;
  if (fd.valid()) {
    text.emplace();
    if (int err = ReadAll(fd.get(), *text); err != 0) return PosixError("read " + path, err);
    // A file left empty by a writer that never got to write counts as none.
    if (text->empty()) text.reset();
  }
  const std::optional<std::string> before = text;
  if (Status s = edit(text); !s.ok()) return s;
  if (text == before || !text) return {};
  if (!fd.valid()) return Rewrite(rel, *text);
  return WriteAt0(fd.get(), path, *text, before ? before->size() : 0);
}

namespace {

Result<std::vector<Fault>> ParseFaults(const std::optional<std::string>& text,
                                       const std::string& path) {
  std::vector<Fault> faults;
  if (!text) return faults;
  json root = json::parse(*text, nullptr, false);
  if (!root.is_array()) return Status(EINVAL, path + ": expected an array");
  for (const json& f : root) {
    if (!f.is_object() || !f.contains("target") || !f["target"].is_string() ||
        !f.contains("kind") || !f["kind"].is_string())
      return Status(EINVAL, path + ": each fault needs a target and a kind");
    auto kind = KindFromName(f["kind"].get<std::string>());
    if (!kind) return Status(EINVAL, path + ": unknown kind");
    Fault fault;
    fault.target = f["target"].get<std::string>();
    fault.kind = *kind;
    auto number = [&](const char* key) {
      return f.contains(key) && f[key].is_number_integer() ? f[key].get<int>() : 0;
    };
    fault.line = number("line");
    fault.afterCommands = number("afterCommands");
    fault.ms = std::max(0, number("ms"));
    faults.push_back(fault);
  }
  return faults;
}

Result<DiskCounters> ParseCounters(const std::optional<std::string>& text,
                                   const std::string& path) {
  DiskCounters c;
  if (!text) return c;
  json root = json::parse(*text, nullptr, false);
  if (!root.is_object()) return Status(EINVAL, path + ": malformed");
  c.mediumReads = root.value("mediumReads", std::uint64_t{0});
  c.changeEvents = root.value("changeEvents", std::uint64_t{0});
  c.partitionEvents = root.value("partitionEvents", std::uint64_t{0});
  c.timedOutCommands = root.value("timedOutCommands", std::uint64_t{0});
  c.timedOutSeconds = root.value("timedOutSeconds", std::uint64_t{0});
  c.openHandles = root.value("openHandles", std::int64_t{0});
  if (auto pages = root.find("cachedPages"); pages != root.end() && pages->is_array())
    for (const auto& p : *pages)
      if (p.is_number_unsigned()) c.cachedPages.push_back(p.get<std::uint64_t>());
  return c;
}

std::string CountersText(const DiskCounters& c) {
  json root = {{"mediumReads", c.mediumReads},         {"changeEvents", c.changeEvents},
               {"partitionEvents", c.partitionEvents}, {"timedOutCommands", c.timedOutCommands},
               {"timedOutSeconds", c.timedOutSeconds}, {"openHandles", c.openHandles},
               {"cachedPages", c.cachedPages}};
  return root.dump() + "\n";
}

std::string CountersRel(int diskNumber) {
  return "disks/" + std::to_string(diskNumber) + ".json";
}

}  // namespace

// Asked before nearly every simulated command: read again only when the file was replaced.
Result<std::vector<Fault>> StateDir::Faults() const {
  std::lock_guard<std::mutex> lock(shared_->faultsMutex);
  auto changed = shared_->faultsFile.Refresh();
  if (!changed.ok()) return changed.status();
  if (*changed || !shared_->faults.ok())
    shared_->faults = ParseFaults(shared_->faultsFile.text(), shared_->faultsFile.path());
  return shared_->faults;
}

Status StateDir::SetFaults(const std::vector<Fault>& faults) const {
  json root = json::array();
  for (const Fault& f : faults) {
    json item = {{"target", f.target}, {"kind", KindName(f.kind)}};
    if (f.kind == Fault::Kind::kRefuseLine) item["line"] = f.line;
    if (f.kind == Fault::Kind::kUnplug) item["afterCommands"] = f.afterCommands;
    if (f.kind == Fault::Kind::kStall) item["ms"] = f.ms;
    root.push_back(item);
  }
  return Replace("faults.json", root.dump(2) + "\n");
}

Result<DiskCounters> StateDir::Counters(int diskNumber) const {
  const std::string rel = CountersRel(diskNumber);
  auto text = Read(rel);
  if (!text.ok()) return text.status();
  return ParseCounters(*text, dir() + "/" + rel);
}

Status StateDir::EditCounters(int diskNumber,
                              const std::function<void(DiskCounters&)>& change) const {
  const std::string rel = CountersRel(diskNumber);
  return Edit(rel, [&](std::optional<std::string>& text) -> Status {
    auto counters = ParseCounters(text, dir() + "/" + rel);
    if (!counters.ok()) return counters.status();
    DiskCounters before = *counters;
    change(*counters);
    if (counters->mediumReads == before.mediumReads &&
        counters->changeEvents == before.changeEvents &&
        counters->partitionEvents == before.partitionEvents &&
        counters->timedOutCommands == before.timedOutCommands &&
        counters->timedOutSeconds == before.timedOutSeconds &&
        counters->openHandles == before.openHandles && counters->cachedPages == before.cachedPages)
      return {};
    text = CountersText(*counters);
    return {};
  });
}

Result<DiskPower> StateDir::Power(const Disk& disk) const {
  const std::string rel = "power/" + disk.name + ".json";
  auto text = Read(rel);
  if (!text.ok()) return text.status();
  DiskPower power{disk.powerMode, 0};
  if (!*text) return power;
  json root = json::parse(**text, nullptr, false);
  std::optional<PowerMode> mode;
  if (root.is_object() && root.contains("mode") && root["mode"].is_string())
    mode = PowerModeFromName(root["mode"].get<std::string>());
  if (!mode) return Status(EINVAL, dir() + "/" + rel + ": malformed");
  power.mode = *mode;
  if (root.contains("wakeups") && root["wakeups"].is_number_unsigned())
    power.wakeups = root["wakeups"].get<std::uint64_t>();
  return power;
}

Status StateDir::SetPower(const Disk& disk, const DiskPower& power) const {
  json root = {{"mode", PowerModeName(power.mode)}, {"wakeups", power.wakeups}};
  return Rewrite("power/" + disk.name + ".json", root.dump() + "\n");
}

namespace {

Result<Pauses> ParsePauses(const std::optional<std::string>& text, const std::string& path) {
  Pauses pauses;
  if (!text) return pauses;
  json root = json::parse(*text, nullptr, false);
  if (!root.is_object()) return Status(EINVAL, path + ": malformed");
  pauses.count = root.value("pauses", std::uint64_t{0});
  pauses.askedMs = root.value("askedMs", std::uint64_t{0});
  return pauses;
}

}  // namespace

Status StateDir::CountPause(std::chrono::milliseconds asked) const {
  return Edit("pauses.json", [&](std::optional<std::string>& text) -> Status {
    auto pauses = ParsePauses(text, dir() + "/pauses.json");
    if (!pauses.ok()) return pauses.status();
    ++pauses->count;
    pauses->askedMs += static_cast<std::uint64_t>(std::max<std::int64_t>(asked.count(), 0));
    text = json{{"pauses", pauses->count}, {"askedMs", pauses->askedMs}}.dump() + "\n";
    return {};
  });
}

Result<Pauses> StateDir::CountedPauses() const {
  auto text = Read("pauses.json");
  if (!text.ok()) return text.status();
  return ParsePauses(*text, dir() + "/pauses.json");
}

Result<PanelMemory> StateDir::Panel(const std::string& name) const {
  auto text = Read("panels/" + name + ".json");
  if (!text.ok()) return text.status();
  PanelMemory memory;
  if (!*text) return memory;
  json root = json::parse(**text, nullptr, false);
  auto bad = [&] { return Status(EINVAL, dir() + "/panels/" + name + ".json: malformed"); };
  if (!root.is_object() || !root.contains("raster") || !root["raster"].is_string() ||
      !FromHex(root["raster"].get<std::string>(), memory.raster))
    return bad();
  if (root.contains("received") && root["received"].is_array()) {
    for (const json& i : root["received"]) {
      if (!i.is_number_integer() || i.get<int>() < 0 || i.get<int>() >= kPanelLines) return bad();
      memory.received[i.get<std::size_t>()] = true;
    }
  }
  auto count = [&](const char* key) {
    return root.contains(key) && root[key].is_number_unsigned() ? root[key].get<std::uint64_t>()
                                                                : std::uint64_t{0};
  };
  memory.linesReceived = count("linesReceived");
  memory.pictures = count("pictures");
  memory.stops = count("stops");
  memory.lastLine = root.contains("lastLine") && root["lastLine"].is_number_integer()
                        ? root["lastLine"].get<int>()
                        : -1;
  return memory;
}

Status StateDir::SetPanel(const std::string& name, const PanelMemory& memory, bool picture) const {
  json received = json::array();
  for (int i = 0; i < kPanelLines; ++i)
    if (memory.received[static_cast<std::size_t>(i)]) received.push_back(i);
  json root = {{"raster", Hex(memory.raster)},
               {"received", received},
               {"linesReceived", memory.linesReceived},
               {"pictures", memory.pictures},
               {"stops", memory.stops},
               {"lastLine", memory.lastLine}};
  if (picture) {
    Raster raster;
    std::copy(memory.raster.begin(), memory.raster.end(), raster.begin());
    // The snapshot shows what a person facing the panel would see.
    Picture pic = PictureOfPanelRaster(raster);
    std::vector<std::uint8_t> pbm = EncodePbm(pic);
    // Encoding the PNG costs far more than the whole transfer, so a picture the files already
    // show is not written again.
    auto shown = Read("panels/" + name + ".pbm");
    bool same =
        shown.ok() && *shown &&
        std::equal(pbm.begin(), pbm.end(), (*shown)->begin(), (*shown)->end(),
                   [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); });
    FileStamp shownPng;
    if (!same || StampOf(dir() + "/panels/" + name + ".png", shownPng) != 0) {
      std::vector<std::uint8_t> png = EncodePng(pic, 4);
      if (png.empty()) return Status(EIO, "encode the picture of panel " + name);
      if (Status s = Replace("panels/" + name + ".png",
                             {reinterpret_cast<const char*>(png.data()), png.size()});
          !s.ok())
        return s;
      if (Status s = Replace("panels/" + name + ".pbm",
                             {reinterpret_cast<const char*>(pbm.data()), pbm.size()});
          !s.ok())
        return s;
    }
  }
  return Rewrite("panels/" + name + ".json", root.dump() + "\n");
}

namespace {

std::string HidRel(const std::string& name) {
  return "hid/" + name + ".json";
}

bool FlagIn(const std::optional<std::string>& text) {
  return text && text->find("true") != std::string::npos;
}

}  // namespace

Result<bool> StateDir::TakeHidFlag(const std::string& name) const {
  bool flag = false;
  Status s = Edit(HidRel(name), [&](std::optional<std::string>& text) -> Status {
    flag = FlagIn(text);
    if (flag) text = "{\"flagE0\":false}\n";
    return {};
  });
  if (!s.ok()) return s;
  return flag;
}

Status StateDir::RaiseHidFlag(const std::string& name) const {
  return Edit(HidRel(name), [](std::optional<std::string>& text) -> Status {
    if (!FlagIn(text)) text = "{\"flagE0\":true}\n";
    return {};
  });
}

Result<std::vector<std::string>> StateDir::HiddenPaths() const {
  auto text = Read("hidden.json");
  if (!text.ok()) return text.status();
  std::vector<std::string> set;
  if (!*text) return set;
  json root = json::parse(**text, nullptr, false);
  if (!root.is_array()) return Status(EINVAL, dir() + "/hidden.json: malformed");
  for (const auto& item : root)
    if (item.is_string()) set.push_back(item.get<std::string>());
  return set;
}

Status StateDir::SetHiddenPaths(const std::vector<std::string>& paths) const {
  return Replace("hidden.json", json(paths).dump(2) + "\n");
}

Result<std::optional<std::string>> StateDir::UpperFilters(const std::string& adapterId) const {
  return Read("adapters/" + adapterId + ".filters");
}

Status StateDir::SetUpperFilters(const std::string& adapterId, std::string_view multiString) const {
  return Replace("adapters/" + adapterId + ".filters", multiString);
}

namespace {
constexpr const char* kAutostartEntry = "autostart/KuvLcdManager.desktop";
}  // namespace

Result<std::optional<std::string>> StateDir::AutostartEntry() const {
  return Read(kAutostartEntry);
}

Status StateDir::SetAutostartEntry(const std::optional<std::string>& text) const {
  if (text) return Replace(kAutostartEntry, *text);
  std::string path = dir() + "/" + kAutostartEntry;
  if (int err = RemoveFileAt(path); err != 0 && err != ENOENT)
    return PosixError("delete " + path, err);
  return {};
}

Status AddFault(const std::string& worldDir, const Fault& fault) {
  StateDir state(worldDir);
  return state.Locked([&]() -> Status {
    auto faults = state.Faults();
    if (!faults.ok()) return faults.status();
    faults->push_back(fault);
    return state.SetFaults(*faults);
  });
}

Status ClearFaults(const std::string& worldDir) {
  StateDir state(worldDir);
  return state.Locked([&] { return state.SetFaults({}); });
}

namespace {

// What read answers from the world's state, read with the world's lock held.
template <typename T, typename Read>
Result<T> ReadLocked(const std::string& worldDir, Read read) {
  StateDir state(worldDir);
  Result<T> value = Status(EIO, "unread");
  Status s = state.Locked([&]() -> Status {
    value = read(state);
    return value.status();
  });
  if (!s.ok()) return s;
  return value;
}

}  // namespace

Result<DiskCounters> ReadDiskCounters(const std::string& worldDir, int diskNumber) {
  return ReadLocked<DiskCounters>(
      worldDir, [&](const StateDir& state) { return state.Counters(diskNumber); });
}

namespace {

Result<Disk> WorldDisk(const std::string& worldDir, int diskNumber) {
  auto world = LoadWorld(worldDir);
  if (!world.ok()) return world.status();
  const Disk* disk = world->FindDisk(diskNumber);
  if (!disk) return Status(ENODEV, "no disk " + std::to_string(diskNumber) + " in the world");
  return *disk;
}

}  // namespace

Status SetDiskPowerMode(const std::string& worldDir, int diskNumber, PowerMode mode) {
  auto disk = WorldDisk(worldDir, diskNumber);
  if (!disk.ok()) return disk.status();
  StateDir state(worldDir);
  return state.Locked([&]() -> Status {
    auto power = state.Power(*disk);
    if (!power.ok()) return power.status();
    power->mode = mode;
    return state.SetPower(*disk, *power);
  });
}

Result<DiskPower> ReadDiskPower(const std::string& worldDir, int diskNumber) {
  auto disk = WorldDisk(worldDir, diskNumber);
  if (!disk.ok()) return disk.status();
  return ReadLocked<DiskPower>(worldDir, [&](const StateDir& state) { return state.Power(*disk); });
}

Result<Pauses> ReadPauses(const std::string& worldDir) {
  return ReadLocked<Pauses>(worldDir, [](const StateDir& state) { return state.CountedPauses(); });
}

Result<PanelMemory> ReadPanel(const std::string& worldDir, const std::string& name) {
  return ReadLocked<PanelMemory>(worldDir,
                                 [&](const StateDir& state) { return state.Panel(name); });
}

}  // namespace kuv::sim
