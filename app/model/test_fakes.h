#pragma once
// Fakes of the model's ports for the tests: a service that records every command, a system with
// scripted HID panels and free space, a renderer that stamps the slot into the raster.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <vector>

#include "app/model/lcd_model.h"
#include "common/utf16.h"
#include "panelio/env_test_support.h"

namespace kuv::testing {

struct ServiceCall {
  std::int32_t command = 0;
  std::int32_t driveNumber = -1;
  std::string path;
  std::u16string hidHint;
};

class FakeService : public DeviceService {
 public:
  // Command 1 answers: result and record per drive number; other numbers answer 0.
  std::map<std::int32_t, std::pair<std::int32_t, DriveRecord>> panels;
  // Calls from this index on, and every call while down, find the service unreachable (-1,
  // records as sent).
  std::size_t reachableCalls = SIZE_MAX;
  bool down = false;
  // Connects the client would make: one per answered call, the link's tries per unanswered one.
  int tries = 0;
  // Command 11 and 9 replies change these fields.
  std::uint64_t sectorsTotal = 0, sectorsFree = 0;
  std::uint8_t smartByte = 0;
  std::optional<bool> autorun;  // the last command 10
  std::vector<ServiceCall> calls;
  std::vector<std::array<std::uint8_t, kRequestLineSlots * kRequestLineSlotSize>> sentSlots;

  std::vector<std::int32_t> Commands() const {
    std::vector<std::int32_t> out;
    for (const auto& call : calls) out.push_back(call.command);
    return out;
  }
  // Commands other than 1 and 8, the ones an update or a refresh sends.
  std::vector<std::int32_t> FlowCommands() const {
    std::vector<std::int32_t> out;
    for (const auto& call : calls) {
      if (call.command != 1 && call.command != 8) out.push_back(call.command);
    }
    return out;
  }

  std::int32_t Ping() override { return Record(0) ? 0 : -1; }
  std::int32_t GetLcdInfo(std::int32_t driveNumber, std::int32_t, DriveRecord& info) override {
    if (!Record(1, driveNumber, {}, std::u16string(FieldView(info.hidPath)))) return -1;
    auto it = panels.find(driveNumber);
    if (it == panels.end()) return 0;
    info = it->second.second;
    return it->second.first;
  }
  std::int32_t SendLineData(std::int32_t driveNumber, LineSlots lineSlots) override {
    if (!Record(2, driveNumber)) return -1;
    sentSlots.emplace_back();
    std::copy(lineSlots.begin(), lineSlots.end(), sentSlots.back().begin());
    return 0;
  }
  std::int32_t AddSataFilter() override { return Record(3) ? 1 : -1; }
  std::int32_t CreateFolder(std::u16string_view path) override {
    std::string p = Utf16ToUtf8(path);
    if (!Record(5, -1, p)) return -1;
    std::error_code ec;
    return std::filesystem::create_directory(p, ec) ? 1 : 0;
  }
  std::int32_t DeleteFile(std::u16string_view path) override {
    std::string p = Utf16ToUtf8(path);
    if (!Record(7, -1, p)) return -1;
    return ::unlink(p.c_str()) == 0 ? 1 : -1;
  }
  std::int32_t StopLcdTimer(std::int32_t driveNumber) override {
    return Record(8, driveNumber) ? 0 : -1;
  }
  std::int32_t GetSmartInfo(std::int32_t driveNumber, DriveRecord& info) override {
    if (!Record(9, driveNumber)) return -1;
    info.smartData[0] = smartByte;
    return 1;
  }
  std::int32_t SetAutorun(bool on) override {
    autorun = on;
    return Record(10) ? 1 : -1;
  }
  // Command 13: standby for the drive numbers in asleep, active for the others.
  std::int32_t GetPowerMode(std::int32_t driveNumber) override {
    if (!Record(13, driveNumber)) return -1;
    return asleep.count(driveNumber) ? 0x00 : 0xFF;
  }
  // Command 12 answers as 9 unless the drive number is in asleep.
  std::set<std::int32_t> asleep;
  std::int32_t GetSmartUnlessAsleep(std::int32_t driveNumber, DriveRecord& info) override {
    if (!Record(12, driveNumber)) return -1;
    if (asleep.count(driveNumber)) return kSmartSkippedAsleep;
    info.smartData[0] = smartByte;
    return 1;
  }
  std::int32_t GetSizeFromSector(std::int32_t driveNumber, DriveRecord& info) override {
    if (!Record(11, driveNumber)) return -1;
    info = DriveRecord{};
    info.driveNumber = driveNumber;
    info.totalSectors = sectorsTotal;
    info.freeSectors = sectorsFree;
    return 1;
  }

 private:
  // A call its pass no longer makes is not recorded: it never reaches the socket.
  bool Record(std::int32_t command, std::int32_t driveNumber = -1, std::string path = {},
              std::u16string hidHint = {}) {
    if (!link.MayAsk()) return false;
    const int attempts = link.Attempts(10);
    calls.push_back({command, driveNumber, std::move(path), std::move(hidHint)});
    const bool reached = !down && calls.size() <= reachableCalls;
    tries += reached ? 1 : attempts;
    link.Record(reached);
    return reached;
  }
};

class FakeHidWriter : public HidPanelWriter {
 public:
  FakeHidWriter(std::vector<std::array<std::uint8_t, 65>>& reports, int refuseAt)
      : reports_(reports), refuseAt_(refuseAt) {}
  bool Write(std::span<const std::uint8_t, 65> report, std::string& error) override {
    if (static_cast<int>(reports_.size()) == refuseAt_) {
      error = "device refused the report";
      return false;
    }
    reports_.emplace_back();
    std::copy(report.begin(), report.end(), reports_.back().begin());
    return true;
  }

 private:
  std::vector<std::array<std::uint8_t, 65>>& reports_;
  int refuseAt_;
};

class FakeSystem : public PanelSystem {
 public:
  std::int32_t hidPanels = 0;
  std::map<std::string, int> hidRefuseAt;  // openable paths; -1 never refuses
  std::vector<std::array<std::uint8_t, 65>> hidReports;
  std::vector<std::string> hidOpens;
  std::optional<VolumeSpace> space;
  int pauses = 0;
  std::map<std::string, VolumeSpace> spaceAt;  // a volume's own sizes, else space
  int spaceQueries = 0;                        // calls of FreeSpaces
  std::vector<std::string> spacePaths;         // every path they asked for
  ClockSnapshot clock{9, 5, 30, 2026, 12, 8};

  std::int32_t HidLcdCount() override { return hidPanels; }
  std::unique_ptr<HidPanelWriter> OpenHidPanel(const std::string& path,
                                               std::string& error) override {
    hidOpens.push_back(path);
    auto it = hidRefuseAt.find(path);
    if (it == hidRefuseAt.end()) {
      error = "no such device";
      return nullptr;
    }
    return std::make_unique<FakeHidWriter>(hidReports, it->second);
  }
  std::vector<std::optional<VolumeSpace>> FreeSpaces(
      const std::vector<std::string>& paths) override {
    ++spaceQueries;
    std::vector<std::optional<VolumeSpace>> out;
    for (const std::string& path : paths) {
      spacePaths.push_back(path);
      auto own = spaceAt.find(path);
      out.push_back(own != spaceAt.end() ? std::optional(own->second) : space);
    }
    return out;
  }
  void Pause(std::chrono::milliseconds) override { ++pauses; }
  ClockSnapshot Now() override { return clock; }
  std::u16string UserName() override { return u"tester"; }
  bool AutostartRegistered() override { return autostart; }
  bool autostart = false;
};

// Stamps 0xA0 + slot into every raster byte, so a test can tell which slot was composed.
class StampRenderer : public TextRenderer {
 public:
  std::vector<int> rendered;
  void RenderTextScreen(DriveTable& table, int slot) override {
    rendered.push_back(slot);
    // Like the real renderer, the text screen lands in both rasters.
    table.raster.fill(static_cast<std::uint8_t>(0xA0 + slot));
    table.imageRaster.fill(static_cast<std::uint8_t>(0xA0 + slot));
  }
};

class RecordingHooks : public ShellHooks {
 public:
  int panelWaits = 0, ends = 0, restarts = 0, restartQuestions = 0;
  bool answerYes = false;
  bool mayRegisterSataFilter = true;
  std::vector<int> errors;
  std::vector<std::string> diagnostics;
  std::vector<std::string> unreached;  // why each panel failure was told
  int reachedAgain = 0;
  void StartPanelWait() override { ++panelWaits; }
  bool AskRestart() override {
    ++restartQuestions;
    return answerYes;
  }
  bool MayRegisterSataFilter() override { return mayRegisterSataFilter; }
  void EndProgram() override { ++ends; }
  void RequestRestart() override { ++restarts; }
  void ReportError(int number, const std::string&) override { errors.push_back(number); }
  void Diagnostic(const std::string& line) override { diagnostics.push_back(line); }
  void PanelNotReached(const DriveRecord&, const std::string& why) override {
    unreached.push_back(why);
  }
  void PanelReachedAgain(const DriveRecord&) override { ++reachedAgain; }
};

// The real files, with writes that can be made to fail as on a full or read-only volume, reads
// that fail as on a volume still arriving, and a record of the files read and folders opened.
class FaultyVolumeFiles : public SystemVolumeFiles {
 public:
  int failWritesWith = 0;
  // Each commit takes the next error from here and fails with it without renaming (0 renames).
  std::vector<int> commitErrors;
  // Each read of a file of this name takes the next error from here and fails with it.
  std::map<std::string, std::vector<int>> readErrors;
  std::vector<std::string> reads;        // paths of the files read
  std::vector<std::string> folderOpens;  // paths of the folders opened

  std::unique_ptr<OwnFolder> OpenFolder(const std::string& base, std::string_view folder,
                                        FolderUse use, bool create, int& err) override;
  std::optional<std::string> ReadChosenFile(const std::string& path, std::size_t maxBytes,
                                            int& err) override {
    reads.push_back(path);
    return SystemVolumeFiles::ReadChosenFile(path, maxBytes, err);
  }
};

class FaultyFolder : public OwnFolder {
 public:
  FaultyFolder(FaultyVolumeFiles& files, std::unique_ptr<OwnFolder> real)
      : files_(files), real_(std::move(real)) {}
  const std::string& path() const override { return real_->path(); }
  std::optional<std::string> Read(std::string_view name, std::size_t maxBytes, int& err) override {
    files_.reads.push_back(path() + "/" + std::string(name));
    auto scripted = files_.readErrors.find(std::string(name));
    if (scripted != files_.readErrors.end() && !scripted->second.empty()) {
      err = scripted->second.front();
      scripted->second.erase(scripted->second.begin());
      return std::nullopt;
    }
    return real_->Read(name, maxBytes, err);
  }
  int WriteTemp(std::string_view name, std::string_view bytes, std::string& tempName) override {
    if (files_.failWritesWith != 0) return files_.failWritesWith;
    return real_->WriteTemp(name, bytes, tempName);
  }
  int CommitTemp(const std::string& tempName, std::string_view name) override {
    auto& errors = files_.commitErrors;
    if (!errors.empty()) {
      int err = errors.front();
      errors.erase(errors.begin());
      if (err != 0) return err;
    }
    return real_->CommitTemp(tempName, name);
  }
  int Remove(std::string_view name) override { return real_->Remove(name); }
  void RemoveStaleTemps(std::string_view name) override { real_->RemoveStaleTemps(name); }

 private:
  FaultyVolumeFiles& files_;
  std::unique_ptr<OwnFolder> real_;
};

inline std::unique_ptr<OwnFolder> FaultyVolumeFiles::OpenFolder(const std::string& base,
                                                                std::string_view folder,
                                                                FolderUse use, bool create,
                                                                int& err) {
  folderOpens.push_back(folder.empty() ? base : base + "/" + std::string(folder));
  std::unique_ptr<OwnFolder> real = SystemVolumeFiles::OpenFolder(base, folder, use, create, err);
  if (!real) return nullptr;
  return std::make_unique<FaultyFolder>(*this, std::move(real));
}

// The in-memory profile, with writes or the final flush that can be made to fail as with a full
// disk under the profile.
class FaultyProfileStore : public MemoryProfileStore {
 public:
  std::u16string failWriteOf;  // the value name whose write is refused
  bool failFlush = false;
  bool WriteString(const std::u16string& section, const std::u16string& name,
                   const std::u16string& value) override {
    return MemoryProfileStore::WriteString(section, name, value) && name != failWriteOf;
  }
  bool WriteInt(const std::u16string& section, const std::u16string& name,
                std::int32_t value) override {
    return MemoryProfileStore::WriteInt(section, name, value) && name != failWriteOf;
  }
  bool Flush() override { return !failFlush; }
};

// A temporary directory removed with everything in it at the end of the test.
class TempDir {
 public:
  // Closed to others, as mkdtemp makes it: tests use it as a private runtime folder.
  TempDir() : path_(devtest::MakeTempDir("kuvmodel.")) {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Sets (or, with nullopt, unsets) an environment variable for the scope, then restores it.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) saved_ = old;
    Set(value);
  }
  ~ScopedEnv() { Set(saved_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void Set(const std::optional<std::string>& value) {
#ifdef _WIN32
    // An empty value removes the variable.
    ::_putenv_s(name_, value ? value->c_str() : "");
#else
    if (value) {
      ::setenv(name_, value->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
#endif
  }
  const char* name_;
  std::optional<std::string> saved_;
};

// A drive record as command 1 answers it.
inline DriveRecord Drive(std::int32_t driveNumber, std::int32_t connectionState,
                         std::int32_t panelModel = 1, std::int32_t fileSystemType = kFsNtfs) {
  DriveRecord record{};
  record.driveNumber = driveNumber;
  record.connectionState = connectionState;
  record.panelModel = panelModel;
  record.fileSystemType = fileSystemType;
  SetField(record.friendlyName, std::string_view("WDC WD20EZRX-00D8PB0"));
  SetField(record.serialNumber, std::string_view("WD-WCC4M1234567"));
  SetField(record.volumeLabel, std::string_view("BACKUP"));
  SetField(record.fileSystem, std::string_view(fileSystemType == kFsXfs ? "" : "NTFS"));
  return record;
}

// The model and its fakes in one place.
struct Rig {
  FakeService service;
  FaultyProfileStore profile;
  FaultyVolumeFiles files;
  FakeSystem system;
  StampRenderer renderer;
  RecordingHooks hooks;
  LcdModel model{ModelPorts{service, profile, files, system, renderer, hooks}};
};

}  // namespace kuv::testing
