#pragma once
// DeviceEnv: the one interface through which panelio touches disks, HID panels, adapters, volumes,
// files and the autostart entry. LinuxEnv plays real devices, SimEnv plays a world directory, and a
// Windows backend can follow; code above this interface never asks which one runs.

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace kuv {

// The result of an operation: ok, or an errno-style code with the operation that failed. The
// exports hand the code on as errno, which the service reports as `lastError`.
class Status {
 public:
  Status() = default;
  Status(int code, std::string context)
      : code_(code == 0 ? -1 : code), context_(std::move(context)) {}

  bool ok() const { return code_ == 0; }
  // 0 when ok; an errno value (or -1 for a failure without one) otherwise.
  int code() const { return code_; }
  const std::string& context() const { return context_; }
  // "context: strerror(code)", or "ok".
  std::string ToString() const;

 private:
  int code_ = 0;
  std::string context_;
};

// The one place a system error becomes a Status.
Status PosixError(std::string context, int err);

// A value or the Status of why there is none.
template <typename T>
class Result {
 public:
  Result(T value) : value_(std::move(value)) {}  // NOLINT: implicit by design, like std::expected
  Result(Status status) : status_(std::move(status)) {
    if (status_.ok()) status_ = Status(-1, "no value");
  }

  bool ok() const { return value_.has_value(); }
  const Status& status() const { return status_; }
  T& value() { return *value_; }
  const T& value() const { return *value_; }
  T& operator*() { return *value_; }
  const T& operator*() const { return *value_; }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }

 private:
  std::optional<T> value_;
  Status status_;
};

enum class DataDirection { kNone, kIn, kOut };

// One SCSI command as the pass-through sends it.
struct ScsiRequest {
  std::span<const std::uint8_t> cdb;  // 6 to 16 command bytes
  DataDirection direction = DataDirection::kNone;
  std::span<std::uint8_t> data{};  // filled for kIn, sent for kOut, empty for kNone
  std::uint32_t timeoutSeconds = 120;
  std::uint8_t lun = 0;
};

// What the device said about one SCSI command that was delivered.
struct ScsiReply {
  std::uint8_t scsiStatus = 0;    // 0 GOOD, 2 CHECK CONDITION ...
  std::uint8_t hostStatus = 0;    // transport-level failure, 0 none
  std::uint8_t driverStatus = 0;  // driver-level failure, 0 none
  std::uint8_t senseLength = 0;
  std::array<std::uint8_t, 32> sense{};
  std::uint32_t residual = 0;  // bytes of data not transferred

  bool Good() const { return scsiStatus == 0 && hostStatus == 0 && driverStatus == 0; }
};

// The ATA registers of one command in the order the platform's S.M.A.R.T. requests carry them.
struct AtaTaskFile {
  std::uint8_t features = 0;
  std::uint8_t sectorCount = 0;
  std::uint8_t lbaLow = 0;
  std::uint8_t lbaMid = 0;
  std::uint8_t lbaHigh = 0;
  std::uint8_t device = 0;
  std::uint8_t command = 0;
};

// host:channel:target:lun of a disk; on Windows PortNumber, PathId, TargetId, Lun.
struct ScsiAddress {
  std::uint8_t port = 0;
  std::uint8_t path = 0;
  std::uint8_t target = 0;
  std::uint8_t lun = 0;
};

// A disk as the system's disk interface list shows it.
struct DiskInterface {
  int deviceNumber = -1;   // the drive number: N of \\.\PhysicalDriveN, /dev/sdX on Linux
  std::string path;        // interface path that opens the disk
  std::string instanceId;  // device-instance id of the disk's device node
};

// A host adapter that exposes a storage-port interface.
struct StoragePortInfo {
  std::string interfacePath;             // opens the port for miniport requests
  std::string instanceId;                // names the adapter for the upper-filter calls
  std::vector<std::string> hardwareIds;  // as the system lists them, most specific first
  std::vector<std::uint8_t> pdoName;     // physical-device-object name property, raw bytes
};

// A panel's HID controller or any other HID interface.
struct HidInfo {
  std::string path;  // opens the device; stored in `hidPath`
  std::uint16_t vendor = 0;
  std::uint16_t product = 0;
  bool capsReadable = false;  // its report descriptor (capabilities) could be read
};

// A mounted volume on one of the drives.
struct VolumeInfo {
  int driveNumber = -1;
  int partition = 0;       // 1 for the first partition, 0 for a file system on the whole disk
  std::string mountPoint;  // no trailing slash
  std::string label;       // "" when the volume has none
  std::string fileSystem;  // as Windows names it: "NTFS", "FAT32", "FAT", "exFAT", or the raw name
  std::uint64_t totalBytes = 0;
  std::uint64_t freeBytes = 0;  // available to the caller
  bool readWrite = true;        // false when the mount or its file system refuses writes
};

struct SpaceInfo {
  std::uint64_t totalBytes = 0;
  std::uint64_t freeBytes = 0;  // available to the caller
};

// An open physical drive. Closing is destruction; copying is not possible.
class Disk {
 public:
  Disk() = default;
  Disk(const Disk&) = delete;
  Disk& operator=(const Disk&) = delete;
  virtual ~Disk() = default;

  // Sends one SCSI command. An error when it could not be delivered (the ioctl failed, the device
  // is gone); otherwise the reply, whose Good() says whether the device accepted it. data is
  // written only for kIn.
  virtual Result<ScsiReply> Scsi(const ScsiRequest& request) = 0;

  // Reads out.size() bytes at a byte offset (64-bit; any offset the disk holds). An error, with out
  // unspecified, on a failed or short read.
  virtual Status ReadAt(std::uint64_t byteOffset, std::span<std::uint8_t> out) = 0;

  // The disk's size in bytes. An error when the system cannot tell.
  virtual Result<std::uint64_t> SizeBytes() = 0;

  // The size of one logical block (512, or 4096 behind many large USB bridges): the unit of every
  // LBA the disk's partition table and ATA commands name.
  virtual Result<std::uint32_t> LogicalBlockBytes() { return std::uint32_t{512}; }

  // Reads out.size() bytes (whole logical blocks) from block lba of the medium itself, past any
  // cache the system keeps, so the drive really sees the read. out must be aligned to the block
  // size (std::align_val_t{4096} does for every disk). An error on a failed or short read.
  virtual Status ReadMedium(std::uint64_t lba, std::span<std::uint8_t> out) {
    auto block = LogicalBlockBytes();
    if (!block.ok()) return block.status();
    return ReadAt(lba * *block, out);
  }

  // Whether the medium is ready (TEST UNIT READY on Linux, IOCTL_STORAGE_CHECK_VERIFY on Windows).
  virtual Status CheckVerify() = 0;

  // One ATA command by the platform's own S.M.A.R.T. route (ATA PASS-THROUGH (16) through the
  // disk driver on Linux, SMART_RCV_DRIVE_DATA / SMART_SEND_DRIVE_COMMAND on Windows). dataIn is
  // 512 bytes for a data-in command and empty for a non-data one; left untouched on failure.
  virtual Status AtaCommand(const AtaTaskFile& registers, std::span<std::uint8_t> dataIn) = 0;
};

// An open storage port of a host adapter, for requests in a filter driver's own format.
class StoragePort {
 public:
  StoragePort() = default;
  StoragePort(const StoragePort&) = delete;
  StoragePort& operator=(const StoragePort&) = delete;
  virtual ~StoragePort() = default;

  // One IOCTL_SCSI_MINIPORT request: in holds the request, out receives the reply. The number of
  // bytes returned, or an error when no driver on the port took the request.
  virtual Result<std::size_t> Miniport(std::span<const std::uint8_t> in,
                                       std::span<std::uint8_t> out) = 0;
};

// An open HID interface.
class HidDevice {
 public:
  HidDevice() = default;
  HidDevice(const HidDevice&) = delete;
  HidDevice& operator=(const HidDevice&) = delete;
  virtual ~HidDevice() = default;

  // Writes one 65-byte output report; byte 0 is the report id (0). An error when the device did not
  // take all of it (unplugged, refused).
  virtual Status Write(std::span<const std::uint8_t, 65> report) = 0;

  // Reads one input report into a 65-byte buffer laid out as on Windows: byte 0 the report id (0),
  // the report's data from byte 1. Waits at most timeoutMs. The number of bytes filled, 0 when no
  // report came in time; an error when the device is gone.
  virtual Result<std::size_t> Read(std::span<std::uint8_t, 65> report, int timeoutMs) = 0;
};

enum class DiskAccess { kRead, kReadWrite };

class DeviceEnv {
 public:
  DeviceEnv() = default;
  DeviceEnv(const DeviceEnv&) = delete;
  DeviceEnv& operator=(const DeviceEnv&) = delete;
  virtual ~DeviceEnv() = default;

  // Opens physical drive driveNumber (shared for reading and writing). An error when there is no
  // such drive or it cannot be opened with that access; the drive is untouched either way.
  virtual Result<std::unique_ptr<Disk>> OpenDisk(int driveNumber, DiskAccess access) = 0;

  // The present disks with their device numbers, in no particular order. Empty when there are none.
  virtual Result<std::vector<DiskInterface>> ListDisks() = 0;

  // The SCSI address of the drive; an error when the system has none for it.
  virtual Result<ScsiAddress> GetScsiAddress(int driveNumber) = 0;

  // Device-instance ids of the drive's ancestors in the device tree, nearest first, in the system's
  // form (a USB device reads "USB\VID_3E5B&PID_1101\..."). Empty when the drive has no parent
  // known.
  virtual Result<std::vector<std::string>> ParentInstanceIds(int driveNumber) = 0;

  // The drive's friendly name; "" when it has none.
  virtual Result<std::string> FriendlyName(int driveNumber) = 0;

  // The host adapter the drive hangs off, as a storage port; nullopt when it is not on one the
  // system can name (a USB disk, a Linux machine where no adapter needs a filter).
  virtual Result<std::optional<StoragePortInfo>> AdapterOf(int driveNumber) = 0;

  // The present storage ports (host adapters). Empty when none can be named.
  virtual Result<std::vector<StoragePortInfo>> ListStoragePorts() = 0;

  // The adapter's upper-filter list as stored (a UTF-16LE multi-string); nullopt when it has none.
  virtual Result<std::optional<std::vector<std::uint8_t>>> ReadUpperFilters(
      const std::string& instanceId) = 0;

  // Replaces the adapter's upper-filter list with these bytes. On failure the old list stays.
  virtual Status WriteUpperFilters(const std::string& instanceId,
                                   std::span<const std::uint8_t> multiString) = 0;

  // Opens a storage port by its interface path for miniport requests.
  virtual Result<std::unique_ptr<StoragePort>> OpenStoragePort(
      const std::string& interfacePath) = 0;

  // The present HID interfaces. An interface whose attributes cannot be read is still listed, with
  // vendor and product 0. An interface may be listed once per top-level collection of its report
  // descriptor, every time under the same path, as hidapi lists it.
  virtual Result<std::vector<HidInfo>> ListHid() = 0;

  // Opens a HID interface for reading and writing (shared). An error when it is gone or busy.
  virtual Result<std::unique_ptr<HidDevice>> OpenHid(const std::string& path) = 0;

  // The mounted volumes of drives 0 to 31, ordered by drive and partition.
  virtual Result<std::vector<VolumeInfo>> ListVolumes() = 0;

  // Total and caller-available bytes of the volume holding path.
  virtual Result<SpaceInfo> FreeSpace(const std::string& path) = 0;

  // The same for several paths, in order. Backends that bound each query on a worker thread
  // answer them all with one thread and one wait.
  virtual std::vector<Result<SpaceInfo>> FreeSpaces(const std::vector<std::string>& paths) {
    std::vector<Result<SpaceInfo>> spaces;
    for (const std::string& path : paths) spaces.push_back(FreeSpace(path));
    return spaces;
  }

  // Creates one directory. (Named apart from the Win32 macros CreateDirectory and DeleteFile, so a
  // backend can include windows.h.) EEXIST when something is already there, which is left as it
  // was.
  virtual Status MakeDirectory(const std::string& path) = 0;

  // Sets the hidden attribute where the file system keeps one (FAT, NTFS); ok and nothing done on
  // file systems without it.
  virtual Status SetHidden(const std::string& path) = 0;

  // Whether the hidden attribute is set; false on file systems without it.
  virtual Result<bool> IsHidden(const std::string& path) = 0;

  // As SetHidden for the directory already open as fd (not O_PATH), which path names. The default
  // asks SetHidden(path): enough for an environment that never opens path by name.
  virtual Status SetHiddenAt(int fd, const std::string& path) {
    (void)fd;
    return SetHidden(path);
  }

  // Appends data to the file, creating it when missing. On failure nothing or a prefix was written.
  virtual Status AppendToFile(const std::string& path, std::span<const std::uint8_t> data) = 0;

  // Deletes one file (not a directory). An error, the file kept, when it cannot be deleted.
  virtual Status RemoveFile(const std::string& path) = 0;

  // Registers (on) or removes (off) the program's automatic start for every user. Removing an
  // entry that does not exist is ok.
  virtual Status SetAutostart(bool on) = 0;

  // Whether the automatic start is registered.
  virtual Result<bool> AutostartRegistered() = 0;

  // Pauses the caller (the tie procedure's waits); the simulator may shorten it.
  virtual void Sleep(std::chrono::milliseconds duration) = 0;
};

// The process's environment: the override installed by a test, else the default one.
DeviceEnv& Env();

// SimEnv on the world named by KUVLCD_SIM_WORLD when that is set and not empty (a world that
// cannot be loaded fails every operation rather than falling through to real devices); the
// platform's real devices otherwise (LinuxEnv on Linux). Created on first use, lives until exit.
DeviceEnv& DefaultEnv();

// Closes what the default environment holds open (disks, a world's files). Only for a library
// being unloaded from a running process: nothing may call DefaultEnv afterwards.
void ReleaseDefaultEnv();

// Makes Env() answer env for its lifetime (tests, tools that pick a world explicitly).
class ScopedEnvOverride {
 public:
  explicit ScopedEnvOverride(DeviceEnv& env);
  ScopedEnvOverride(const ScopedEnvOverride&) = delete;
  ScopedEnvOverride& operator=(const ScopedEnvOverride&) = delete;
  ~ScopedEnvOverride();

 private:
  DeviceEnv* previous_;
};

}  // namespace kuv
