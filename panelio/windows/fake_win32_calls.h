#pragma once
// A stand-in for the Windows calls, for tests: disks backed by image files with scripted answers
// to pass-through and S.M.A.R.T. requests, a device tree, volumes, attributes and the registry
// in memory. Every DeviceIoControl is recorded as its bytes were sent, so tests check the layouts.

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "panelio/windows/win32_calls.h"

namespace kuv::win32 {

struct FakeDisk {
  std::string image;  // the file that stands for the medium; "" for none
  std::uint32_t bytesPerSector = 512;
  std::u16string instanceId;  // the disk's device node
  ScsiAddressBlock address{8, 0, 0, 0, 0};
  // Answers one pass-through request (header filled as sent, data as the aligned buffer); false
  // with *error set fails the call. Unset: every command is refused with ERROR_INVALID_FUNCTION.
  std::function<bool(ScsiPassThroughDirectWithSense&, std::span<std::uint8_t>, std::uint32_t*)>
      scsi;
  // Answers SMART_RCV_DRIVE_DATA and SMART_SEND_DRIVE_COMMAND; unset: ERROR_INVALID_FUNCTION, as
  // a USB disk answers.
  std::function<bool(const SendCmdInParams&, SendCmdOutParams&, std::uint32_t*)> smart;
  std::uint32_t checkVerifyError = 0;
};

struct FakeVolume {
  std::u16string name;                // "\\?\Volume{...}\"
  std::vector<std::u16string> paths;  // mount paths, each ending in '\'
  std::u16string label, fileSystem = u"NTFS";
  std::uint32_t flags = 0;
  std::uint64_t total = 0, available = 0;
  std::vector<DiskExtent> extents;
  std::optional<std::uint32_t> partition;  // unset: the system withholds it
};

struct FakeNode {
  std::u16string parent;  // "" for the root
  std::map<std::uint32_t, DeviceProperty> properties;
};

struct RecordedIoctl {
  std::u16string path;  // what the handle was opened on
  std::uint32_t code = 0;
  std::vector<std::uint8_t> in;
  std::uint32_t outSize = 0;
  std::uintptr_t dataBuffer = 0;  // a pass-through's data address
};

class FakeWin32Calls final : public Win32Calls {
 public:
  std::map<int, FakeDisk> disks;  // by drive number; each lists a disk interface
  std::map<std::u16string, FakeNode> nodes;
  std::vector<DeviceInterface> storagePorts;
  std::function<bool(std::span<const std::uint8_t>, std::span<std::uint8_t>, std::uint32_t*)>
      miniport;  // answers IOCTL_SCSI_MINIPORT on any port
  std::vector<FakeVolume> volumes;
  std::map<std::u16string, std::uint32_t> openErrors;  // CreateFile on the path fails so
  std::set<std::u16string> readOnly;                   // asking write access there is denied
  std::set<std::uint32_t> unwritableProperties;        // SetDeviceProperty fails for these
  std::map<std::u16string, std::u16string> registry;   // key + '\' + name -> value
  std::u16string programPath = u"C:\\Program Files\\KuvLcd\\panelsvc.exe";
  std::vector<HidEntry> hid;
  std::vector<RecordedIoctl> ioctls;

  int OpenHandles() const { return static_cast<int>(handles_.size()); }
  // The recorded requests with this code.
  std::vector<RecordedIoctl> Ioctls(std::uint32_t code) const;

  std::uint32_t LastError() override { return error_; }
  Handle CreateFile(const std::u16string& path, std::uint32_t access, std::uint32_t share,
                    std::uint32_t disposition, std::uint32_t flags) override;
  bool DeviceIoControl(Handle handle, std::uint32_t code, void* in, std::uint32_t inSize, void* out,
                       std::uint32_t outSize, std::uint32_t* returned) override;
  bool ReadFile(Handle handle, std::uint64_t offset, void* out, std::uint32_t size,
                std::uint32_t* read) override;
  bool CloseHandle(Handle handle) override;
  std::optional<std::vector<DeviceInterface>> PresentInterfaces(const Guid& cls) override;
  std::optional<std::u16string> ParentOf(const std::u16string& instanceId) override;
  std::optional<DeviceProperty> GetDeviceProperty(const std::u16string& instanceId,
                                                  std::uint32_t property) override;
  bool SetDeviceProperty(const std::u16string& instanceId, std::uint32_t property,
                         std::span<const std::uint8_t> bytes) override;
  std::optional<std::vector<std::u16string>> VolumeNames() override;
  std::optional<std::vector<std::u16string>> VolumePathNames(
      const std::u16string& volumeName) override;
  std::optional<VolumeInformation> GetVolumeInformation(const std::u16string& root) override;
  std::optional<DiskSpace> GetDiskFreeSpaceEx(const std::u16string& path) override;
  std::uint32_t GetFileAttributes(const std::u16string& path) override;
  bool SetFileAttributes(const std::u16string& path, std::uint32_t attributes) override;
  std::uint32_t RegSetString(const std::u16string& key, const std::u16string& name,
                             const std::u16string& value) override;
  std::uint32_t RegDeleteValue(const std::u16string& key, const std::u16string& name) override;
  std::uint32_t RegQueryString(const std::u16string& key, const std::u16string& name,
                               std::u16string* value) override;
  std::u16string ProgramPath() override { return programPath; }
  std::optional<std::vector<HidEntry>> HidEnumerate() override { return hid; }
  Result<std::unique_ptr<HidDevice>> HidOpen(const std::string& path) override;

  static std::u16string DiskInterfacePath(int driveNumber);

 private:
  struct Open {
    std::u16string path;
    std::uint32_t access = 0;
  };
  bool Fail(std::uint32_t error) {
    error_ = error;
    return false;
  }
  FakeDisk* DiskOf(const std::u16string& path, int* number);
  FakeVolume* VolumeOf(const std::u16string& path);
  bool DiskIoctl(FakeDisk& disk, int number, std::uint32_t code, void* in, std::uint32_t inSize,
                 void* out, std::uint32_t outSize, std::uint32_t* returned);

  std::map<Handle, Open> handles_;
  Handle next_ = 0x100;
  std::uint32_t error_ = 0;
  std::map<std::u16string, std::uint32_t> attributes_;
};

}  // namespace kuv::win32
