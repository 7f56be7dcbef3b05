#pragma once
// What the service's rules need to know of the platform they run on, so that the rules
// themselves read the same on both.

namespace kuv::svc {

// How the paths of commands 5, 6 and 7 are written: "/media/u/DISK/TAVIO_LCDMANAGER" here,
// "E:\TAVIO_LCDMANAGER" on Windows.
enum class PathStyle { kPosix, kWindows };
PathStyle HostPathStyle();

// The calling thread's last system error (errno here, the thread's last-error code on Windows),
// which `lastError` carries back, and its reset before an operation.
int LastSystemError();
void ClearSystemError();

// The system's codes for a refused record: access denied (a path the policy does not allow) and
// an invalid argument (a malformed field).
int AccessDeniedError();
int InvalidArgumentError();

}  // namespace kuv::svc
