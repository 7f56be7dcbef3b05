#include "panelio/sim/sample_world.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "panelio/file_io.h"
#include "panelio/unique_fd.h"

namespace kuv::sim {
namespace {

using nlohmann::json;

void PutLe16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void PutLe32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}
void PutLe64(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v) {
  for (int i = 0; i < 8; ++i)
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
  UniqueFd fd(OpenFd(path, O_WRONLY | O_CREAT | O_TRUNC));
  if (!fd.valid()) return PosixError("create " + path, errno);
  if (int err = WriteAll(fd.get(), bytes); err != 0) return PosixError("write " + path, err);
  return {};
}

using Sectors = std::vector<std::pair<std::uint64_t, std::vector<std::uint8_t>>>;

// A sparse image: only the given sectors hold data, the rest is a hole.
Status WriteImage(const std::string& path, std::uint64_t size, const Sectors& sectors) {
  UniqueFd fd(OpenFd(path, O_WRONLY | O_CREAT | O_TRUNC));
  if (!fd.valid()) return PosixError("create " + path, errno);
  if (int err = ResizeFd(fd.get(), size); err != 0) return PosixError("size " + path, err);
  for (const auto& [offset, bytes] : sectors)
    if (WriteAtOffset(fd.get(), bytes.data(), bytes.size(), offset) !=
        static_cast<std::ptrdiff_t>(bytes.size()))
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

// A disk partitioned with GPT, as disks past 2 TiB are: the protective MBR, the header, the first
// entry (a Linux file system from sector start to the last usable one), and fsSector that many
// bytes into the partition.
Sectors Gpt(std::uint64_t diskSectors, std::uint32_t start, std::uint64_t fsOffset,
            std::vector<std::uint8_t> fsSector) {
  std::vector<std::uint8_t> mbr = Mbr(0xEE, 1, 0xFFFFFFFF);
  std::vector<std::uint8_t> header(512, 0);
  std::memcpy(header.data(), "EFI PART", 8);
  PutLe32(header, 8, 0x00010000);  // revision 1.0
  PutLe32(header, 12, 92);         // header size
  PutLe64(header, 24, 1);          // this header's LBA
  PutLe64(header, 32, diskSectors - 1);
  PutLe64(header, 40, 34);  // first usable LBA
  PutLe64(header, 48, diskSectors - 34);
  PutLe64(header, 72, 2);  // entry array
  PutLe32(header, 80, 128);
  PutLe32(header, 84, 128);
  std::vector<std::uint8_t> entry(512, 0);
  // 0FC63DAF-8483-4772-8E79-3D69D8477DE4, Linux file-system data, in its on-disk byte order.
  const std::uint8_t linuxData[16] = {0xAF, 0x3D, 0xC6, 0x0F, 0x83, 0x84, 0x72, 0x47,
                                      0x8E, 0x79, 0x3D, 0x69, 0xD8, 0x47, 0x7D, 0xE4};
  std::memcpy(entry.data(), linuxData, sizeof linuxData);
  entry[16] = static_cast<std::uint8_t>(diskSectors);  // a unique partition GUID of sorts
  PutLe64(entry, 32, start);
  PutLe64(entry, 40, diskSectors - 34);
  return {{0, mbr}, {512, header}, {1024, entry}, {start * 512ull + fsOffset, std::move(fsSector)}};
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

std::vector<std::uint8_t> Fat32Boot(std::uint32_t sectors, std::uint32_t fatSectors,
                                    std::uint8_t sectorsPerCluster, const char* label11) {
  std::vector<std::uint8_t> s(512, 0);
  const std::uint8_t jump[] = {0xEB, 0x58, 0x90, 'm', 'k', 'f', 's', '.', 'f', 'a', 't'};
  std::memcpy(s.data(), jump, sizeof jump);
  PutLe16(s, 11, 512);
  s[13] = sectorsPerCluster;
  PutLe16(s, 14, 32);  // reserved sectors
  s[16] = 2;           // FATs
  s[21] = 0xF8;
  PutLe32(s, 32, sectors);
  PutLe32(s, 36, fatSectors);
  PutLe32(s, 44, 2);  // root cluster
  PutLe16(s, 48, 1);  // FSInfo sector
  s[66] = 0x29;
  std::memcpy(s.data() + 71, label11, 11);
  std::memcpy(s.data() + 82, "FAT32   ", 8);
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

// The first sector of btrfs's superblock (64 KiB into the partition): its magic and label, so the
// image holds what a real one does; the sector reader knows no btrfs and leaves it to the volume.
std::vector<std::uint8_t> BtrfsSuperblockSector(const std::string& label) {
  std::vector<std::uint8_t> s(512, 0);
  std::memcpy(s.data() + 0x40, "_BHRfS_M", 8);
  std::memcpy(s.data() + 0x12B, label.data(), std::min<std::size_t>(label.size(), 255 - 0x2B));
  return s;
}

Status MakeDirs(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(PathOfUtf8(path), ec);
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

std::string SampleTrayPath(int tray) {
  const std::string port = "2-" + std::to_string(tray);
  return "/sys/devices/pci0000:00/0000:00:14.0/usb2/" + port + "/" + port + ":1.0";
}

namespace {

// Capacities as drives are sold, in 512-byte sectors.
constexpr std::uint64_t k320GB = 625142448;
constexpr std::uint64_t k500GB = 976773168;
constexpr std::uint64_t k1TB = 1953525168;
constexpr std::uint64_t k2TB = 3907029168;
constexpr std::uint64_t k4TB = 7814037168;
constexpr std::uint64_t k8TB = 15628053168;
// Every partition starts at 1 MiB, as partitioning tools place it.
constexpr std::uint32_t kStart = 2048;
// Images hold the partition table and the file system's first structures; reads past their end,
// up to the declared size, are zeros. So a shelf of terabytes writes about a megabyte each.
constexpr std::uint64_t kImageBytes = (kStart + 256) * 512ull;

constexpr std::uint64_t PartitionBytes(std::uint64_t diskSectors) {
  return (diskSectors - kStart) * 512;
}

// FAT32 with 32 KiB clusters on the 500 GB tray: the FAT and the free count the volume reports.
constexpr std::uint8_t kFatSectorsPerCluster = 64;
constexpr std::uint32_t kFatSectors = 119235;
constexpr std::uint64_t kFatClusters =
    (k500GB - kStart - 32 - 2 * std::uint64_t{kFatSectors}) / kFatSectorsPerCluster;
constexpr std::uint32_t kFatFreeClusters = 5700000;
constexpr std::uint64_t kClusterBytes = kFatSectorsPerCluster * 512;

// ext4 with 4 KiB blocks on the 4 TB disk: statvfs leaves out the metadata and, for the caller,
// the 5 % kept for root.
constexpr std::uint64_t kExtBlocks = (k4TB - 33 - kStart) * 512 / 4096;
constexpr std::uint64_t kExtFreeBlocks = 610000000;
constexpr std::uint64_t kExtTotalBytes = 3936818839552;
constexpr std::uint64_t kExtAvailableBytes = (kExtFreeBlocks - kExtBlocks / 20) * 4096;

json Drive(int number, const std::string& name, const std::string& model, std::uint64_t sectors,
           const char* transport) {
  return {{"number", number},           {"name", name},           {"friendlyName", model},
          {"sizeBytes", sectors * 512}, {"transport", transport}, {"ata", AtaFiles(name)}};
}

json Usb(const char* product, const char* serial) {
  return {{"vendor", "0x3E5B"}, {"product", product}, {"serial", serial}};
}

json Scsi(int host, int target) {
  return {{"port", host}, {"path", 0}, {"target", target}, {"lun", 0}};
}

json Volume(const std::string& label, const char* fileSystem, std::uint64_t totalBytes,
            std::uint64_t freeBytes) {
  return json::array({{{"dir", "volumes/" + label},
                       {"label", label},
                       {"fileSystem", fileSystem},
                       {"totalBytes", totalBytes},
                       {"freeBytes", freeBytes}}});
}

json BridgePanel(const std::string& name, const char* state, int panelWord = 1) {
  return {{"name", name}, {"idText", "MB86C311"}, {"state", state}, {"panelWord", panelWord}};
}

// A PCI host adapter as Linux knows it: its sysfs device, its SCSI host and its slot name in the
// place of the platform's device-object name. Hardware ids keep the form the filter rule reads.
json Adapter(const char* id, const char* parent, const char* slot, int host,
             const char* vendorDevice, const char* subsystem) {
  const std::string pci = std::string("PCI\\VEN_") + vendorDevice;
  return {{"id", id},
          {"instanceId", std::string("/sys/devices/pci0000:00/") + parent + slot},
          {"portPath", "/sys/class/scsi_host/host" + std::to_string(host)},
          {"hardwareIds", {pci + "&SUBSYS_" + subsystem + "&REV_01", pci}},
          {"pdoName", slot}};
}

}  // namespace

Status WriteSampleWorld(const std::string& dir, const SampleWorldOptions& options) {
  for (const char* sub :
       {"", "/disks", "/volumes/BACKUP", "/volumes/PHOTOS", "/volumes/data", "/volumes/archive"})
    if (Status s = MakeDirs(dir + sub); !s.ok()) return s;
  if (options.resetState) {
    std::error_code ec;
    std::filesystem::remove_all(PathOfUtf8(dir + "/state"), ec);
    if (ec) return Status(ec.value(), "clear " + dir + "/state");
  }

  constexpr std::uint64_t kPartitionAt = kStart * 512ull;
  struct Image {
    const char* name;
    Sectors sectors;
  };
  const Image images[] = {
      {"usb-bridge",
       {{0, Mbr(0x07, kStart, k2TB - kStart)}, {kPartitionAt, NtfsBoot(k2TB - kStart)}}},
      {"tray-fat32",
       {{0, Mbr(0x0C, kStart, k500GB - kStart)},
        {kPartitionAt,
         Fat32Boot(k500GB - kStart, kFatSectors, kFatSectorsPerCluster, "PHOTOS     ")},
        {kPartitionAt + 512, FsInfo(kFatFreeClusters)}}},
      {"recorder-xfs",
       {{0, Mbr(0x83, kStart, k2TB - kStart)},
        {kPartitionAt, XfsSuperblock(4096, PartitionBytes(k2TB) / 4096, 171000000)}}},
      {"usb-ext4", Gpt(k4TB, kStart, 1024, ExtSuperblockSector(kExtBlocks, kExtFreeBlocks, 2))},
      {"tray-btrfs", Gpt(k8TB, kStart, 65536, BtrfsSuperblockSector("archive"))},
  };
  for (const Image& image : images) {
    if (Status s = WriteImage(dir + "/disks/" + image.name + ".img", kImageBytes, image.sectors);
        !s.ok())
      return s;
  }

  struct Ata {
    const char *name, *model, *serial;
    int temperature, reallocated;
  };
  const Ata atas[] = {
      {"system", "CT500MX500SSD1", "2107E5A0B1C2", 31, 0},
      {"usb-bridge", "ST2000DM008", "ZFL1A2B3", 36, 0},
      {"tray-fat32", "ST500DM002", "Z3TAB1CD", 41, 0},
      {"recorder-xfs", "WD20EURX", "WD-WCC4M3KX0L9Z", 47, 12},
      {"usb-locked", "ST1000LM035", "WL1B2C3D", 33, 0},
      {"usb-ext4", "ST4000VN008", "ZGY3K4L5", 38, 1480},
      {"usb-plain", "ST320LT007", "W0Q1R2S3", 29, 0},
      {"tray-btrfs", "ST8000VN004", "ZA1B2C3D", 44, 0},
  };
  for (const Ata& a : atas) {
    if (Status s = WriteAta(dir, a.name, a.model, a.serial, a.temperature, a.reallocated); !s.ok())
      return s;
  }

  json sil3132 =
      Adapter("sil3132", "0000:00:1c.4/", "0000:03:00.0", 2, "1095&DEV_3132", "71321095");
  sil3132["upperFilters"] = {"KuvSATAFil"};
  json sil3512 =
      Adapter("sil3512", "0000:00:1c.5/", "0000:04:00.0", 3, "1095&DEV_3512", "35121095");
  if (options.sataFilterRegistered) sil3512["upperFilters"] = {"KuvSATAFil"};

  json system = Drive(0, "system", "CT500MX500SSD1", k500GB, "platform");
  system["adapter"] = "ahci";
  system["scsiAddress"] = Scsi(0, 0);

  json bridge = Drive(1, "usb-bridge", "ST2000DM008", k2TB, "bridge16");
  bridge["image"] = "disks/usb-bridge.img";
  bridge["usb"] = Usb("0x1101", "201703310001");
  bridge["scsiAddress"] = Scsi(4, 0);
  bridge["volumes"] = Volume("BACKUP", "NTFS", PartitionBytes(k2TB), 1219770712064);
  bridge["bridgePanel"] = BridgePanel("bridge1", "0x00");

  json fat32 = Drive(2, "tray-fat32", "ST500DM002", k500GB, "platform");
  fat32["image"] = "disks/tray-fat32.img";
  fat32["adapter"] = "ahci";
  fat32["scsiAddress"] = Scsi(0, 1);
  fat32["volumes"] =
      Volume("PHOTOS", "FAT32", kFatClusters * kClusterBytes, kFatFreeClusters * kClusterBytes);

  // A video recorder's disk in a tray: XFS, which this machine has not mounted.
  json recorder = Drive(3, "recorder-xfs", "WD20EURX", k2TB, "filter");
  recorder["image"] = "disks/recorder-xfs.img";
  recorder["adapter"] = "sil3132";
  recorder["scsiAddress"] = Scsi(2, 1);

  // A locked bridge panel in an enclosure that knows only the 12-byte ATA PASS-THROUGH.
  json locked = Drive(4, "usb-locked", "ST1000LM035", k1TB, "bridge12");
  locked["usb"] = Usb("0x1104", "201703310004");
  locked["scsiAddress"] = Scsi(5, 0);
  locked["bridgePanel"] = BridgePanel("bridge4", "0x05");

  json ext4 = Drive(5, "usb-ext4", "ST4000VN008", k4TB, "bridge16");
  ext4["image"] = "disks/usb-ext4.img";
  ext4["usb"] = Usb("0x1105", "201703310005");
  ext4["scsiAddress"] = Scsi(6, 0);
  ext4["volumes"] = Volume("data", "ext4", kExtTotalBytes, kExtAvailableBytes);
  ext4["bridgePanel"] = BridgePanel("bridge5", "0x01");

  // Our enclosure with product id 0x1106 answers like a bridge panel but carries none.
  json plain = Drive(6, "usb-plain", "ST320LT007", k320GB, "bridge12");
  plain["usb"] = Usb("0x1106", "201703310006");
  plain["scsiAddress"] = Scsi(7, 0);
  plain["bridgePanel"] = BridgePanel("plain6", "0x00", 0);

  json btrfs = Drive(7, "tray-btrfs", "ST8000VN004", k8TB, "filter");
  btrfs["image"] = "disks/tray-btrfs.img";
  btrfs["adapter"] = "sil3512";
  btrfs["scsiAddress"] = Scsi(3, 0);
  btrfs["volumes"] = Volume("archive", "btrfs", PartitionBytes(k8TB), 5398046511104);

  json hidPanels = json::array();
  for (auto [tray, disk] : {std::pair{1, 2}, std::pair{2, 3}, std::pair{3, 7}}) {
    hidPanels.push_back(
        {{"name", "tray" + std::to_string(tray)}, {"path", SampleTrayPath(tray)}, {"disk", disk}});
  }

  const json world = {
      {"sleepScale", options.sleepScale},
      {"adapters",
       {Adapter("ahci", "", "0000:00:17.0", 0, "8086&DEV_A352", "86941043"), sil3132, sil3512}},
      {"disks", {system, bridge, fat32, recorder, locked, ext4, plain, btrfs}},
      {"hidPanels", hidPanels},
  };
  std::string text = world.dump(2) + "\n";
  return WriteFile(dir + "/world.json",
                   {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

}  // namespace kuv::sim
