#include "panelio/sim/sample_world.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "panelio/unique_fd.h"

namespace kuv::sim {
namespace {

using nlohmann::json;

constexpr std::uint64_t kMiB = 1024 * 1024;

void PutLe16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void PutLe32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}
void PutBe32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}
void PutBe64(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v) {
  for (int i = 0; i < 8; ++i)
    b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (56 - 8 * i));
}

// ATA strings hold two characters per word, the first in the high byte.
void PutAtaString(std::vector<std::uint8_t>& b, int word, int words, const std::string& text) {
  std::string padded = text;
  padded.resize(static_cast<std::size_t>(words) * 2, ' ');
  for (int i = 0; i < words; ++i) {
    std::size_t at = static_cast<std::size_t>(word + i) * 2;
    b[at] = static_cast<std::uint8_t>(padded[static_cast<std::size_t>(i) * 2 + 1]);
    b[at + 1] = static_cast<std::uint8_t>(padded[static_cast<std::size_t>(i) * 2]);
  }
}

void SetChecksum(std::vector<std::uint8_t>& sector) {
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < 511; ++i) sum = static_cast<std::uint8_t>(sum + sector[i]);
  sector[511] = static_cast<std::uint8_t>(0x100 - sum);
}

Status WriteFile(const std::string& path, std::span<const std::uint8_t> bytes) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd.valid()) return PosixError("create " + path, errno);
  if (::write(fd.get(), bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
    return PosixError("write " + path, errno ? errno : EIO);
  return {};
}

// A sparse image: only the given sectors hold data, the rest is a hole.
Status WriteImage(const std::string& path, std::uint64_t size,
                  const std::vector<std::pair<std::uint64_t, std::vector<std::uint8_t>>>& sectors) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd.valid()) return PosixError("create " + path, errno);
  if (::ftruncate(fd.get(), static_cast<off_t>(size)) != 0)
    return PosixError("size " + path, errno);
  for (const auto& [offset, bytes] : sectors)
    if (::pwrite(fd.get(), bytes.data(), bytes.size(), static_cast<off_t>(offset)) !=
        static_cast<ssize_t>(bytes.size()))
      return PosixError("write " + path, errno ? errno : EIO);
  return {};
}

std::vector<std::uint8_t> Mbr(std::uint8_t type, std::uint32_t start, std::uint32_t sectors) {
  std::vector<std::uint8_t> s(512, 0);
  s[446] = 0x00;
  s[450] = type;
  PutLe32(s, 454, start);
  PutLe32(s, 458, sectors);
  s[510] = 0x55;
  s[511] = 0xAA;
  return s;
}

std::vector<std::uint8_t> NtfsBoot(std::uint32_t sectors) {
  std::vector<std::uint8_t> s(512, 0);
  const std::uint8_t jump[] = {0xEB, 0x52, 0x90, 'N', 'T', 'F', 'S', ' ', ' ', ' ', ' '};
  std::memcpy(s.data(), jump, sizeof jump);
  PutLe16(s, 11, 512);
  s[13] = 8;
  s[21] = 0xF8;
  PutLe32(s, 40, sectors - 1);
  s[510] = 0x55;
  s[511] = 0xAA;
  return s;
}

std::vector<std::uint8_t> Fat32Boot(std::uint32_t sectors, std::uint32_t fatSectors) {
  std::vector<std::uint8_t> s(512, 0);
  const std::uint8_t jump[] = {0xEB, 0x58, 0x90, 'm', 'k', 'f', 's', '.', 'f', 'a', 't'};
  std::memcpy(s.data(), jump, sizeof jump);
  PutLe16(s, 11, 512);
  s[13] = 8;           // sectors per cluster
  PutLe16(s, 14, 32);  // reserved sectors
  s[16] = 2;           // FATs
  s[21] = 0xF8;
  PutLe32(s, 32, sectors);
  PutLe32(s, 36, fatSectors);
  PutLe32(s, 44, 2);  // root cluster
  PutLe16(s, 48, 1);  // FSInfo sector
  s[66] = 0x29;
  std::memcpy(s.data() + 71, "TRAY       FAT32   ", 19);
  s[510] = 0x55;
  s[511] = 0xAA;
  return s;
}

std::vector<std::uint8_t> FsInfo(std::uint32_t freeClusters) {
  std::vector<std::uint8_t> s(512, 0);
  std::memcpy(s.data(), "RRaA", 4);
  std::memcpy(s.data() + 484, "rrAa", 4);
  PutLe32(s, 488, freeClusters);
  PutLe32(s, 492, 3);
  PutLe32(s, 508, 0xAA550000);
  return s;
}

std::vector<std::uint8_t> XfsSuperblock(std::uint32_t blockSize, std::uint64_t blocks,
                                        std::uint64_t freeBlocks) {
  std::vector<std::uint8_t> s(512, 0);
  std::memcpy(s.data(), "XFSB", 4);
  PutBe32(s, 4, blockSize);
  PutBe64(s, 8, blocks);
  PutBe64(s, 144, freeBlocks);
  return s;
}

// The ext2/3/4 superblock sits 1024 bytes into the partition: this is that sector.
std::vector<std::uint8_t> ExtSuperblockSector(std::uint32_t blocks, std::uint32_t freeBlocks,
                                              std::uint32_t logBlockSize) {
  std::vector<std::uint8_t> s(512, 0);
  PutLe32(s, 4, blocks);
  PutLe32(s, 12, freeBlocks);
  PutLe32(s, 24, logBlockSize);
  PutLe16(s, 56, 0xEF53);
  return s;
}

Status MakeDirs(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  if (ec) return Status(ec.value(), "create " + path);
  return {};
}

Status WriteAta(const std::string& dir, const std::string& name, const std::string& model,
                const std::string& serial, int temperature, int reallocated) {
  std::string base = dir + "/ata/" + name;
  if (Status s = MakeDirs(base); !s.ok()) return s;
  if (Status s = WriteFile(base + "/identify.bin", SampleIdentify(model, serial)); !s.ok())
    return s;
  if (Status s = WriteFile(base + "/data.bin", SampleSmartData(temperature, reallocated)); !s.ok())
    return s;
  return WriteFile(base + "/thresholds.bin", SampleSmartThresholds());
}

json AtaFiles(const std::string& name) {
  return {{"identify", "ata/" + name + "/identify.bin"},
          {"smartData", "ata/" + name + "/data.bin"},
          {"smartThresholds", "ata/" + name + "/thresholds.bin"}};
}

}  // namespace

std::vector<std::uint8_t> SampleIdentify(const std::string& model, const std::string& serial) {
  std::vector<std::uint8_t> s(512, 0);
  PutLe16(s, 0 * 2, 0x0040);
  PutAtaString(s, 10, 10, serial);
  PutAtaString(s, 23, 4, "SIM1.0");
  PutAtaString(s, 27, 20, model);
  PutLe16(s, 80 * 2, 0x01F0);  // ATA/ATAPI-4 to ATA8-ACS
  PutLe16(s, 82 * 2, 0x346B);  // S.M.A.R.T. feature set supported (bit 0)
  PutLe16(s, 85 * 2, 0x3469);  // and enabled
  s[510] = 0xA5;               // integrity word: signature, then the checksum
  SetChecksum(s);
  return s;
}

std::vector<std::uint8_t> SampleSmartData(int temperature, int reallocated) {
  std::vector<std::uint8_t> s(512, 0);
  PutLe16(s, 0, 0x0010);
  struct Entry {
    std::uint8_t id;
    std::uint16_t flags;
    std::uint8_t current, worst;
    std::uint32_t raw;
  };
  const Entry entries[] = {
      {1, 0x000F, 100, 100, 0},
      // Past a thousand reallocated sectors the normalised value falls under its threshold of
      // 36: the drive is failing.
      {5, 0x0033,
       static_cast<std::uint8_t>(reallocated >= 1000 ? 30
                                 : reallocated > 0   ? 90
                                                     : 100),
       static_cast<std::uint8_t>(reallocated >= 1000 ? 30 : 90),
       static_cast<std::uint32_t>(reallocated)},
      {9, 0x0032, 97, 97, 2811},
      {12, 0x0032, 99, 99, 412},
      {194, 0x0022, static_cast<std::uint8_t>(100 - temperature), 60,
       static_cast<std::uint32_t>(temperature)},
      {197, 0x0012, 100, 100, 0},
  };
  std::size_t at = 2;
  for (const Entry& e : entries) {
    s[at] = e.id;
    PutLe16(s, at + 1, e.flags);
    s[at + 3] = e.current;
    s[at + 4] = e.worst;
    PutLe32(s, at + 5, e.raw);
    at += 12;
  }
  s[362] = 0x00;  // off-line data collection status
  SetChecksum(s);
  return s;
}

std::vector<std::uint8_t> SampleSmartThresholds() {
  std::vector<std::uint8_t> s(512, 0);
  PutLe16(s, 0, 0x0010);
  const std::uint8_t entries[][2] = {{1, 6}, {5, 36}, {9, 0}, {12, 20}, {194, 0}, {197, 0}};
  std::size_t at = 2;
  for (const auto& e : entries) {
    s[at] = e[0];
    s[at + 1] = e[1];
    at += 12;
  }
  SetChecksum(s);
  return s;
}

Status WriteSampleWorld(const std::string& dir, bool resetState) {
  for (const char* sub : {"", "/disks", "/volumes/usb-bridge", "/volumes/tray-fat32"})
    if (Status s = MakeDirs(dir + sub); !s.ok()) return s;
  if (resetState) {
    std::error_code ec;
    std::filesystem::remove_all(dir + "/state", ec);
    if (ec) return Status(ec.value(), "clear " + dir + "/state");
  }

  // Images are sparse: the sizes are what the drives claim, the files hold a few sectors.
  constexpr std::uint32_t kStart = 2048;
  constexpr std::uint64_t kBridgeSize = 512 * kMiB;
  if (Status s = WriteImage(dir + "/disks/usb-bridge.img", kBridgeSize,
                            {{0, Mbr(0x07, kStart, kBridgeSize / 512 - kStart)},
                             {kStart * 512ull, NtfsBoot(kBridgeSize / 512 - kStart)}});
      !s.ok())
    return s;
  constexpr std::uint64_t kTraySize = 1024 * kMiB;
  constexpr std::uint32_t kFatSectors = kTraySize / 512 - kStart;
  if (Status s = WriteImage(dir + "/disks/tray-fat32.img", kTraySize,
                            {{0, Mbr(0x0C, kStart, kFatSectors)},
                             {kStart * 512ull, Fat32Boot(kFatSectors, 2040)},
                             {(kStart + 1) * 512ull, FsInfo(200000)}});
      !s.ok())
    return s;
  constexpr std::uint64_t kRecorderSize = 2048 * kMiB;
  if (Status s = WriteImage(dir + "/disks/recorder-xfs.img", kRecorderSize,
                            {{0, Mbr(0x83, kStart, kRecorderSize / 512 - kStart)},
                             {kStart * 512ull, XfsSuperblock(4096, 523776, 401234)}});
      !s.ok())
    return s;

  constexpr std::uint64_t kBridgeExtSize = 1024 * kMiB;
  if (Status s = WriteImage(dir + "/disks/usb-ext4.img", kBridgeExtSize,
                            {{0, Mbr(0x83, kStart, kBridgeExtSize / 512 - kStart)},
                             {(kStart + 2) * 512ull, ExtSuperblockSector(261888, 190000, 2)}});
      !s.ok())
    return s;

  if (Status s = WriteAta(dir, "system", "SIM SYSTEM SSD 256", "SIM00000000", 31, 0); !s.ok())
    return s;
  if (Status s = WriteAta(dir, "usb-bridge", "SIM HDD 2000 USB", "    SIMB0001", 36, 0); !s.ok())
    return s;
  if (Status s = WriteAta(dir, "tray-fat32", "SIM HDD 1000 TRAY", "SIMT0002", 41, 0); !s.ok())
    return s;
  if (Status s = WriteAta(dir, "recorder-xfs", "SIM HDD 2000 AV", "SIMR0003", 47, 12); !s.ok())
    return s;
  if (Status s = WriteAta(dir, "usb-locked", "SIM HDD 500 USB", "SIMB0004", 33, 0); !s.ok())
    return s;
  if (Status s = WriteAta(dir, "usb-ext4", "SIM HDD 1000 USB", "SIMB0005", 38, 1480); !s.ok())
    return s;
  if (Status s = WriteAta(dir, "usb-plain", "SIM HDD 320 USB", "  SIMU0006", 29, 0); !s.ok())
    return s;
  if (Status s = WriteAta(dir, "tray-nofilter", "SIM HDD 750 TRAY", "SIMT0007", 44, 0); !s.ok())
    return s;

  json world = {
      {"sleepScale", 0},
      {"adapters",
       {{{"id", "ahci"},
         {"instanceId", "PCI\\VEN_8086&DEV_2922&SUBSYS_00000000&REV_02\\3&11583659&0&FA"},
         {"hardwareIds",
          {"PCI\\VEN_8086&DEV_2922&SUBSYS_00000000&REV_02", "PCI\\VEN_8086&DEV_2922"}},
         {"pdoName", "\\Device\\NTPNP_PCI0010"}},
        {{"id", "sil3132"},
         {"instanceId", "PCI\\VEN_1095&DEV_3132&SUBSYS_71321095&REV_01\\4&2A6E0B2D&0&00E2"},
         {"hardwareIds",
          {"PCI\\VEN_1095&DEV_3132&SUBSYS_71321095&REV_01", "PCI\\VEN_1095&DEV_3132"}},
         {"pdoName", "\\Device\\NTPNP_PCI0021"},
         {"upperFilters", {"KuvSATAFil"}}},
        {{"id", "sil3512"},
         {"instanceId", "PCI\\VEN_1095&DEV_3512&SUBSYS_35121095&REV_01\\4&1F0A2C3D&0&00E3"},
         {"hardwareIds",
          {"PCI\\VEN_1095&DEV_3512&SUBSYS_35121095&REV_01", "PCI\\VEN_1095&DEV_3512"}},
         {"pdoName", "\\Device\\NTPNP_PCI0022"}}}},
      {"disks",
       {{{"number", 0},
         {"name", "system"},
         {"friendlyName", "SIM SYSTEM SSD 256"},
         {"sizeBytes", 256ull * 1024 * kMiB},
         {"transport", "platform"},
         {"adapter", "ahci"},
         {"scsiAddress", {{"port", 0}, {"path", 0}, {"target", 0}, {"lun", 0}}},
         {"ata", AtaFiles("system")}},
        {{"number", 1},
         {"name", "usb-bridge"},
         {"friendlyName", "KUV USB Device"},
         {"image", "disks/usb-bridge.img"},
         {"transport", "bridge16"},
         {"usb",
          {{"vendor", "0x3E5B"},
           {"product", "0x1101"},
           {"serial", "SIMB0001"},
           {"intermediatePrefix", "TVQ1CR\\"}}},
         {"scsiAddress", {{"port", 4}, {"path", 0}, {"target", 0}, {"lun", 0}}},
         {"ata", AtaFiles("usb-bridge")},
         {"volumes",
          {{{"dir", "volumes/usb-bridge"},
            {"label", "USB-HDD"},
            {"fileSystem", "NTFS"},
            {"totalBytes", 536870912 - 1048576},
            {"freeBytes", 401604608}}}},
         {"bridgePanel",
          {{"name", "bridge1"}, {"idText", "MB86C311"}, {"state", 0}, {"panelWord", 1}}}},
        {{"number", 2},
         {"name", "tray-fat32"},
         {"friendlyName", "SIM HDD 1000 TRAY"},
         {"image", "disks/tray-fat32.img"},
         {"transport", "platform"},
         {"adapter", "ahci"},
         {"scsiAddress", {{"port", 0}, {"path", 0}, {"target", 1}, {"lun", 0}}},
         {"ata", AtaFiles("tray-fat32")},
         {"volumes",
          {{{"dir", "volumes/tray-fat32"},
            {"label", "TRAY"},
            {"fileSystem", "FAT32"},
            {"totalBytes", 1072693248},
            {"freeBytes", 819200000}}}}},
        {{"number", 3},
         {"name", "recorder-xfs"},
         {"friendlyName", "SIM HDD 2000 AV"},
         {"image", "disks/recorder-xfs.img"},
         {"transport", "filter"},
         {"adapter", "sil3132"},
         {"scsiAddress", {{"port", 2}, {"path", 0}, {"target", 1}, {"lun", 0}}},
         {"ata", AtaFiles("recorder-xfs")}},
        // A locked bridge panel in an enclosure that knows only the 12-byte ATA PASS-THROUGH.
        {{"number", 4},
         {"name", "usb-locked"},
         {"friendlyName", "KUV USB Device"},
         {"sizeBytes", 500ull * 1024 * kMiB},
         {"transport", "bridge12"},
         {"usb", {{"vendor", "0x3E5B"}, {"product", "0x1104"}, {"serial", "SIMB0004"}}},
         {"scsiAddress", {{"port", 5}, {"path", 0}, {"target", 0}, {"lun", 0}}},
         {"ata", AtaFiles("usb-locked")},
         {"bridgePanel",
          {{"name", "bridge4"}, {"idText", "MB86C311"}, {"state", "0x05"}, {"panelWord", 1}}}},
        // An unlocked bridge panel on a disk a video recorder formatted with ext4.
        {{"number", 5},
         {"name", "usb-ext4"},
         {"friendlyName", "KUV USB Device"},
         {"image", "disks/usb-ext4.img"},
         {"transport", "bridge16"},
         {"usb", {{"vendor", "0x3E5B"}, {"product", "0x1105"}, {"serial", "SIMB0005"}}},
         {"scsiAddress", {{"port", 6}, {"path", 0}, {"target", 0}, {"lun", 0}}},
         {"ata", AtaFiles("usb-ext4")},
         {"bridgePanel",
          {{"name", "bridge5"}, {"idText", "MB86C311"}, {"state", "0x01"}, {"panelWord", 1}}}},
        // Our enclosure with product id 0x1106 answers like a bridge panel but carries none.
        {{"number", 6},
         {"name", "usb-plain"},
         {"friendlyName", "KUV USB Device"},
         {"sizeBytes", 320ull * 1024 * kMiB},
         {"transport", "bridge12"},
         {"usb", {{"vendor", "0x3E5B"}, {"product", "0x1106"}, {"serial", "SIMU0006"}}},
         {"scsiAddress", {{"port", 7}, {"path", 0}, {"target", 0}, {"lun", 0}}},
         {"ata", AtaFiles("usb-plain")},
         {"bridgePanel", {{"name", "plain6"}, {"idText", "MB86C311"}, {"panelWord", 0}}}},
        // A drive tray on a Silicon Image adapter whose filter is not installed yet.
        {{"number", 7},
         {"name", "tray-nofilter"},
         {"friendlyName", "SIM HDD 750 TRAY"},
         {"sizeBytes", 750ull * 1024 * kMiB},
         {"transport", "filter"},
         {"adapter", "sil3512"},
         {"scsiAddress", {{"port", 3}, {"path", 0}, {"target", 0}, {"lun", 0}}},
         {"ata", AtaFiles("tray-nofilter")}}}},
      {"hidPanels",
       {{{"name", "tray1"}, {"path", "sim:hid:tray1"}, {"disk", 2}},
        {{"name", "tray2"}, {"path", "sim:hid:tray2"}, {"disk", 3}},
        {{"name", "tray3"}, {"path", "sim:hid:tray3"}, {"disk", 7}}}},
  };
  std::string text = world.dump(2) + "\n";
  return WriteFile(dir + "/world.json",
                   {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

}  // namespace kuv::sim
