#pragma once
// Win32Calls: the Windows calls WindowsEnv makes, one thin method per call (or per fixed group of
// calls that only make sense together, as an enumeration with its handle), so that WindowsEnv can
// be driven by a fake where the real calls do not reach hardware (Wine, a machine without trays).
// Everything here is plain C++: the structures are laid out as Windows defines them for x64, and
// the real implementation checks them against the system headers.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "panelio/env.h"

namespace kuv::win32 {

using Handle = std::uintptr_t;
inline constexpr Handle kInvalidHandle = ~Handle{0};

// System error codes WindowsEnv tells apart.
enum : std::uint32_t {
  kErrorSuccess = 0,
  kErrorInvalidFunction = 1,
  kErrorFileNotFound = 2,
  kErrorPathNotFound = 3,
  kErrorAccessDenied = 5,
  kErrorInvalidHandle = 6,
  kErrorNotEnoughMemory = 8,
  kErrorInvalidData = 13,
  kErrorOutOfMemory = 14,
  kErrorInvalidDrive = 15,
  kErrorWriteProtect = 19,
  kErrorBadUnit = 20,
  kErrorNotReady = 21,
  kErrorCrc = 23,
  kErrorSectorNotFound = 27,
  kErrorGenFailure = 31,
  kErrorSharingViolation = 32,
  kErrorLockViolation = 33,
  kErrorHandleDiskFull = 39,
  kErrorNotSupported = 50,
  kErrorBadNetPath = 53,
  kErrorDevNotExist = 55,
  kErrorFileExists = 80,
  kErrorInvalidParameter = 87,
  kErrorDiskFull = 112,
  kErrorSemTimeout = 121,
  kErrorInsufficientBuffer = 122,
  kErrorInvalidName = 123,
  kErrorDirNotEmpty = 145,
  kErrorAlreadyExists = 183,
  kErrorNoMoreItems = 259,
  kErrorNoSuchDevice = 433,
  kErrorIoDevice = 1117,
  kErrorDeviceNotConnected = 1167,
  kErrorNotFound = 1168,
  kErrorTimeout = 1460,
};

// The errno a system error code stands for, as the Linux backend would report the same failure.
int ErrnoOf(std::uint32_t error);

// CreateFileW arguments.
inline constexpr std::uint32_t kGenericRead = 0x80000000u;
inline constexpr std::uint32_t kGenericWrite = 0x40000000u;
inline constexpr std::uint32_t kFileShareRead = 0x1;
inline constexpr std::uint32_t kFileShareWrite = 0x2;
inline constexpr std::uint32_t kOpenExisting = 3;

// DeviceIoControl codes.
inline constexpr std::uint32_t kIoctlScsiPassThroughDirect = 0x0004D014;
inline constexpr std::uint32_t kIoctlScsiMiniport = 0x0004D008;
inline constexpr std::uint32_t kIoctlScsiGetAddress = 0x00041018;
inline constexpr std::uint32_t kIoctlStorageGetDeviceNumber = 0x002D1080;
inline constexpr std::uint32_t kIoctlStorageCheckVerify = 0x002D4800;
inline constexpr std::uint32_t kIoctlDiskGetDriveGeometry = 0x00070000;
inline constexpr std::uint32_t kIoctlDiskGetDriveGeometryEx = 0x000700A0;
inline constexpr std::uint32_t kSmartSendDriveCommand = 0x0007C084;
inline constexpr std::uint32_t kSmartRcvDriveData = 0x0007C088;
inline constexpr std::uint32_t kIoctlVolumeGetVolumeDiskExtents = 0x00560000;

// SCSI_PASS_THROUGH_DIRECT of x64 Windows (DataBuffer is a pointer, hence the padding).
struct ScsiPassThroughDirect {
  std::uint16_t Length;
  std::uint8_t ScsiStatus;
  std::uint8_t PathId;
  std::uint8_t TargetId;
  std::uint8_t Lun;
  std::uint8_t CdbLength;
  std::uint8_t SenseInfoLength;
  std::uint8_t DataIn;
  std::uint32_t DataTransferLength;
  std::uint32_t TimeOutValue;
  void* DataBuffer;
  std::uint32_t SenseInfoOffset;
  std::uint8_t Cdb[16];
};
static_assert(sizeof(void*) != 8 || sizeof(ScsiPassThroughDirect) == 56);
static_assert(offsetof(ScsiPassThroughDirect, DataTransferLength) == 12);
static_assert(sizeof(void*) != 8 || offsetof(ScsiPassThroughDirect, SenseInfoOffset) == 32);
static_assert(sizeof(void*) != 8 || offsetof(ScsiPassThroughDirect, Cdb) == 36);

inline constexpr std::uint8_t kScsiIoctlDataOut = 0;
inline constexpr std::uint8_t kScsiIoctlDataIn = 1;
inline constexpr std::uint8_t kScsiIoctlDataUnspecified = 2;

// The request block: the header with the sense bytes right behind it.
struct ScsiPassThroughDirectWithSense {
  ScsiPassThroughDirect header;
  std::uint8_t sense[32];
};

#pragma pack(push, 1)
// IDEREGS, SENDCMDINPARAMS and SENDCMDOUTPARAMS (byte-packed in the system headers).
struct IdeRegs {
  std::uint8_t bFeaturesReg, bSectorCountReg, bSectorNumberReg, bCylLowReg, bCylHighReg,
      bDriveHeadReg, bCommandReg, bReserved;
};
struct SendCmdInParams {
  std::uint32_t cBufferSize;
  IdeRegs irDriveRegs;
  std::uint8_t bDriveNumber;
  std::uint8_t bReserved[3];
  std::uint32_t dwReserved[4];
  std::uint8_t bBuffer[1];
};
struct SendCmdOutParams {
  std::uint32_t cBufferSize;
  std::uint8_t bDriverError, bIDEError, bReserved[2];
  std::uint32_t dwReserved[2];
  std::uint8_t bBuffer[512];
};
#pragma pack(pop)
static_assert(sizeof(SendCmdInParams) == 33);
static_assert(offsetof(SendCmdInParams, irDriveRegs) == 4 &&
              offsetof(SendCmdInParams, bDriveNumber) == 12);
static_assert(sizeof(SendCmdOutParams) == 528 && offsetof(SendCmdOutParams, bBuffer) == 16);

struct ScsiAddressBlock {  // SCSI_ADDRESS
  std::uint32_t Length;
  std::uint8_t PortNumber, PathId, TargetId, Lun;
};
static_assert(sizeof(ScsiAddressBlock) == 8);

struct StorageDeviceNumber {  // STORAGE_DEVICE_NUMBER
  std::uint32_t DeviceType;
  std::uint32_t DeviceNumber;
  std::uint32_t PartitionNumber;
};
static_assert(sizeof(StorageDeviceNumber) == 12);

struct DiskGeometry {  // DISK_GEOMETRY
  std::int64_t Cylinders;
  std::uint32_t MediaType;
  std::uint32_t TracksPerCylinder;
  std::uint32_t SectorsPerTrack;
  std::uint32_t BytesPerSector;
};
static_assert(sizeof(DiskGeometry) == 24);

struct DiskGeometryEx {  // DISK_GEOMETRY_EX with its one-byte data tail
  DiskGeometry Geometry;
  std::int64_t DiskSize;
  std::uint8_t Data[8];
};
static_assert(offsetof(DiskGeometryEx, DiskSize) == 24);

struct DiskExtent {  // DISK_EXTENT
  std::uint32_t DiskNumber;
  std::int64_t StartingOffset;
  std::int64_t ExtentLength;
};
static_assert(sizeof(DiskExtent) == 24 && offsetof(DiskExtent, StartingOffset) == 8);

// SetupAPI device-registry properties (SPDRP_*).
inline constexpr std::uint32_t kSpdrpHardwareId = 0x01;
inline constexpr std::uint32_t kSpdrpFriendlyName = 0x0C;
inline constexpr std::uint32_t kSpdrpPhysicalDeviceObjectName = 0x0E;
inline constexpr std::uint32_t kSpdrpUpperFilters = 0x11;
inline constexpr std::uint32_t kRegMultiSz = 7;

// Device-interface classes.
struct Guid {
  std::uint32_t data1;
  std::uint16_t data2, data3;
  std::uint8_t data4[8];
  friend bool operator==(const Guid&, const Guid&) = default;
};
inline constexpr Guid kDiskInterface = {
    0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
inline constexpr Guid kStoragePortInterface = {
    0x2ACCFE60, 0xC130, 0x11D2, {0xB0, 0x82, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

// File attributes.
inline constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
inline constexpr std::uint32_t kFileAttributeHidden = 0x02;
inline constexpr std::uint32_t kFileAttributeDirectory = 0x10;
inline constexpr std::uint32_t kFileAttributeNormal = 0x80;
inline constexpr std::uint32_t kFileReadOnlyVolume = 0x00080000;

// One present device interface: the path that opens it and its device node's instance id.
struct DeviceInterface {
  std::u16string path;
  std::u16string instanceId;
};

struct VolumeInformation {
  std::u16string label;
  std::u16string fileSystem;
  std::uint32_t flags = 0;
};

struct DiskSpace {
  std::uint64_t availableToCaller = 0;
  std::uint64_t total = 0;
};

// A device-registry property as SetupDiGetDeviceRegistryPropertyW returns it.
struct DeviceProperty {
  std::uint32_t type = 0;
  std::vector<std::uint8_t> bytes;
};

// A HID interface as hidapi lists it.
struct HidEntry {
  std::string path;
  std::uint16_t vendor = 0;
  std::uint16_t product = 0;
  std::uint16_t usagePage = 0;  // 0 when the capabilities could not be read
};

// Every method that fails leaves its reason for LastError(), as the calls themselves do.
class Win32Calls {
 public:
  virtual ~Win32Calls() = default;

  virtual std::uint32_t LastError() = 0;

  // CreateFileW with no template and no security attributes.
  virtual Handle CreateFile(const std::u16string& path, std::uint32_t access, std::uint32_t share,
                            std::uint32_t disposition, std::uint32_t flags) = 0;
  virtual bool DeviceIoControl(Handle handle, std::uint32_t code, void* in, std::uint32_t inSize,
                               void* out, std::uint32_t outSize, std::uint32_t* returned) = 0;
  // ReadFile at an offset (an OVERLAPPED with the offset, on a handle opened for synchronous use).
  virtual bool ReadFile(Handle handle, std::uint64_t offset, void* out, std::uint32_t size,
                        std::uint32_t* read) = 0;
  virtual bool CloseHandle(Handle handle) = 0;

  // SetupDiGetClassDevsW (present interfaces of the class), SetupDiEnumDeviceInterfaces and
  // SetupDiGetDeviceInterfaceDetailW, with CM_Get_Device_IDW naming each interface's node.
  virtual std::optional<std::vector<DeviceInterface>> PresentInterfaces(const Guid& cls) = 0;
  // CM_Locate_DevNodeW, CM_Get_Parent and CM_Get_Device_IDW: the parent node's instance id.
  virtual std::optional<std::u16string> ParentOf(const std::u16string& instanceId) = 0;
  // SetupDiOpenDeviceInfoW and SetupDiGetDeviceRegistryPropertyW.
  virtual std::optional<DeviceProperty> GetDeviceProperty(const std::u16string& instanceId,
                                                          std::uint32_t property) = 0;
  // SetupDiOpenDeviceInfoW and SetupDiSetDeviceRegistryPropertyW.
  virtual bool SetDeviceProperty(const std::u16string& instanceId, std::uint32_t property,
                                 std::span<const std::uint8_t> bytes) = 0;

  // FindFirstVolumeW, FindNextVolumeW, FindVolumeClose: "\\?\Volume{...}\" names.
  virtual std::optional<std::vector<std::u16string>> VolumeNames() = 0;
  // GetVolumePathNamesForVolumeNameW: the volume's mount paths, each ending in '\'.
  virtual std::optional<std::vector<std::u16string>> VolumePathNames(
      const std::u16string& volumeName) = 0;
  virtual std::optional<VolumeInformation> GetVolumeInformation(const std::u16string& root) = 0;
  virtual std::optional<DiskSpace> GetDiskFreeSpaceEx(const std::u16string& path) = 0;

  virtual std::uint32_t GetFileAttributes(const std::u16string& path) = 0;
  virtual bool SetFileAttributes(const std::u16string& path, std::uint32_t attributes) = 0;

  // Under HKEY_LOCAL_MACHINE: RegCreateKeyExW (full access), then RegSetValueExW (REG_SZ),
  // RegDeleteValueW or RegQueryValueExW, then RegCloseKey. Each answers the registry's status.
  virtual std::uint32_t RegSetString(const std::u16string& key, const std::u16string& name,
                                     const std::u16string& value) = 0;
  virtual std::uint32_t RegDeleteValue(const std::u16string& key, const std::u16string& name) = 0;
  virtual std::uint32_t RegQueryString(const std::u16string& key, const std::u16string& name,
                                       std::u16string* value) = 0;

  // GetModuleFileNameW of the program (not of the library).
  virtual std::u16string ProgramPath() = 0;

  // hidapi on Windows: hid_enumerate(0, 0) and hid_open_path.
  virtual std::optional<std::vector<HidEntry>> HidEnumerate() = 0;
  virtual Result<std::unique_ptr<HidDevice>> HidOpen(const std::string& path) = 0;
};

// The calls of the running Windows system; only built for Windows.
std::unique_ptr<Win32Calls> NewSystemWin32Calls();

}  // namespace kuv::win32
