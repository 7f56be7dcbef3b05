#include "panelio/windows/windows_env.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <thread>

#include "common/utf16.h"
#include "panelio/bounded_call.h"
#include "panelio/disk_helpers.h"
#include "panelio/file_io.h"
#include "panelio/unique_fd.h"

namespace kuv {
namespace {

using namespace win32;

constexpr int kMaxDrive = 31;
// Every adapter's alignment mask fits in a page, so a page-aligned buffer suits any of them.
constexpr std::size_t kBufferAlign = 4096;
constexpr std::uint32_t kReadChunk = 1u << 20;
constexpr std::uint8_t kDidTimeOut = 0x03;  // the host status Linux reports for a timed-out command

Status Win32Error(std::string context, std::uint32_t error) {
  return PosixError(std::move(context), ErrnoOf(error));
}

// A REG_SZ or REG_MULTI_SZ property's UTF-16LE bytes as strings, empty ones dropped.
std::vector<std::u16string> StringsOf(std::span<const std::uint8_t> bytes) {
  std::vector<std::u16string> out;
  std::u16string current;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    char16_t c = static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8);
    if (c != 0) {
      current.push_back(c);
      continue;
    }
    if (!current.empty()) out.push_back(std::move(current));
    current.clear();
  }
  if (!current.empty()) out.push_back(std::move(current));
  return out;
}

std::u16string DrivePath(int driveNumber) {
  return u"\\\\.\\PhysicalDrive" + Utf8ToUtf16(std::to_string(driveNumber));
}

// Memory at an address aligned for any adapter's DMA, which SCSI pass-through direct and reads of
// a raw disk hand to the device as they are.
class AlignedBuffer {
 public:
  explicit AlignedBuffer(std::size_t size) : storage_(size + kBufferAlign), size_(size) {
    auto at = reinterpret_cast<std::uintptr_t>(storage_.data());
    data_ = storage_.data() + (kBufferAlign - at % kBufferAlign) % kBufferAlign;
  }
  std::uint8_t* data() { return data_; }
  std::size_t size() const { return size_; }

 private:
  std::vector<std::uint8_t> storage_;
  std::uint8_t* data_;
  std::size_t size_;
};

class OwnedHandle {
 public:
  OwnedHandle(Win32Calls& calls, Handle handle) : calls_(calls), handle_(handle) {}
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  ~OwnedHandle() {
    if (valid()) calls_.CloseHandle(handle_);
  }
  bool valid() const { return handle_ != kInvalidHandle; }
  Handle get() const { return handle_; }

 private:
  Win32Calls& calls_;
  Handle handle_;
};

// Reads from an open disk handle until size bytes came, in pieces ReadFile takes.
Status ReadFully(Win32Calls& calls, Handle handle, const std::string& what, std::uint64_t offset,
                 std::uint8_t* out, std::size_t size) {
  while (size > 0) {
    const auto want = static_cast<std::uint32_t>(std::min<std::size_t>(size, kReadChunk));
    std::uint32_t got = 0;
    if (!calls.ReadFile(handle, offset, out, want, &got))
      return Win32Error("read " + what, calls.LastError());
    if (got == 0) return PosixError("read " + what + " past its end", EIO);
    offset += got;
    out += got;
    size -= got;
  }
  return {};
}

class WindowsDisk final : public Disk {
 public:
  WindowsDisk(Win32Calls& calls, Handle handle, std::string path)
      : calls_(calls), handle_(calls, handle), path_(std::move(path)) {}

  Result<ScsiReply> Scsi(const ScsiRequest& request) override {
    if (request.cdb.empty() || request.cdb.size() > 16)
      return PosixError("SCSI pass-through " + path_ + ": command length", EINVAL);
    const bool hasData = request.direction != DataDirection::kNone && !request.data.empty();
    if (hasData && request.data.size() > UINT32_MAX)
      return PosixError("SCSI pass-through " + path_ + ": data length", EINVAL);
    const std::size_t size = hasData ? request.data.size() : 0;
    AlignedBuffer buffer(size);
    if (request.direction == DataDirection::kOut && hasData)
      std::memcpy(buffer.data(), request.data.data(), size);

    ScsiPassThroughDirectWithSense block{};
    ScsiPassThroughDirect& h = block.header;
    h.Length = sizeof(ScsiPassThroughDirect);
    h.PathId = 0;
    h.TargetId = 1;
    h.Lun = request.lun;
    h.CdbLength = static_cast<std::uint8_t>(request.cdb.size());
    h.SenseInfoLength = sizeof block.sense;
    h.DataIn = !hasData                                  ? kScsiIoctlDataUnspecified
               : request.direction == DataDirection::kIn ? kScsiIoctlDataIn
                                                         : kScsiIoctlDataOut;
    h.DataTransferLength = static_cast<std::uint32_t>(size);
    h.TimeOutValue = request.timeoutSeconds;
    h.DataBuffer = hasData ? buffer.data() : nullptr;
    h.SenseInfoOffset = offsetof(ScsiPassThroughDirectWithSense, sense);
    std::copy(request.cdb.begin(), request.cdb.end(), h.Cdb);

    std::uint32_t returned = 0;
    if (!calls_.DeviceIoControl(handle_.get(), kIoctlScsiPassThroughDirect, &block, sizeof block,
                                &block, sizeof block, &returned)) {
      const std::uint32_t error = calls_.LastError();
      // A command the port driver gave up on is reported as Linux reports it, delivered with the
      // host's time-out status, so callers tell an unanswered command from a refused one alike.
      if (error == kErrorSemTimeout || error == kErrorTimeout) {
        ScsiReply reply;
        reply.hostStatus = kDidTimeOut;
        reply.residual = static_cast<std::uint32_t>(size);
        return reply;
      }
      return Win32Error("SCSI pass-through " + path_, error);
    }
    ScsiReply reply;
    reply.scsiStatus = h.ScsiStatus;
    reply.senseLength = std::min<std::uint8_t>(h.SenseInfoLength, sizeof block.sense);
    std::copy(block.sense, block.sense + reply.senseLength, reply.sense.begin());
    const std::size_t moved = std::min<std::size_t>(h.DataTransferLength, size);
    reply.residual = static_cast<std::uint32_t>(size - moved);
    if (request.direction == DataDirection::kIn && moved > 0)
      std::memcpy(request.data.data(), buffer.data(), moved);
    return reply;
  }

  // A raw disk is read in whole sectors only, so the sectors around the bytes are read and cut.
  Status ReadAt(std::uint64_t byteOffset, std::span<std::uint8_t> out) override {
    auto block = LogicalBlockBytes();
    if (!block.ok()) return block.status();
    if (byteOffset > static_cast<std::uint64_t>(LLONG_MAX) ||
        out.size() > static_cast<std::uint64_t>(LLONG_MAX) - byteOffset)
      return PosixError("read " + path_, EINVAL);
    if (out.empty()) return {};
    const std::uint64_t first = byteOffset / *block * *block;
    const std::uint64_t end = (byteOffset + out.size() + *block - 1) / *block * *block;
    AlignedBuffer buffer(static_cast<std::size_t>(end - first));
    if (Status s = ReadFully(calls_, handle_.get(), path_, first, buffer.data(), buffer.size());
        !s.ok())
      return s;
    std::memcpy(out.data(), buffer.data() + (byteOffset - first), out.size());
    return {};
  }

  // Nothing caches a physical drive's sectors on Windows, so every read reaches the medium; only
  // the alignment a raw read needs is checked here.
  Status ReadMedium(std::uint64_t lba, std::span<std::uint8_t> out) override {
    auto block = LogicalBlockBytes();
    if (!block.ok()) return block.status();
    if (Status s = CheckMediumRead(path_, lba, out, *block); !s.ok()) return s;
    return ReadFully(calls_, handle_.get(), path_, lba * *block, out.data(), out.size());
  }

  Result<std::uint64_t> SizeBytes() override {
    auto geometry = Geometry();
    if (!geometry.ok()) return geometry.status();
    return static_cast<std::uint64_t>(geometry->DiskSize);
  }

  Result<std::uint32_t> LogicalBlockBytes() override {
    auto geometry = Geometry();
    if (!geometry.ok()) return geometry.status();
    return geometry->Geometry.BytesPerSector;
  }

  Status CheckVerify() override {
    std::uint32_t returned = 0;
    if (!calls_.DeviceIoControl(handle_.get(), kIoctlStorageCheckVerify, nullptr, 0, nullptr, 0,
                                &returned))
      return Win32Error("check verify " + path_, calls_.LastError());
    return {};
  }

  Status AtaCommand(const AtaTaskFile& r, std::span<std::uint8_t> dataIn) override {
    if (!dataIn.empty() && dataIn.size() != 512) return PosixError("ATA data length", EINVAL);
    SendCmdInParams in{};
    in.cBufferSize = dataIn.empty() ? 0 : 512;
    in.irDriveRegs = {r.features, r.sectorCount, r.lbaLow,  r.lbaMid,
                      r.lbaHigh,  r.device,      r.command, 0};
    in.bDriveNumber = 0;
    SendCmdOutParams out{};
    std::uint32_t returned = 0;
    const std::uint32_t code = dataIn.empty() ? kSmartSendDriveCommand : kSmartRcvDriveData;
    char what[64];
    std::snprintf(what, sizeof what, "S.M.A.R.T. command 0x%02X/0x%02X on ", r.command, r.features);
    if (!calls_.DeviceIoControl(handle_.get(), code, &in, sizeof in, &out, sizeof out, &returned))
      return Win32Error(what + path_, calls_.LastError());
    if (out.bDriverError != 0) return PosixError(what + path_ + ": refused by the drive", EIO);
    if (!dataIn.empty()) {
      if (returned < sizeof out) return PosixError(what + path_ + ": short reply", EIO);
      std::copy(std::begin(out.bBuffer), std::end(out.bBuffer), dataIn.begin());
    }
    return {};
  }

 private:
  // The geometry does not change while the disk is open; asked once.
  Result<DiskGeometryEx> Geometry() {
    if (geometry_) return *geometry_;
    DiskGeometryEx g{};
    std::uint32_t returned = 0;
    if (!calls_.DeviceIoControl(handle_.get(), kIoctlDiskGetDriveGeometryEx, nullptr, 0, &g,
                                sizeof g, &returned) ||
        returned < offsetof(DiskGeometryEx, Data)) {
      // Older drivers know only the plain geometry, whose product is the size.
      if (!calls_.DeviceIoControl(handle_.get(), kIoctlDiskGetDriveGeometry, nullptr, 0,
                                  &g.Geometry, sizeof g.Geometry, &returned))
        return Win32Error("geometry of " + path_, calls_.LastError());
      g.DiskSize = g.Geometry.Cylinders * g.Geometry.TracksPerCylinder *
                   g.Geometry.SectorsPerTrack * g.Geometry.BytesPerSector;
    }
    if (g.Geometry.BytesPerSector == 0 || g.DiskSize < 0)
      return PosixError("geometry of " + path_, EIO);
    geometry_ = g;
    return g;
  }

  Win32Calls& calls_;
  OwnedHandle handle_;
  std::string path_;
  std::optional<DiskGeometryEx> geometry_;
};

class WindowsPort final : public StoragePort {
 public:
  WindowsPort(Win32Calls& calls, Handle handle, std::string path)
      : calls_(calls), handle_(calls, handle), path_(std::move(path)) {}

  Result<std::size_t> Miniport(std::span<const std::uint8_t> in,
                               std::span<std::uint8_t> out) override {
    if (in.size() > UINT32_MAX || out.size() > UINT32_MAX)
      return PosixError("miniport request to " + path_, EINVAL);
    std::vector<std::uint8_t> request(in.begin(), in.end());
    std::uint32_t returned = 0;
    if (!calls_.DeviceIoControl(handle_.get(), kIoctlScsiMiniport, request.data(),
                                static_cast<std::uint32_t>(request.size()), out.data(),
                                static_cast<std::uint32_t>(out.size()), &returned))
      return Win32Error("miniport request to " + path_, calls_.LastError());
    return std::size_t{returned};
  }

 private:
  Win32Calls& calls_;
  OwnedHandle handle_;
  std::string path_;
};

struct VolumeFound {
  VolumeInfo info;
  std::string root;  // the mount path the sizes are asked of
  std::int64_t start = 0;
  bool numbered = false;
};

class WindowsEnv final : public DeviceEnv {
 public:
  explicit WindowsEnv(std::unique_ptr<Win32Calls> calls) : calls_(std::move(calls)) {}

  // Read and write access even to read: Windows checks the handle's access on pass-through and
  // S.M.A.R.T. requests; read-only access is the fallback for reading sectors.
  Result<std::unique_ptr<Disk>> OpenDisk(int driveNumber, DiskAccess access) override {
    if (driveNumber < 0) return PosixError("drive " + std::to_string(driveNumber), ENOENT);
    const std::u16string path = DrivePath(driveNumber);
    Handle h = calls_->CreateFile(path, kGenericRead | kGenericWrite,
                                  kFileShareRead | kFileShareWrite, kOpenExisting, 0);
    std::uint32_t error = h == kInvalidHandle ? calls_->LastError() : 0;
    if (h == kInvalidHandle && access == DiskAccess::kRead && error == kErrorAccessDenied) {
      h = calls_->CreateFile(path, kGenericRead, kFileShareRead | kFileShareWrite, kOpenExisting,
                             0);
      if (h == kInvalidHandle) error = calls_->LastError();
    }
    if (h == kInvalidHandle) return Win32Error("open " + Utf16ToUtf8(path), error);
    return std::unique_ptr<Disk>(std::make_unique<WindowsDisk>(*calls_, h, Utf16ToUtf8(path)));
  }

  Result<std::vector<DiskInterface>> ListDisks() override {
    auto numbered = NumberedDisks();
    if (!numbered.ok()) return numbered.status();
    std::vector<DiskInterface> disks;
    for (const auto& [number, i] : *numbered)
      disks.push_back({number, Utf16ToUtf8(i.path), Utf16ToUtf8(i.instanceId)});
    return disks;
  }

  Result<ScsiAddress> GetScsiAddress(int driveNumber) override {
    const std::u16string path = DrivePath(driveNumber);
    OwnedHandle h(*calls_,
                  calls_->CreateFile(path, 0, kFileShareRead | kFileShareWrite, kOpenExisting, 0));
    if (!h.valid()) return Win32Error("open " + Utf16ToUtf8(path), calls_->LastError());
    ScsiAddressBlock a{};
    a.Length = sizeof a;
    std::uint32_t returned = 0;
    if (!calls_->DeviceIoControl(h.get(), kIoctlScsiGetAddress, nullptr, 0, &a, sizeof a,
                                 &returned))
      return Win32Error("SCSI address of " + Utf16ToUtf8(path), calls_->LastError());
    return ScsiAddress{a.PortNumber, a.PathId, a.TargetId, a.Lun};
  }

  Result<std::vector<std::string>> ParentInstanceIds(int driveNumber) override {
    auto node = DiskNode(driveNumber);
    if (!node.ok()) return node.status();
    std::vector<std::string> ids;
    std::u16string id = *node;
    // The device tree is shallow; the bound only guards against a node that names itself.
    for (int depth = 0; depth < 64; ++depth) {
      auto parent = calls_->ParentOf(id);
      if (!parent) break;
      id = *parent;
      ids.push_back(Utf16ToUtf8(id));
    }
    return ids;
  }

  Result<std::string> FriendlyName(int driveNumber) override {
    auto node = DiskNode(driveNumber);
    if (!node.ok()) return node.status();
    auto name = calls_->GetDeviceProperty(*node, kSpdrpFriendlyName);
    if (!name) return std::string();
    auto strings = StringsOf(name->bytes);
    return strings.empty() ? std::string() : Utf16ToUtf8(strings.front());
  }

  Result<std::optional<StoragePortInfo>> AdapterOf(int driveNumber) override {
    auto node = DiskNode(driveNumber);
    if (!node.ok()) return node.status();
    auto parent = calls_->ParentOf(*node);
    if (!parent) return std::optional<StoragePortInfo>();
    StoragePortInfo info = PortInfo(*parent, u"");
    if (auto ports = calls_->PresentInterfaces(kStoragePortInterface)) {
      for (const DeviceInterface& port : *ports) {
        if (port.instanceId == *parent) {
          info.interfacePath = Utf16ToUtf8(port.path);
          break;
        }
      }
    }
    return std::optional<StoragePortInfo>(std::move(info));
  }

  Result<std::vector<StoragePortInfo>> ListStoragePorts() override {
    auto ports = calls_->PresentInterfaces(kStoragePortInterface);
    if (!ports) return Win32Error("storage port interfaces", calls_->LastError());
    std::vector<StoragePortInfo> list;
    for (const DeviceInterface& port : *ports) list.push_back(PortInfo(port.instanceId, port.path));
    return list;
  }

  Result<std::optional<std::vector<std::uint8_t>>> ReadUpperFilters(
      const std::string& instanceId) override {
    auto filters = calls_->GetDeviceProperty(Utf8ToUtf16(instanceId), kSpdrpUpperFilters);
    if (filters) return std::optional<std::vector<std::uint8_t>>(std::move(filters->bytes));
    const std::uint32_t error = calls_->LastError();
    // The property is missing: the adapter has no upper filters.
    if (error == kErrorInvalidData) return std::optional<std::vector<std::uint8_t>>();
    return Win32Error("upper filters of " + instanceId, error);
  }

  Status WriteUpperFilters(const std::string& instanceId,
                           std::span<const std::uint8_t> multiString) override {
    if (!calls_->SetDeviceProperty(Utf8ToUtf16(instanceId), kSpdrpUpperFilters, multiString))
      return Win32Error("write upper filters of " + instanceId, calls_->LastError());
    return {};
  }

  Result<std::unique_ptr<StoragePort>> OpenStoragePort(const std::string& interfacePath) override {
    Handle h = calls_->CreateFile(Utf8ToUtf16(interfacePath), kGenericRead | kGenericWrite,
                                  kFileShareRead | kFileShareWrite, kOpenExisting, 0);
    if (h == kInvalidHandle) return Win32Error("open " + interfacePath, calls_->LastError());
    return std::unique_ptr<StoragePort>(std::make_unique<WindowsPort>(*calls_, h, interfacePath));
  }

  // hidapi lists a node whose capabilities it could read with its usage page; 0 means it could
  // not.
  Result<std::vector<HidInfo>> ListHid() override {
    auto entries = calls_->HidEnumerate();
    if (!entries) return PosixError("HID enumeration", EIO);
    std::vector<HidInfo> list;
    for (const HidEntry& e : *entries)
      list.push_back({e.path, e.vendor, e.product, e.usagePage != 0});
    return list;
  }

  Result<std::unique_ptr<HidDevice>> OpenHid(const std::string& path) override {
    return calls_->HidOpen(path);
  }

  Result<std::vector<VolumeInfo>> ListVolumes() override {
    auto names = calls_->VolumeNames();
    if (!names) return Win32Error("volumes", calls_->LastError());
    std::vector<VolumeFound> found;
    for (const std::u16string& name : *names) {
      if (auto v = Volume(name)) found.push_back(std::move(*v));
    }
    // A volume whose partition number the system withholds is numbered by its place on the disk.
    for (VolumeFound& v : found) {
      if (v.numbered) continue;
      v.info.partition = 1;
      for (const VolumeFound& other : found)
        if (other.info.driveNumber == v.info.driveNumber && other.start < v.start)
          ++v.info.partition;
    }
    std::vector<std::string> roots;
    for (const VolumeFound& v : found) roots.push_back(v.root);
    std::vector<Result<SpaceInfo>> spaces = FreeSpaces(roots);
    std::vector<VolumeInfo> volumes;
    for (std::size_t i = 0; i < found.size(); ++i) {
      if (spaces[i].ok()) {
        found[i].info.totalBytes = spaces[i]->totalBytes;
        found[i].info.freeBytes = spaces[i]->freeBytes;
      }
      volumes.push_back(std::move(found[i].info));
    }
    std::sort(volumes.begin(), volumes.end(), [](const VolumeInfo& a, const VolumeInfo& b) {
      return std::tie(a.driveNumber, a.partition) < std::tie(b.driveNumber, b.partition);
    });
    return volumes;
  }

  Result<SpaceInfo> FreeSpace(const std::string& path) override {
    return std::move(FreeSpaces({path}).front());
  }

  // Bounded: a volume whose disk stopped answering blocks the query until the system gives up.
  // The worker shares the calls, which it may use after a query given up has left.
  std::vector<Result<SpaceInfo>> FreeSpaces(const std::vector<std::string>& paths) override {
    std::vector<SpaceQuery> queries;
    for (const std::string& path : paths) {
      queries.push_back({"free space of " + path, [calls = calls_, path]() -> Result<SpaceInfo> {
                           auto space = calls->GetDiskFreeSpaceEx(Utf8ToUtf16(path));
                           if (!space)
                             return Win32Error("free space of " + path, calls->LastError());
                           return SpaceInfo{space->total, space->availableToCaller};
                         }});
    }
    return BoundedSpaceQueries(std::move(queries));
  }

  Status MakeDirectory(const std::string& path) override {
    if (int err = MakeDir(path); err != 0) return PosixError("create " + path, err);
    return {};
  }

  Status SetHidden(const std::string& path) override {
    const std::u16string wide = Utf8ToUtf16(path);
    const std::uint32_t attributes = calls_->GetFileAttributes(wide);
    if (attributes == kInvalidFileAttributes)
      return Win32Error("attributes of " + path, calls_->LastError());
    if (attributes & kFileAttributeHidden) return {};
    if (!calls_->SetFileAttributes(wide,
                                   (attributes | kFileAttributeHidden) & ~kFileAttributeNormal))
      return Win32Error("set attributes of " + path, calls_->LastError());
    return {};
  }

  Result<bool> IsHidden(const std::string& path) override {
    const std::uint32_t attributes = calls_->GetFileAttributes(Utf8ToUtf16(path));
    if (attributes == kInvalidFileAttributes)
      return Win32Error("attributes of " + path, calls_->LastError());
    return (attributes & kFileAttributeHidden) != 0;
  }

  Status AppendToFile(const std::string& path, std::span<const std::uint8_t> data) override {
    UniqueFd fd(OpenFd(path, O_WRONLY | O_CREAT | O_APPEND));
    if (!fd.valid()) return PosixError("open " + path, errno);
    if (int err = WriteAll(fd.get(), data); err != 0) return PosixError("write " + path, err);
    return {};
  }

  Status RemoveFile(const std::string& path) override {
    if (int err = RemoveFileAt(path); err != 0) return PosixError("delete " + path, err);
    return {};
  }

  // The program sits beside the running one (the service), as the system has always installed
  // them.
  Status SetAutostart(bool on) override {
    if (!on) {
      const std::uint32_t status = calls_->RegDeleteValue(kRunKey, kRunValue);
      if (status != kErrorSuccess && status != kErrorFileNotFound)
        return Win32Error("delete autostart value", status);
      return {};
    }
    std::u16string program = calls_->ProgramPath();
    const std::size_t slash = program.find_last_of(u"\\/");
    program.erase(slash == std::u16string::npos ? 0 : slash + 1);
    program += u"KuvLcdManager.exe";
    if (std::uint32_t status = calls_->RegSetString(kRunKey, kRunValue, program);
        status != kErrorSuccess)
      return Win32Error("write autostart value", status);
    return {};
  }

  Result<bool> AutostartRegistered() override {
    std::u16string value;
    const std::uint32_t status = calls_->RegQueryString(kRunKey, kRunValue, &value);
    if (status == kErrorSuccess) return true;
    if (status == kErrorFileNotFound) return false;
    return Win32Error("read autostart value", status);
  }

  void Sleep(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }

 private:
  std::optional<StorageDeviceNumber> DeviceNumberOf(const std::u16string& path) {
    OwnedHandle h(*calls_,
                  calls_->CreateFile(path, 0, kFileShareRead | kFileShareWrite, kOpenExisting, 0));
    if (!h.valid()) return std::nullopt;
    StorageDeviceNumber number{};
    std::uint32_t returned = 0;
    if (!calls_->DeviceIoControl(h.get(), kIoctlStorageGetDeviceNumber, nullptr, 0, &number,
                                 sizeof number, &returned) ||
        returned < sizeof number)
      return std::nullopt;
    return number;
  }

  // The present disk interfaces with the device number each answers; one that does not answer
  // is no drive.
  Result<std::vector<std::pair<int, DeviceInterface>>> NumberedDisks() {
    auto interfaces = calls_->PresentInterfaces(kDiskInterface);
    if (!interfaces) return Win32Error("disk interfaces", calls_->LastError());
    std::vector<std::pair<int, DeviceInterface>> disks;
    for (DeviceInterface& i : *interfaces)
      if (auto number = DeviceNumberOf(i.path))
        disks.emplace_back(static_cast<int>(number->DeviceNumber), std::move(i));
    return disks;
  }

  // The instance id of the drive's device node: the disk interface whose device number it is.
  Result<std::u16string> DiskNode(int driveNumber) {
    auto disks = NumberedDisks();
    if (!disks.ok()) return disks.status();
    for (const auto& [number, i] : *disks)
      if (number == driveNumber) return i.instanceId;
    return PosixError("no disk with device number " + std::to_string(driveNumber), ENOENT);
  }

  StoragePortInfo PortInfo(const std::u16string& instanceId, const std::u16string& path) {
    StoragePortInfo info;
    info.interfacePath = Utf16ToUtf8(path);
    info.instanceId = Utf16ToUtf8(instanceId);
    if (auto ids = calls_->GetDeviceProperty(instanceId, kSpdrpHardwareId))
      for (const std::u16string& id : StringsOf(ids->bytes))
        info.hardwareIds.push_back(Utf16ToUtf8(id));
    if (auto pdo = calls_->GetDeviceProperty(instanceId, kSpdrpPhysicalDeviceObjectName))
      info.pdoName = std::move(pdo->bytes);
    return info;
  }

  std::optional<VolumeFound> Volume(const std::u16string& name) {
    auto paths = calls_->VolumePathNames(name);
    if (!paths || paths->empty()) return std::nullopt;  // not mounted anywhere
    std::u16string device = name;
    if (!device.empty() && device.back() == u'\\') device.pop_back();
    OwnedHandle h(
        *calls_, calls_->CreateFile(device, 0, kFileShareRead | kFileShareWrite, kOpenExisting, 0));
    if (!h.valid()) return std::nullopt;
    struct {
      std::uint32_t count;
      DiskExtent extents[4];
    } extents{};
    static_assert(offsetof(decltype(extents), extents) == 8);
    std::uint32_t returned = 0;
    // A volume over several disks does not fit, and belongs to none of them.
    if (!calls_->DeviceIoControl(h.get(), kIoctlVolumeGetVolumeDiskExtents, nullptr, 0, &extents,
                                 sizeof extents, &returned) ||
        extents.count != 1)
      return std::nullopt;
    VolumeFound v;
    v.info.driveNumber = static_cast<int>(extents.extents[0].DiskNumber);
    if (v.info.driveNumber > kMaxDrive) return std::nullopt;
    v.start = extents.extents[0].StartingOffset;
    StorageDeviceNumber number{};
    if (calls_->DeviceIoControl(h.get(), kIoctlStorageGetDeviceNumber, nullptr, 0, &number,
                                sizeof number, &returned) &&
        returned >= sizeof number) {
      v.info.partition = static_cast<int>(number.PartitionNumber);
      v.numbered = true;
    }
    const std::u16string& root = paths->front();
    std::u16string mount = root;
    if (mount.size() > 1 && (mount.back() == u'\\' || mount.back() == u'/')) mount.pop_back();
    v.info.mountPoint = Utf16ToUtf8(mount);
    if (auto information = calls_->GetVolumeInformation(root)) {
      v.info.label = Utf16ToUtf8(information->label);
      v.info.fileSystem = Utf16ToUtf8(information->fileSystem);
      v.info.readWrite = !(information->flags & kFileReadOnlyVolume);
    }
    v.root = Utf16ToUtf8(root);
    return v;
  }

  std::shared_ptr<Win32Calls> calls_;
};

}  // namespace

std::unique_ptr<DeviceEnv> NewWindowsEnv(std::unique_ptr<win32::Win32Calls> calls) {
  return std::make_unique<WindowsEnv>(std::move(calls));
}

}  // namespace kuv
