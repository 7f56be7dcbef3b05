#pragma once
// The world of the simulator: what world.json says is plugged in. Paths in it are relative to the
// world directory (absolute ones are kept); README.md beside this file documents every key.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "panelio/env.h"

namespace kuv::sim {

struct Volume {
  int partition = 1;
  std::string dir;  // absolute; stands for the mount point
  std::string label;
  std::string fileSystem = "NTFS";
  std::optional<std::uint64_t> totalBytes;  // statvfs of dir when absent
  std::optional<std::uint64_t> freeBytes;
  int hangMs = 0;         // statvfs of dir takes this long (a mount whose disk stopped answering)
  bool readWrite = true;  // mounted read-write; false plays a read-only mount
};

struct BridgePanel {
  std::string name;
  std::string idText = "MB86C311";  // READ BUFFER 0x55, 8 bytes, NUL-padded
  std::uint8_t state = 0;           // byte 1 of READ BUFFER 0x51
  std::uint16_t panelWord = 1;      // first word of READ BUFFER 0xE4
};

struct Usb {
  std::uint16_t vendor = 0;
  std::uint16_t product = 0;
  std::string serial = "0000000000000001";
  std::string intermediatePrefix;  // "TVQ1CR\" puts a node between the disk and its USB device
};

enum class Transport { kNone, kFilter, kPlatform, kBridge12, kBridge16 };

// The sense data format in which a disk returns ATA registers: descriptor (0x72), or fixed (0x70),
// which recent kernels give by default.
enum class SenseFormat { kDescriptor, kFixed };

// ATA power modes. A disk in standby or sleep spins up for any read of its media or S.M.A.R.T.
// data; CHECK POWER MODE does not wake it.
enum class PowerMode { kActive, kIdle, kStandby, kSleep };

struct Disk {
  int number = 0;
  std::string name;
  std::string image;                      // absolute; "" reads as zeros
  std::uint64_t sizeBytes = 0;            // image size when 0 and an image is given
  std::uint32_t logicalBlockBytes = 512;  // 4096 for a 4Kn disk
  bool ataStatusSense = false;            // pass-through replies carry the ATA status-return sense
  SenseFormat senseFormat = SenseFormat::kDescriptor;
  // The translation layer returns the registers (CK_COND) without fetching them: all zero.
  bool unfetchedRegisters = false;
  std::string friendlyName;
  ScsiAddress scsiAddress;
  Transport transport = Transport::kNone;
  std::optional<Usb> usb;
  std::string adapter;   // id of an adapter, "" none
  std::string identify;  // absolute paths of 512-byte files, "" none
  std::string smartData;
  std::string smartThresholds;
  bool smartStatusGood = true;
  PowerMode powerMode = PowerMode::kActive;  // at the start, before state/ records a change
  std::vector<Volume> volumes;
  std::optional<BridgePanel> bridgePanel;
};

struct HidPanel {
  std::string name;
  std::string path;  // "sim:hid:<name>" unless given
  std::uint16_t vendor = 0x3E5B;
  std::uint16_t product = 0x1110;
  std::optional<int> disk;  // the drive whose sector reads it reports
  bool capsReadable = true;
  int collections = 1;    // top-level collections: the listing names the panel once for each
  int lateReplies = 0;    // the first this many replies of each handle come lateReplyMs late
  int lateReplyMs = 600;  // past the probe's time-out
};

struct Adapter {
  std::string id;
  std::string instanceId;  // id unless given
  std::string portPath;    // "sim:port:<id>" unless given
  std::vector<std::string> hardwareIds;
  std::string pdoName;  // stored as UTF-16LE with its NUL, as the platform gives it
  std::optional<std::vector<std::string>> upperFilters;  // the list before state/ changes it
};

struct World {
  std::string dir;
  std::vector<Disk> disks;
  std::vector<HidPanel> hidPanels;
  std::vector<Adapter> adapters;
  double sleepScale = 0.0;  // DeviceEnv::Sleep waits duration x this

  const Disk* FindDisk(int number) const;
  const HidPanel* FindHid(std::string_view path) const;
  const Adapter* FindAdapter(std::string_view id) const;
};

// A world as read at one moment; devices opened on it keep it alive while world.json changes.
using WorldPtr = std::shared_ptr<const World>;

// Parses world.json text; dir resolves relative paths. A clear error for malformed JSON, a wrong
// type, an out-of-range number or two devices with the same number, name or path.
Result<World> ParseWorld(std::string_view json, const std::string& dir);

// Reads and parses dir/world.json.
Result<World> LoadWorld(const std::string& dir);

std::string_view TransportName(Transport transport);

// "active", "idle", "standby", "sleep".
std::string_view PowerModeName(PowerMode mode);
std::optional<PowerMode> PowerModeFromName(std::string_view name);

}  // namespace kuv::sim
