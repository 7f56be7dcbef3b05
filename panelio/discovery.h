#pragma once
// Panel discovery: how many HID panels are attached, and whether a drive carries a memory LCD
// (a bridge panel in its USB enclosure, or an HID panel tied to it by watching the panel's status
// while a sector of the drive is read), with everything the program shows about the drive.

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/drive_record.h"
#include "panelio/env.h"

namespace kuv {

inline constexpr int kHidReportBytes = 65;
inline constexpr std::uint8_t kProbeCommand = 0x41;
inline constexpr std::uint8_t kPanelAnswering = 0x60;  // both bits set: a controller answers
inline constexpr std::uint8_t kPanelSawRead = 0xE0;  // its own drive was read since the last probe
// How long one probe reply is waited for; a controller answers within milliseconds, so a panel
// that stays silent this long is treated as not answering rather than blocking the scan.
inline constexpr int kProbeReplyTimeoutMs = 500;
// At most this many queued reports are dropped before a probe; hidraw keeps fewer per handle.
inline constexpr int kMaxStaleReports = 64;
inline constexpr int kTieAttempts = 5;
inline constexpr int kTieRounds = 5;
inline constexpr std::chrono::milliseconds kTiePause{100};

// The status byte of one probe exchange (drop reports already queued, write the probe report, read
// one reply). nullopt when the write failed or no reply came in time; *gone is set when the device
// has disappeared.
std::optional<std::uint8_t> ExchangeProbe(HidDevice& hid, bool* gone = nullptr);

// The HID interfaces that may be panel controllers (our vendor and product, capabilities
// readable), each path once: hidapi lists an interface once per top-level collection.
Result<std::vector<HidInfo>> ListPanelControllers(DeviceEnv& env);

// Number of HID panel controllers that answer the probe (0 on any enumeration failure).
int CountHidPanels(DeviceEnv& env);

enum class TieOutcome {
  kTied,      // five good rounds: the panel belongs to the drive
  kAnswered,  // the panel answered the probe but did not follow the drive's reads
  kSilent,    // the panel never answered the probe
};

// One panel the tie procedure tries against a drive, and what it saw of it.
struct TieCandidate {
  HidDevice* hid = nullptr;
  bool answered = false;  // it answered the probe at least once
  bool gone = false;      // it disappeared: no further attempts
};

// The tie procedure of HID panels against one drive: up to 5 attempts per panel, each of a probe
// check and 5 rounds of (read the drive's second sector, expect 0xE0, expect it cleared), with
// IDENTIFY DEVICE as a second chance to make the drive busy. The panels take their attempts in
// turn, one round of attempts after the other, and one pause follows each round that is not the
// last, so every panel rests as long between its attempts as when tried alone and the pauses do
// not add up per panel. A panel that stops answering ends its attempt; one that disappears takes
// no more. The index of the panel tied to the drive, nullopt when none could be.
std::optional<std::size_t> TieOneOf(DeviceEnv& env, std::span<TieCandidate> candidates,
                                    int driveNumber);

// TieOneOf for a single panel.
TieOutcome TieHidPanel(DeviceEnv& env, HidDevice& hid, int driveNumber);

// What bridge recognition found on an open drive.
struct BridgeFinding {
  bool recognised = false;  // a bridge panel's enclosure: the HID search is skipped
  bool found = false;       // its panel answered READ BUFFER 0xE4 with low byte 1
};

// Bridge recognition: READ BUFFER 0x55 must hold "MB86C3" and the enclosure must be ours (vendor
// 0x3E5B, any product but 0x1106); then the state byte sets connectionState and the panel word
// panelState and panelModel.
BridgeFinding RecogniseBridge(DeviceEnv& env, Disk& disk, int driveNumber, DriveRecord& record);

// The fileSystemType a mounted volume gives its drive: 1, 2, 3 and 6 for the file systems the
// Windows programs name, 7 for any other one mounted read-write; nullopt for another file system
// mounted read-only, which the volume does not make writable.
std::optional<std::int32_t> VolumeFileSystemType(const VolumeInfo& volume);

// The whole GetLcdInfo for one drive; record->hidPath is read first, and a panel present at that
// path is the drive's without any probe. 1 when a memory LCD belongs to the drive (or an HID panel
// answered that could not be tied, connectionState 8), else 0. tiedElsewhere names the panels the
// caller's scan has already tied to other drives: they are not probed for this one and count as
// panels that answered, which is what probing them would have found.
std::int32_t FillLcdInfo(DeviceEnv& env, int driveNumber, DriveRecord* record,
                         std::span<const std::string> tiedElsewhere = {});

// GetLcdInfo on the process's environment with the panels a scan has tied to other drives (the
// service keeps them per scan); errno as GetLcdInfo leaves it.
std::int32_t GetLcdInfoInScan(std::int32_t driveNumber, DriveRecord* record,
                              std::span<const std::string> tiedElsewhere);

}  // namespace kuv
