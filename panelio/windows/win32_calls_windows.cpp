// The calls of the running system behind Win32Calls. Only this file includes the system headers;
// the layouts WindowsEnv builds by hand are checked against them here.

#include <windows.h>
// These come after windows.h, which they build on.
#include <cfgmgr32.h>
#include <devguid.h>
#include <hidapi.h>
#include <ntddscsi.h>
#include <setupapi.h>
#include <winioctl.h>

#include <cerrno>
#include <cstddef>
#include <mutex>

#include "common/utf16.h"
#include "panelio/hidapi_device.h"
#include "panelio/windows/win32_calls.h"

namespace kuv::win32 {
namespace {

static_assert(sizeof(ScsiPassThroughDirect) == sizeof(SCSI_PASS_THROUGH_DIRECT));
static_assert(offsetof(ScsiPassThroughDirect, DataIn) ==
              offsetof(SCSI_PASS_THROUGH_DIRECT, DataIn));
static_assert(offsetof(ScsiPassThroughDirect, DataTransferLength) ==
              offsetof(SCSI_PASS_THROUGH_DIRECT, DataTransferLength));
static_assert(offsetof(ScsiPassThroughDirect, TimeOutValue) ==
              offsetof(SCSI_PASS_THROUGH_DIRECT, TimeOutValue));
static_assert(offsetof(ScsiPassThroughDirect, DataBuffer) ==
              offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer));
static_assert(offsetof(ScsiPassThroughDirect, SenseInfoOffset) ==
              offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset));
static_assert(offsetof(ScsiPassThroughDirect, Cdb) == offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb));
static_assert(sizeof(SendCmdInParams) == sizeof(SENDCMDINPARAMS));
static_assert(offsetof(SendCmdInParams, bDriveNumber) == offsetof(SENDCMDINPARAMS, bDriveNumber));
static_assert(offsetof(SendCmdOutParams, bBuffer) == offsetof(SENDCMDOUTPARAMS, bBuffer));
static_assert(sizeof(ScsiAddressBlock) == sizeof(SCSI_ADDRESS));
static_assert(sizeof(StorageDeviceNumber) == sizeof(STORAGE_DEVICE_NUMBER));
static_assert(sizeof(DiskGeometry) == sizeof(DISK_GEOMETRY));
static_assert(offsetof(DiskGeometryEx, DiskSize) == offsetof(DISK_GEOMETRY_EX, DiskSize));
static_assert(sizeof(DiskExtent) == sizeof(DISK_EXTENT));
static_assert(offsetof(VOLUME_DISK_EXTENTS, Extents) == 8);
static_assert(kIoctlScsiPassThroughDirect == IOCTL_SCSI_PASS_THROUGH_DIRECT);
static_assert(kIoctlScsiMiniport == IOCTL_SCSI_MINIPORT);
static_assert(kIoctlScsiGetAddress == IOCTL_SCSI_GET_ADDRESS);
static_assert(kIoctlStorageGetDeviceNumber == IOCTL_STORAGE_GET_DEVICE_NUMBER);
static_assert(kIoctlStorageCheckVerify == IOCTL_STORAGE_CHECK_VERIFY);
static_assert(kIoctlDiskGetDriveGeometry == IOCTL_DISK_GET_DRIVE_GEOMETRY);
static_assert(kIoctlDiskGetDriveGeometryEx == IOCTL_DISK_GET_DRIVE_GEOMETRY_EX);
static_assert(kSmartSendDriveCommand == SMART_SEND_DRIVE_COMMAND);
static_assert(kSmartRcvDriveData == SMART_RCV_DRIVE_DATA);
static_assert(kIoctlVolumeGetVolumeDiskExtents == IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS);
static_assert(kSpdrpHardwareId == SPDRP_HARDWAREID && kSpdrpFriendlyName == SPDRP_FRIENDLYNAME &&
              kSpdrpPhysicalDeviceObjectName == SPDRP_PHYSICAL_DEVICE_OBJECT_NAME &&
              kSpdrpUpperFilters == SPDRP_UPPERFILTERS);
static_assert(kErrorNotReady == ERROR_NOT_READY && kErrorSemTimeout == ERROR_SEM_TIMEOUT &&
              kErrorDeviceNotConnected == ERROR_DEVICE_NOT_CONNECTED &&
              kErrorInvalidData == ERROR_INVALID_DATA && kErrorNoMoreItems == ERROR_NO_MORE_ITEMS);
static_assert(
    kErrorFileNotFound == ERROR_FILE_NOT_FOUND && kErrorAccessDenied == ERROR_ACCESS_DENIED &&
    kErrorInvalidData == ERROR_INVALID_DATA && kErrorBadUnit == ERROR_BAD_UNIT &&
    kErrorSectorNotFound == ERROR_SECTOR_NOT_FOUND && kErrorDevNotExist == ERROR_DEV_NOT_EXIST &&
    kErrorInsufficientBuffer == ERROR_INSUFFICIENT_BUFFER &&
    kErrorDirNotEmpty == ERROR_DIR_NOT_EMPTY && kErrorAlreadyExists == ERROR_ALREADY_EXISTS &&
    kErrorNotFound == ERROR_NOT_FOUND && kErrorTimeout == ERROR_TIMEOUT &&
    kErrorIoDevice == ERROR_IO_DEVICE && kErrorOutOfMemory == ERROR_OUTOFMEMORY &&
    kErrorHandleDiskFull == ERROR_HANDLE_DISK_FULL && kErrorBadNetPath == ERROR_BAD_NETPATH);
static_assert(kFileReadOnlyVolume == FILE_READ_ONLY_VOLUME);
static_assert(sizeof(wchar_t) == sizeof(char16_t));

const wchar_t* W(const std::u16string& s) {
  return reinterpret_cast<const wchar_t*>(s.c_str());
}
std::u16string U(const wchar_t* s) {
  return reinterpret_cast<const char16_t*>(s);
}
HANDLE H(Handle h) {
  return reinterpret_cast<HANDLE>(h);
}

GUID GuidOf(const Guid& g) {
  GUID out;
  out.Data1 = g.data1;
  out.Data2 = g.data2;
  out.Data3 = g.data3;
  std::copy(std::begin(g.data4), std::end(g.data4), out.Data4);
  return out;
}

struct InfoList {
  explicit InfoList(HDEVINFO handle) : set(handle) {}
  InfoList(const InfoList&) = delete;
  InfoList& operator=(const InfoList&) = delete;
  ~InfoList() {
    if (set != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(set);
  }
  HDEVINFO set;
};

// The node named by instanceId in a fresh list of its own, for the property calls.
bool OpenNode(InfoList& list, const std::u16string& instanceId, SP_DEVINFO_DATA& node) {
  if (list.set == INVALID_HANDLE_VALUE) return false;
  node = {};
  node.cbSize = sizeof node;
  return SetupDiOpenDeviceInfoW(list.set, W(instanceId), nullptr, 0, &node);
}

std::optional<std::u16string> DeviceIdOf(DEVINST node) {
  wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
  if (CM_Get_Device_IDW(node, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) {
    SetLastError(ERROR_NOT_FOUND);
    return std::nullopt;
  }
  return U(id);
}

class SystemCalls final : public Win32Calls {
 public:
  ~SystemCalls() override {
    if (hidReady_) hid_exit();
  }

  std::uint32_t LastError() override { return GetLastError(); }

  Handle CreateFile(const std::u16string& path, std::uint32_t access, std::uint32_t share,
                    std::uint32_t disposition, std::uint32_t flags) override {
    HANDLE h = CreateFileW(W(path), access, share, nullptr, disposition, flags, nullptr);
    return h == INVALID_HANDLE_VALUE ? kInvalidHandle : reinterpret_cast<Handle>(h);
  }

  bool DeviceIoControl(Handle handle, std::uint32_t code, void* in, std::uint32_t inSize, void* out,
                       std::uint32_t outSize, std::uint32_t* returned) override {
    DWORD n = 0;
    BOOL ok = ::DeviceIoControl(H(handle), code, in, inSize, out, outSize, &n, nullptr);
    *returned = n;
    return ok;
  }

  bool ReadFile(Handle handle, std::uint64_t offset, void* out, std::uint32_t size,
                std::uint32_t* read) override {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD n = 0;
    BOOL ok = ::ReadFile(H(handle), out, size, &n, &at);
    *read = n;
    return ok;
  }

  bool CloseHandle(Handle handle) override { return ::CloseHandle(H(handle)); }

  std::optional<std::vector<DeviceInterface>> PresentInterfaces(const Guid& cls) override {
    const GUID guid = GuidOf(cls);
    InfoList list(
        SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (list.set == INVALID_HANDLE_VALUE) return std::nullopt;
    std::vector<DeviceInterface> found;
    for (DWORD index = 0;; ++index) {
      SP_DEVICE_INTERFACE_DATA item{};
      item.cbSize = sizeof item;
      if (!SetupDiEnumDeviceInterfaces(list.set, nullptr, &guid, index, &item)) {
        if (GetLastError() == ERROR_NO_MORE_ITEMS) break;
        return std::nullopt;
      }
      DWORD size = 0;
      SetupDiGetDeviceInterfaceDetailW(list.set, &item, nullptr, 0, &size, nullptr);
      if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) continue;
      std::vector<std::uint8_t> storage(size);
      auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
      detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
      SP_DEVINFO_DATA node{};
      node.cbSize = sizeof node;
      if (!SetupDiGetDeviceInterfaceDetailW(list.set, &item, detail, size, nullptr, &node))
        continue;
      auto id = DeviceIdOf(node.DevInst);
      if (id) found.push_back({U(detail->DevicePath), *id});
    }
    return found;
  }

  std::optional<std::u16string> ParentOf(const std::u16string& instanceId) override {
    DEVINST node = 0, parent = 0;
    std::u16string id = instanceId;
    if (CM_Locate_DevNodeW(&node, const_cast<wchar_t*>(W(id)), CM_LOCATE_DEVNODE_NORMAL) !=
            CR_SUCCESS ||
        CM_Get_Parent(&parent, node, 0) != CR_SUCCESS) {
      SetLastError(ERROR_NOT_FOUND);
      return std::nullopt;
    }
    return DeviceIdOf(parent);
  }

  std::optional<DeviceProperty> GetDeviceProperty(const std::u16string& instanceId,
                                                  std::uint32_t property) override {
    InfoList list(SetupDiCreateDeviceInfoList(nullptr, nullptr));
    SP_DEVINFO_DATA node;
    if (!OpenNode(list, instanceId, node)) return std::nullopt;
    DWORD type = 0, size = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(list.set, &node, property, &type, nullptr, 0, &size) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER)
      return std::nullopt;
    DeviceProperty out;
    out.bytes.resize(size);
    if (!SetupDiGetDeviceRegistryPropertyW(list.set, &node, property, &type, out.bytes.data(), size,
                                           &size))
      return std::nullopt;
    out.bytes.resize(size);
    out.type = type;
    return out;
  }

  bool SetDeviceProperty(const std::u16string& instanceId, std::uint32_t property,
                         std::span<const std::uint8_t> bytes) override {
    InfoList list(SetupDiCreateDeviceInfoList(nullptr, nullptr));
    SP_DEVINFO_DATA node;
    if (!OpenNode(list, instanceId, node)) return false;
    return SetupDiSetDeviceRegistryPropertyW(list.set, &node, property, bytes.data(),
                                             static_cast<DWORD>(bytes.size()));
  }

  std::optional<std::vector<std::u16string>> VolumeNames() override {
    wchar_t name[MAX_PATH + 1];
    HANDLE find = FindFirstVolumeW(name, MAX_PATH);
    if (find == INVALID_HANDLE_VALUE) return std::nullopt;
    std::vector<std::u16string> names;
    do {
      names.push_back(U(name));
    } while (FindNextVolumeW(find, name, MAX_PATH));
    const DWORD error = GetLastError();
    FindVolumeClose(find);
    if (error != ERROR_NO_MORE_FILES) {
      SetLastError(error);
      return std::nullopt;
    }
    return names;
  }

  std::optional<std::vector<std::u16string>> VolumePathNames(
      const std::u16string& volumeName) override {
    DWORD size = 0;
    GetVolumePathNamesForVolumeNameW(W(volumeName), nullptr, 0, &size);
    if (size == 0) return std::nullopt;
    std::vector<wchar_t> buffer(size + 1);
    if (!GetVolumePathNamesForVolumeNameW(W(volumeName), buffer.data(), size, &size))
      return std::nullopt;
    std::vector<std::u16string> paths;
    for (const wchar_t* at = buffer.data(); *at; at += wcslen(at) + 1) paths.push_back(U(at));
    return paths;
  }

  std::optional<VolumeInformation> GetVolumeInformation(const std::u16string& root) override {
    wchar_t label[MAX_PATH + 1] = {}, fileSystem[MAX_PATH + 1] = {};
    DWORD flags = 0;
    if (!GetVolumeInformationW(W(root), label, MAX_PATH, nullptr, nullptr, &flags, fileSystem,
                               MAX_PATH))
      return std::nullopt;
    return VolumeInformation{U(label), U(fileSystem), flags};
  }

  std::optional<DiskSpace> GetDiskFreeSpaceEx(const std::u16string& path) override {
    ULARGE_INTEGER available{}, total{};
    if (!GetDiskFreeSpaceExW(W(path), &available, &total, nullptr)) return std::nullopt;
    return DiskSpace{available.QuadPart, total.QuadPart};
  }

  std::uint32_t GetFileAttributes(const std::u16string& path) override {
    return GetFileAttributesW(W(path));
  }

  bool SetFileAttributes(const std::u16string& path, std::uint32_t attributes) override {
    return SetFileAttributesW(W(path), attributes);
  }

  std::uint32_t RegSetString(const std::u16string& key, const std::u16string& name,
                             const std::u16string& value) override {
    HKEY open = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, W(key), 0, nullptr, 0, KEY_ALL_ACCESS,
                                     nullptr, &open, nullptr);
    if (status != ERROR_SUCCESS) return static_cast<std::uint32_t>(status);
    status = RegSetValueExW(open, W(name), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(char16_t)));
    RegCloseKey(open);
    return static_cast<std::uint32_t>(status);
  }

  std::uint32_t RegDeleteValue(const std::u16string& key, const std::u16string& name) override {
    HKEY open = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, W(key), 0, nullptr, 0, KEY_ALL_ACCESS,
                                     nullptr, &open, nullptr);
    if (status != ERROR_SUCCESS) return static_cast<std::uint32_t>(status);
    status = RegDeleteValueW(open, W(name));
    RegCloseKey(open);
    return static_cast<std::uint32_t>(status);
  }

  std::uint32_t RegQueryString(const std::u16string& key, const std::u16string& name,
                               std::u16string* value) override {
    HKEY open = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, W(key), 0, KEY_QUERY_VALUE, &open);
    if (status != ERROR_SUCCESS) return static_cast<std::uint32_t>(status);
    DWORD type = 0, size = 0;
    status = RegQueryValueExW(open, W(name), nullptr, &type, nullptr, &size);
    if (status == ERROR_SUCCESS) {
      std::u16string text(size / sizeof(char16_t) + 1, u'\0');
      status = RegQueryValueExW(open, W(name), nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                                &size);
      text.resize(size / sizeof(char16_t));
      while (!text.empty() && text.back() == u'\0') text.pop_back();
      if (value) *value = std::move(text);
    }
    RegCloseKey(open);
    return static_cast<std::uint32_t>(status);
  }

  std::u16string ProgramPath() override {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
      DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
      if (n == 0) return u"";
      if (n < buffer.size()) return std::u16string(reinterpret_cast<char16_t*>(buffer.data()), n);
      buffer.resize(buffer.size() * 2);
    }
  }

  std::optional<std::vector<HidEntry>> HidEnumerate() override {
    if (!HidReady()) return std::nullopt;
    std::vector<HidEntry> list;
    hid_device_info* all = hid_enumerate(0, 0);
    for (hid_device_info* i = all; i; i = i->next)
      list.push_back({i->path ? i->path : "", i->vendor_id, i->product_id, i->usage_page});
    hid_free_enumeration(all);
    return list;
  }

  Result<std::unique_ptr<HidDevice>> HidOpen(const std::string& path) override {
    if (!HidReady()) return PosixError("hid_init", EIO);
    return OpenHidapiDevice(path);
  }

 private:
  bool HidReady() {
    std::call_once(hidOnce_, [this] { hidReady_ = hid_init() == 0; });
    return hidReady_;
  }

  std::once_flag hidOnce_;
  bool hidReady_ = false;
};

}  // namespace

std::unique_ptr<Win32Calls> NewSystemWin32Calls() {
  return std::make_unique<SystemCalls>();
}

}  // namespace kuv::win32
