// Panel discovery: the GetHidLcdCount and GetLcdInfo exports and the steps they are made of.

#include "panelio/discovery.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>

#include "common/health.h"
#include "common/utf16.h"
#include "panelio/device_node.h"
#include "panelio/disk_helpers.h"
#include "panelio/panelio.h"
#include "panelio/pass_through.h"
#include "panelio/sata_filter.h"
#include "panelio/sector_reader.h"
#include "panelio/smart.h"

namespace kuv {
namespace {

// The friendly-name property is read into 260 bytes, NUL included.
constexpr std::size_t kFriendlyNameUnits = 260 / sizeof(char16_t) - 1;

bool IsPanelController(const HidInfo& info) {
  return info.vendor == kPanelVendorId && info.product == kHidPanelProductId && info.capsReadable;
}

std::uint32_t Megabytes(std::uint64_t bytes) {
  return static_cast<std::uint32_t>(
      std::min<std::uint64_t>(bytes >> 20, std::numeric_limits<std::uint32_t>::max()));
}

// The sector read that makes the drive busy, on a handle of its own, as ReadSector0 does it: one
// logical block from the medium, since a read the page cache answers never reaches the drive.
bool ReadSecondSector(DeviceEnv& env, int driveNumber) {
  auto disk = env.OpenDisk(driveNumber, DiskAccess::kRead);
  if (!disk.ok()) return false;
  return ReadBlockFromMedium(**disk, 1).ok();
}

void IdentifyOnFreshHandle(DeviceEnv& env, int driveNumber) {
  auto disk = env.OpenDisk(driveNumber, DiskAccess::kRead);
  if (!disk.ok()) return;
  AtaSector scratch{};
  PassThroughIdentify(disk->get(), scratch);
}

enum class Attempt { kTied, kFailed, kGone };

Attempt TieAttempt(DeviceEnv& env, HidDevice& hid, int driveNumber, bool& answered) {
  bool gone = false;
  auto fail = [&] { return gone ? Attempt::kGone : Attempt::kFailed; };
  std::optional<std::uint8_t> status = ExchangeProbe(hid, &gone);
  if (status) status = ExchangeProbe(hid, &gone);
  if (!status || (*status & kPanelAnswering) != kPanelAnswering) return fail();
  answered = true;
  for (int round = 0; round < kTieRounds; ++round) {
    if (!ReadSecondSector(env, driveNumber)) return Attempt::kFailed;
    status = ExchangeProbe(hid, &gone);
    if (!status) return fail();
    if (*status != kPanelSawRead) {
      IdentifyOnFreshHandle(env, driveNumber);
      status = ExchangeProbe(hid, &gone);
      if (!status || *status != kPanelSawRead) return fail();
    }
    // The flag must have cleared, or the panel is reporting every drive's reads, not ours.
    status = ExchangeProbe(hid, &gone);
    if (!status || *status == kPanelSawRead) return fail();
  }
  return Attempt::kTied;
}

// The drive letter of the system: here the mount point of the drive's first mounted partition
// among the first four, or of a file system on the whole disk.
std::optional<VolumeInfo> FirstVolume(DeviceEnv& env, int driveNumber) {
  auto volumes = env.ListVolumes();
  if (!volumes.ok()) return std::nullopt;
  for (const VolumeInfo& v : *volumes)
    if (v.driveNumber == driveNumber && v.partition >= 0 && v.partition <= 4 &&
        !v.mountPoint.empty())
      return v;
  return std::nullopt;
}

}  // namespace

std::optional<std::int32_t> VolumeFileSystemType(const VolumeInfo& volume) {
  const std::string& name = volume.fileSystem;
  if (name == "NTFS") return kFsNtfs;
  if (name == "FAT32") return kFsFat32;
  if (name == "FAT") return kFsFat;
  if (name == "exFAT") return kFsExfat;
  if (volume.readWrite) return kFsOtherReadWrite;
  return std::nullopt;
}

namespace {

void FillNamesAndSizes(DeviceEnv& env, Disk& disk, int driveNumber, DriveRecord& r) {
  // The reader runs once: its answer does not change between the two places that use it.
  SectorSizes sizes = ReadDiskSectorSizes(disk);
  r.totalSectors = sizes.totalSectors;
  r.freeSectors = sizes.freeSectors;
  r.fileSystemType = sizes.fileSystemType;
  r.connectionState = kBridgePlain;

  std::u16string name;
  if (auto friendly = env.FriendlyName(driveNumber); friendly.ok())
    name = Utf8ToUtf16(*friendly).substr(0, kFriendlyNameUnits);
  SetField(r.friendlyName, name.empty() ? std::u16string(u"Disk Drive") : name);

  std::optional<VolumeInfo> volume = FirstVolume(env, driveNumber);
  if (volume) SetField(r.driveLetter, volume->mountPoint);

  // A volume mounted read-write takes settings like any other, whatever the sectors hold: only a
  // disk this machine does not write to is described from its sectors.
  const bool writable = volume && volume->readWrite;
  if (sizes.answer == 1 && !writable) {
    if (sizes.fileSystemType != kFsUnknown) {
      r.totalMB = Megabytes(sizes.totalBytes);
      r.freeMB = Megabytes(sizes.freeBytes);
    } else if (auto bytes = disk.SizeBytes(); bytes.ok()) {
      r.totalMB = Megabytes(*bytes);
    }
    SetField(r.driveLetter, u"-");
  } else if (volume) {
    SetField(r.volumeLabel, volume->label);
    SetField(r.fileSystem, volume->fileSystem);
    if (std::optional<std::int32_t> type = VolumeFileSystemType(*volume)) r.fileSystemType = *type;
    // The listing already asked the volume (once, bounded); a hung mount gave no sizes.
    if (volume->totalBytes > 0) {
      r.totalMB = Megabytes(volume->totalBytes);
      r.freeMB = Megabytes(volume->freeBytes);
      r.freeSectors = volume->freeBytes >> 9;
      r.totalSectors = (volume->totalBytes >> 9) + 1;
    }
  }
  if (r.fileSystemType == kFsUnknown) SetField(r.fileSystem, u"-");
}

// Returns the found flag of the search; connectionState and hidPath are set on the record.
bool SearchHidPanels(DeviceEnv& env, int driveNumber, DriveRecord& r,
                     std::span<const std::string> tiedElsewhere) {
  const std::string known = FieldUtf8(r.hidPath);
  auto list = ListPanelControllers(env);
  if (!list.ok()) {
    r.connectionState = kNoPanel;
    return false;
  }
  // The known panel is looked for before any other is probed, and alone: a second scan of a tied
  // drive exchanges no reports at all, whatever order the system lists the panels in.
  // The kernel hands a freed path to the next device plugged in, so a known path counts only while
  // a panel controller is still behind it.
  if (!known.empty()) {
    for (const HidInfo& info : *list) {
      if (info.path == known) {
        r.panelModel = 0;
        r.connectionState = SataFilterOfDrive(env, driveNumber, false).state;
        return true;
      }
    }
  }
  bool answered = false;
  std::vector<std::string> paths;
  std::vector<std::unique_ptr<HidDevice>> handles;
  for (const HidInfo& info : *list) {
    if (std::find(tiedElsewhere.begin(), tiedElsewhere.end(), info.path) != tiedElsewhere.end()) {
      answered = true;
      continue;
    }
    auto hid = env.OpenHid(info.path);
    if (!hid.ok()) continue;
    paths.push_back(info.path);
    handles.push_back(std::move(*hid));
  }
  std::vector<TieCandidate> candidates;
  for (auto& hid : handles) candidates.push_back({.hid = hid.get()});
  std::optional<std::size_t> tied = TieOneOf(env, candidates, driveNumber);
  for (const TieCandidate& c : candidates) answered = answered || c.answered;
  if (tied) {
    SetField(r.hidPath, paths[*tied]);
    r.panelModel = 0;
    r.connectionState = SataFilterOfDrive(env, driveNumber, false).state;
    return true;
  }
  r.connectionState = answered ? kHidUntied : kNoPanel;
  return answered;
}

}  // namespace

std::optional<std::uint8_t> ExchangeProbe(HidDevice& hid, bool* gone) {
  // hidraw queues input reports per handle: a reply that came after an earlier probe's time-out
  // would otherwise be taken for the answer to this one.
  std::array<std::uint8_t, kHidReportBytes> stale{};
  for (int i = 0; i < kMaxStaleReports; ++i) {
    auto n = hid.Read(stale, 0);
    if (!n.ok()) {
      if (gone) *gone = true;
      return std::nullopt;
    }
    if (*n == 0) break;
  }
  std::array<std::uint8_t, kHidReportBytes> report{};
  report[1] = kProbeCommand;
  if (Status s = hid.Write(report); !s.ok()) {
    if (gone && s.code() != ETIMEDOUT) *gone = true;
    return std::nullopt;
  }
  std::array<std::uint8_t, kHidReportBytes> reply{};
  auto n = hid.Read(reply, kProbeReplyTimeoutMs);
  if (!n.ok()) {
    if (gone) *gone = true;
    return std::nullopt;
  }
  if (*n < 3) return std::nullopt;
  return reply[2];
}

Result<std::vector<HidInfo>> ListPanelControllers(DeviceEnv& env) {
  auto list = env.ListHid();
  if (!list.ok()) return list.status();
  std::vector<HidInfo> panels;
  for (const HidInfo& info : *list) {
    bool listed = std::any_of(panels.begin(), panels.end(),
                              [&](const HidInfo& p) { return p.path == info.path; });
    if (IsPanelController(info) && !listed) panels.push_back(info);
  }
  return panels;
}

int CountHidPanels(DeviceEnv& env) {
  auto list = ListPanelControllers(env);
  if (!list.ok()) return 0;
  int count = 0;
  for (const HidInfo& info : *list) {
    auto hid = env.OpenHid(info.path);
    if (!hid.ok()) continue;
    // The first reply may still carry a flag from before; the second is the panel's own state.
    ExchangeProbe(**hid);
    std::optional<std::uint8_t> status = ExchangeProbe(**hid);
    if (status && (*status & kPanelAnswering) == kPanelAnswering) ++count;
  }
  return count;
}

std::optional<std::size_t> TieOneOf(DeviceEnv& env, std::span<TieCandidate> candidates,
                                    int driveNumber) {
  for (int attempt = 0; attempt < kTieAttempts; ++attempt) {
    bool again = false;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
      TieCandidate& c = candidates[i];
      if (c.gone) continue;
      Attempt result = TieAttempt(env, *c.hid, driveNumber, c.answered);
      if (result == Attempt::kTied) return i;
      if (result == Attempt::kGone) c.gone = true;
      if (result == Attempt::kFailed) again = true;
    }
    // Nothing follows the last attempt to wait for.
    if (!again || attempt + 1 == kTieAttempts) break;
    env.Sleep(kTiePause);
  }
  return std::nullopt;
}

TieOutcome TieHidPanel(DeviceEnv& env, HidDevice& hid, int driveNumber) {
  TieCandidate candidate{.hid = &hid};
  if (TieOneOf(env, std::span<TieCandidate>(&candidate, 1), driveNumber)) return TieOutcome::kTied;
  return candidate.answered ? TieOutcome::kAnswered : TieOutcome::kSilent;
}

BridgeFinding RecogniseBridge(DeviceEnv& env, Disk& disk, int driveNumber, DriveRecord& r) {
  BridgeFinding finding;
  // The enclosure's USB identity first: the vendor query goes only to our own bridges, since
  // other devices (cheap USB sticks) can stall on it for the whole time-out.
  std::optional<UsbIdentity> usb = DriveUsbIdentity(env, driveNumber);
  if (!usb || usb->vendor != kPanelVendorId || usb->product == kNonPanelBridgeProductId)
    return finding;
  std::array<std::uint8_t, 8> id{};
  if (QueryPanelId(disk, id) != kPanelOk || !IsBridgeIdText(id)) return finding;
  finding.recognised = true;
  std::array<std::uint8_t, 12> state{};
  if (QueryPanelState(disk, state) == kPanelOk)
    r.connectionState = ConnectionStateFromPanelState(state[1]);
  std::uint16_t word = 0;
  if (QueryPanelWord(disk, word) == kPanelOk) {
    r.panelState = word;
    if ((word & 0xFF) == 1) {
      r.panelModel = PanelModelFromProduct(usb->product);
      finding.found = true;
    }
  }
  return finding;
}

std::int32_t FillLcdInfo(DeviceEnv& env, int driveNumber, DriveRecord* record,
                         std::span<const std::string> tiedElsewhere) {
  if (!record) return 0;
  char16_t hidPath[std::size(DriveRecord{}.hidPath)];
  std::copy(std::begin(record->hidPath), std::end(record->hidPath), hidPath);
  std::memset(static_cast<void*>(record), 0, sizeof *record);
  std::copy(std::begin(hidPath), std::end(hidPath), record->hidPath);
  DriveRecord& r = *record;
  r.driveNumber = driveNumber;
  r.connectionState = 0;
  r.fileSystemType = kFsUnknown;

  // Read-only: nothing here writes to the drive, and udev answers the close of a write-opened disk
  // with a "change" event that would start another scan.
  auto disk = env.OpenDisk(driveNumber, DiskAccess::kRead);
  if (!disk.ok()) {
    KeepErrno(disk.status());
    return 0;
  }
  FillNamesAndSizes(env, **disk, driveNumber, r);

  bool found = false;
  BridgeFinding bridge = RecogniseBridge(env, **disk, driveNumber, r);
  if (bridge.recognised) {
    found = bridge.found;
  } else {
    found = SearchHidPanels(env, driveNumber, r, tiedElsewhere);
  }

  SmartOutcome smart =
      ReadSmart(env, driveNumber,
                {.thresholds = r.smartThresholds, .data = r.smartData, .serial = r.serialNumber});
  if (smart.capable) {
    r.health = DriveHealth(SmartSector(r.smartData), SmartSector(r.smartThresholds));
    r.temperature = DriveTemperature(SmartSector(r.smartData));
  }
  return found ? 1 : 0;
}

std::int32_t GetLcdInfoInScan(std::int32_t driveNumber, DriveRecord* record,
                              std::span<const std::string> tiedElsewhere) {
  errno = 0;
  if (!record) {
    errno = EINVAL;
    return 0;
  }
  return FillLcdInfo(Env(), driveNumber, record, tiedElsewhere);
}

}  // namespace kuv

extern "C" std::int32_t GetHidLcdCount(void) {
  errno = 0;
  return kuv::CountHidPanels(kuv::Env());
}

extern "C" std::int32_t GetLcdInfo(std::int32_t driveNumber, kuv::DriveRecord* info) {
  return kuv::GetLcdInfoInScan(driveNumber, info, {});
}
