#include <cerrno>

#include "panelio/windows/win32_calls.h"

namespace kuv::win32 {

int ErrnoOf(std::uint32_t error) {
  switch (error) {
    case kErrorSuccess:
      return 0;
    case kErrorFileNotFound:
    case kErrorPathNotFound:
    case kErrorInvalidDrive:
    case kErrorBadNetPath:
    case kErrorInvalidName:
    case kErrorNotFound:
      return ENOENT;
    case kErrorAccessDenied:
    case kErrorWriteProtect:
      return EACCES;
    case kErrorFileExists:
    case kErrorAlreadyExists:
      return EEXIST;
    case kErrorSharingViolation:
    case kErrorLockViolation:
      return EBUSY;
    case kErrorDiskFull:
    case kErrorHandleDiskFull:
      return ENOSPC;
    case kErrorDirNotEmpty:
      return ENOTEMPTY;
    case kErrorNotEnoughMemory:
    case kErrorOutOfMemory:
      return ENOMEM;
    case kErrorInvalidHandle:
      return EBADF;
    case kErrorInvalidParameter:
      return EINVAL;
    // A disk unplugged while open: what the Linux disk driver answers then.
    case kErrorDevNotExist:
    case kErrorNoSuchDevice:
    case kErrorDeviceNotConnected:
    case kErrorBadUnit:
      return ENODEV;
    case kErrorSemTimeout:
    case kErrorTimeout:
      return ETIMEDOUT;
    case kErrorInvalidFunction:
    case kErrorNotSupported:
      return ENOTSUP;
    default:  // not ready, CRC, sector not found, general and I/O device failures
      return EIO;
  }
}

}  // namespace kuv::win32
