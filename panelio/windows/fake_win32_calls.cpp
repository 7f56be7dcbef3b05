#include "panelio/windows/fake_win32_calls.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "common/utf16.h"
#include "panelio/file_io.h"
#include "panelio/unique_fd.h"

namespace kuv::win32 {
namespace {

constexpr std::u16string_view kDrivePrefix = u"\\\\.\\PhysicalDrive";

std::optional<std::uint64_t> ImageSize(const std::string& image) {
  FileStamp stamp;
  if (image.empty() || StampOf(image, stamp) != 0) return std::nullopt;
  return stamp.size;
}

bool Exists(const std::u16string& path) {
  std::error_code ec;
  return std::filesystem::exists(PathOfUtf8(Utf16ToUtf8(path)), ec);
}

template <typename T>
bool Answer(const T& value, void* out, std::uint32_t outSize, std::uint32_t* returned) {
  if (outSize < sizeof value) return false;
  std::memcpy(out, &value, sizeof value);
  *returned = sizeof value;
  return true;
}

}  // namespace

std::u16string FakeWin32Calls::DiskInterfacePath(int driveNumber) {
  return u"\\\\?\\scsi#disk&ven_fake#" + Utf8ToUtf16(std::to_string(driveNumber)) +
         u"#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
}

std::vector<RecordedIoctl> FakeWin32Calls::Ioctls(std::uint32_t code) const {
  std::vector<RecordedIoctl> out;
  for (const RecordedIoctl& r : ioctls)
    if (r.code == code) out.push_back(r);
  return out;
}

FakeDisk* FakeWin32Calls::DiskOf(const std::u16string& path, int* number) {
  for (auto& [n, disk] : disks) {
    if (path == std::u16string(kDrivePrefix) + Utf8ToUtf16(std::to_string(n)) ||
        path == DiskInterfacePath(n)) {
      *number = n;
      return &disk;
    }
  }
  return nullptr;
}

FakeVolume* FakeWin32Calls::VolumeOf(const std::u16string& path) {
  for (FakeVolume& v : volumes) {
    std::u16string device = v.name;
    if (!device.empty() && device.back() == u'\\') device.pop_back();
    if (path == device) return &v;
  }
  return nullptr;
}

Handle FakeWin32Calls::CreateFile(const std::u16string& path, std::uint32_t access, std::uint32_t,
                                  std::uint32_t, std::uint32_t) {
  if (auto e = openErrors.find(path); e != openErrors.end()) {
    error_ = e->second;
    return kInvalidHandle;
  }
  if ((access & kGenericWrite) && readOnly.count(path)) {
    error_ = kErrorAccessDenied;
    return kInvalidHandle;
  }
  int number = 0;
  bool known = DiskOf(path, &number) || VolumeOf(path) ||
               std::any_of(storagePorts.begin(), storagePorts.end(),
                           [&](const DeviceInterface& p) { return p.path == path; });
  if (!known) {
    error_ = kErrorFileNotFound;
    return kInvalidHandle;
  }
  Handle h = next_++;
  handles_[h] = {path, access};
  return h;
}

bool FakeWin32Calls::CloseHandle(Handle handle) {
  if (handles_.erase(handle) == 0) return Fail(kErrorInvalidHandle);
  return true;
}

bool FakeWin32Calls::DeviceIoControl(Handle handle, std::uint32_t code, void* in,
                                     std::uint32_t inSize, void* out, std::uint32_t outSize,
                                     std::uint32_t* returned) {
  *returned = 0;
  auto open = handles_.find(handle);
  if (open == handles_.end()) return Fail(kErrorInvalidHandle);
  RecordedIoctl record{open->second.path, code, {}, outSize, 0};
  if (in && inSize) {
    auto* bytes = static_cast<const std::uint8_t*>(in);
    record.in.assign(bytes, bytes + inSize);
  }
  if (code == kIoctlScsiPassThroughDirect && inSize >= sizeof(ScsiPassThroughDirect))
    record.dataBuffer =
        reinterpret_cast<std::uintptr_t>(static_cast<ScsiPassThroughDirect*>(in)->DataBuffer);
  ioctls.push_back(record);

  const std::u16string& path = open->second.path;
  int number = 0;
  if (FakeDisk* disk = DiskOf(path, &number))
    return DiskIoctl(*disk, number, code, in, inSize, out, outSize, returned);
  if (FakeVolume* volume = VolumeOf(path)) {
    if (code == kIoctlVolumeGetVolumeDiskExtents) {
      const std::size_t need = 8 + volume->extents.size() * sizeof(DiskExtent);
      if (outSize < 8) return Fail(kErrorInsufficientBuffer);
      const auto count = static_cast<std::uint32_t>(volume->extents.size());
      std::memcpy(out, &count, 4);
      if (outSize < need) return Fail(234);  // ERROR_MORE_DATA
      std::memcpy(static_cast<std::uint8_t*>(out) + 8, volume->extents.data(),
                  volume->extents.size() * sizeof(DiskExtent));
      *returned = static_cast<std::uint32_t>(need);
      return true;
    }
    if (code == kIoctlStorageGetDeviceNumber && volume->partition && !volume->extents.empty())
      return Answer(StorageDeviceNumber{7, volume->extents[0].DiskNumber, *volume->partition}, out,
                    outSize, returned) ||
             Fail(kErrorInsufficientBuffer);
    return Fail(kErrorInvalidFunction);
  }
  if (code == kIoctlScsiMiniport && miniport) {
    std::uint32_t error = kErrorGenFailure;
    std::span<const std::uint8_t> request(static_cast<const std::uint8_t*>(in), inSize);
    std::span<std::uint8_t> reply(static_cast<std::uint8_t*>(out), outSize);
    if (!miniport(request, reply, &error)) return Fail(error);
    *returned = outSize;
    return true;
  }
  return Fail(kErrorInvalidFunction);
}

bool FakeWin32Calls::DiskIoctl(FakeDisk& disk, int number, std::uint32_t code, void* in,
                               std::uint32_t inSize, void* out, std::uint32_t outSize,
                               std::uint32_t* returned) {
  std::uint32_t error = kErrorInvalidFunction;
  switch (code) {
    case kIoctlStorageGetDeviceNumber:
      return Answer(StorageDeviceNumber{7, static_cast<std::uint32_t>(number), 0}, out, outSize,
                    returned) ||
             Fail(kErrorInsufficientBuffer);
    case kIoctlScsiGetAddress:
      return Answer(disk.address, out, outSize, returned) || Fail(kErrorInsufficientBuffer);
    case kIoctlStorageCheckVerify:
      return disk.checkVerifyError == 0 || Fail(disk.checkVerifyError);
    case kIoctlDiskGetDriveGeometryEx: {
      auto size = ImageSize(disk.image);
      if (!size) return Fail(kErrorNotReady);
      DiskGeometryEx g{};
      g.Geometry.BytesPerSector = disk.bytesPerSector;
      g.Geometry.SectorsPerTrack = 63;
      g.Geometry.TracksPerCylinder = 255;
      g.Geometry.Cylinders = static_cast<std::int64_t>(*size / (63 * 255 * disk.bytesPerSector));
      g.DiskSize = static_cast<std::int64_t>(*size);
      if (outSize < offsetof(DiskGeometryEx, Data)) return Fail(kErrorInsufficientBuffer);
      std::memcpy(out, &g, offsetof(DiskGeometryEx, Data));
      *returned = offsetof(DiskGeometryEx, Data);
      return true;
    }
    case kIoctlScsiPassThroughDirect: {
      if (inSize < sizeof(ScsiPassThroughDirectWithSense) ||
          outSize < sizeof(ScsiPassThroughDirectWithSense))
        return Fail(kErrorInvalidParameter);
      if (!disk.scsi) return Fail(kErrorInvalidFunction);
      auto& block = *static_cast<ScsiPassThroughDirectWithSense*>(in);
      std::span<std::uint8_t> data(static_cast<std::uint8_t*>(block.header.DataBuffer),
                                   block.header.DataBuffer ? block.header.DataTransferLength : 0);
      if (!disk.scsi(block, data, &error)) return Fail(error);
      if (out != in) std::memcpy(out, in, sizeof block);
      *returned = sizeof block;
      return true;
    }
    case kSmartRcvDriveData:
    case kSmartSendDriveCommand: {
      if (inSize < sizeof(SendCmdInParams) || outSize < 16) return Fail(kErrorInvalidParameter);
      if (!disk.smart) return Fail(kErrorInvalidFunction);
      SendCmdInParams request;
      std::memcpy(&request, in, sizeof request);
      SendCmdOutParams reply{};
      if (!disk.smart(request, reply, &error)) return Fail(error);
      const std::uint32_t size = std::min<std::uint32_t>(outSize, sizeof reply);
      std::memcpy(out, &reply, size);
      *returned = code == kSmartRcvDriveData ? size : 16;
      return true;
    }
    default:
      return Fail(kErrorInvalidFunction);
  }
}

// A raw disk reads whole sectors only, as the real one does.
bool FakeWin32Calls::ReadFile(Handle handle, std::uint64_t offset, void* out, std::uint32_t size,
                              std::uint32_t* read) {
  *read = 0;
  auto open = handles_.find(handle);
  if (open == handles_.end()) return Fail(kErrorInvalidHandle);
  int number = 0;
  FakeDisk* disk = DiskOf(open->second.path, &number);
  if (!disk || disk->image.empty()) return Fail(kErrorInvalidFunction);
  if (offset % disk->bytesPerSector != 0 || size % disk->bytesPerSector != 0)
    return Fail(kErrorInvalidParameter);
  auto total = ImageSize(disk->image);
  if (!total || offset >= *total) return Fail(kErrorSectorNotFound);
  UniqueFd fd(OpenFd(disk->image, O_RDONLY));
  if (!fd.valid()) return Fail(kErrorNotReady);
  std::ptrdiff_t n = ReadAtOffset(fd.get(), out, size, offset);
  if (n < 0) return Fail(kErrorCrc);
  *read = static_cast<std::uint32_t>(n);
  return true;
}

std::optional<std::vector<DeviceInterface>> FakeWin32Calls::PresentInterfaces(const Guid& cls) {
  if (cls == kStoragePortInterface) return storagePorts;
  if (!(cls == kDiskInterface)) return std::vector<DeviceInterface>();
  std::vector<DeviceInterface> list;
  for (const auto& [n, disk] : disks) list.push_back({DiskInterfacePath(n), disk.instanceId});
  return list;
}

std::optional<std::u16string> FakeWin32Calls::ParentOf(const std::u16string& instanceId) {
  auto node = nodes.find(instanceId);
  if (node == nodes.end() || node->second.parent.empty()) {
    error_ = kErrorNotFound;
    return std::nullopt;
  }
  return node->second.parent;
}

std::optional<DeviceProperty> FakeWin32Calls::GetDeviceProperty(const std::u16string& instanceId,
                                                                std::uint32_t property) {
  auto node = nodes.find(instanceId);
  if (node == nodes.end()) {
    error_ = kErrorNotFound;
    return std::nullopt;
  }
  auto value = node->second.properties.find(property);
  if (value == node->second.properties.end()) {
    error_ = kErrorInvalidData;
    return std::nullopt;
  }
  return value->second;
}

bool FakeWin32Calls::SetDeviceProperty(const std::u16string& instanceId, std::uint32_t property,
                                       std::span<const std::uint8_t> bytes) {
  auto node = nodes.find(instanceId);
  if (node == nodes.end()) return Fail(kErrorNotFound);
  if (unwritableProperties.count(property)) return Fail(kErrorAccessDenied);
  node->second.properties[property] = {kRegMultiSz, {bytes.begin(), bytes.end()}};
  return true;
}

std::optional<std::vector<std::u16string>> FakeWin32Calls::VolumeNames() {
  std::vector<std::u16string> names;
  for (const FakeVolume& v : volumes) names.push_back(v.name);
  return names;
}

std::optional<std::vector<std::u16string>> FakeWin32Calls::VolumePathNames(
    const std::u16string& volumeName) {
  for (const FakeVolume& v : volumes)
    if (v.name == volumeName) return v.paths;
  error_ = kErrorFileNotFound;
  return std::nullopt;
}

std::optional<VolumeInformation> FakeWin32Calls::GetVolumeInformation(const std::u16string& root) {
  for (const FakeVolume& v : volumes)
    if (std::find(v.paths.begin(), v.paths.end(), root) != v.paths.end())
      return VolumeInformation{v.label, v.fileSystem, v.flags};
  error_ = kErrorPathNotFound;
  return std::nullopt;
}

// A volume's mount path answers its sizes; any other existing path those of the file system
// it is on here.
std::optional<DiskSpace> FakeWin32Calls::GetDiskFreeSpaceEx(const std::u16string& path) {
  for (const FakeVolume& v : volumes)
    if (std::find(v.paths.begin(), v.paths.end(), path) != v.paths.end())
      return DiskSpace{v.available, v.total};
  std::uint64_t total = 0, available = 0;
  if (SpaceOfPath(Utf16ToUtf8(path), total, available) != 0) {
    error_ = kErrorPathNotFound;
    return std::nullopt;
  }
  return DiskSpace{available, total};
}

std::uint32_t FakeWin32Calls::GetFileAttributes(const std::u16string& path) {
  if (!Exists(path)) {
    error_ = kErrorFileNotFound;
    return kInvalidFileAttributes;
  }
  if (auto a = attributes_.find(path); a != attributes_.end()) return a->second;
  std::error_code ec;
  return std::filesystem::is_directory(PathOfUtf8(Utf16ToUtf8(path)), ec) ? kFileAttributeDirectory
                                                                          : kFileAttributeNormal;
}

bool FakeWin32Calls::SetFileAttributes(const std::u16string& path, std::uint32_t attributes) {
  if (!Exists(path)) return Fail(kErrorFileNotFound);
  std::error_code ec;
  if (std::filesystem::is_directory(PathOfUtf8(Utf16ToUtf8(path)), ec))
    attributes |= kFileAttributeDirectory;
  attributes_[path] = attributes;
  return true;
}

std::uint32_t FakeWin32Calls::RegSetString(const std::u16string& key, const std::u16string& name,
                                           const std::u16string& value) {
  registry[key + u"\\" + name] = value;
  return kErrorSuccess;
}

std::uint32_t FakeWin32Calls::RegDeleteValue(const std::u16string& key,
                                             const std::u16string& name) {
  return registry.erase(key + u"\\" + name) ? kErrorSuccess : kErrorFileNotFound;
}

std::uint32_t FakeWin32Calls::RegQueryString(const std::u16string& key, const std::u16string& name,
                                             std::u16string* value) {
  auto found = registry.find(key + u"\\" + name);
  if (found == registry.end()) return kErrorFileNotFound;
  if (value) *value = found->second;
  return kErrorSuccess;
}

Result<std::unique_ptr<HidDevice>> FakeWin32Calls::HidOpen(const std::string& path) {
  return PosixError("open " + path, ENOENT);
}

}  // namespace kuv::win32
