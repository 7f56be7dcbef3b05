#include <windows.h>
// Declared in terms of what windows.h declares.
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <mutex>

#include "common/utf16.h"
#include "panelsvc/service_log.h"

namespace kuv::svc {

namespace {

constexpr LONGLONG kMaxLogBytes = 1 << 20;
// Inherited by the log files: the service and administrators write, users read.
constexpr const wchar_t* kFolderAccess = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FR;;;BU)";

struct LogFile {
  std::mutex mutex;
  HANDLE file = INVALID_HANDLE_VALUE;
  std::wstring path;
  bool echo = true;
};

LogFile& Log() {
  static LogFile log;
  return log;
}

std::wstring Wide(std::string_view utf8) {
  const std::u16string text = Utf8ToUtf16(utf8);
  return std::wstring(text.begin(), text.end());
}

std::string Why(const std::string& what, DWORD error) {
  return what + " (error " + std::to_string(error) + ")";
}

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) {
  return IsWellKnownSid(sid, type) != FALSE;
}

// True when the owner is SYSTEM, Administrators or the account the service runs as.
bool OwnedByTheService(PSID owner) {
  if (IsWellKnown(owner, WinLocalSystemSid) || IsWellKnown(owner, WinBuiltinAdministratorsSid)) {
    return true;
  }
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  unsigned char buffer[256];
  DWORD size = 0;
  const bool same = GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
                    EqualSid(owner, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
  CloseHandle(token);
  return same;
}

// Opens (or makes) the log folder; empty when it may be written into.
std::string CheckFolder(const std::wstring& folder) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kFolderAccess, SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return Why("no security descriptor for the log folder", GetLastError());
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  const bool made = CreateDirectoryW(folder.c_str(), &attributes);
  const DWORD madeError = GetLastError();
  LocalFree(descriptor);
  if (!made && madeError != ERROR_ALREADY_EXISTS)
    return Why("cannot make the log folder", madeError);
  // A folder someone else made first could hold their links: it is checked on its own handle.
  HANDLE handle =
      CreateFileW(folder.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return Why("cannot open the log folder", GetLastError());
  std::string why;
  BY_HANDLE_FILE_INFORMATION info{};
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR ownerDescriptor = nullptr;
  if (!GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    why = "the log folder is not a plain folder";
  } else if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                             nullptr, nullptr, &ownerDescriptor) != ERROR_SUCCESS ||
             !OwnedByTheService(owner)) {
    why = "the log folder belongs to someone other than the service";
  }
  if (ownerDescriptor) LocalFree(ownerDescriptor);
  CloseHandle(handle);
  return why;
}

// Opens the log file for appending; empty when it is open.
std::string OpenFile(LogFile& log) {
  HANDLE file = CreateFileW(log.path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Why("cannot open the log file", GetLastError());
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || info.nNumberOfLinks != 1) {
    CloseHandle(file);
    return "the log file is a link";
  }
  log.file = file;
  return {};
}

// Moves a full log aside so the file stays bounded whatever clients make the service say.
void RotateIfFull(LogFile& log) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(log.file, &size) || size.QuadPart < kMaxLogBytes) return;
  CloseHandle(log.file);
  log.file = INVALID_HANDLE_VALUE;
  MoveFileExW(log.path.c_str(), (log.path + L".old").c_str(), MOVEFILE_REPLACE_EXISTING);
  OpenFile(log);
}

}  // namespace

std::string OpenLogFile(const std::string& folder, bool echo) {
  LogFile& log = Log();
  std::lock_guard lock(log.mutex);
  log.echo = echo;
  if (log.file != INVALID_HANDLE_VALUE) {
    CloseHandle(log.file);
    log.file = INVALID_HANDLE_VALUE;
  }
  const std::wstring wideFolder = Wide(folder);
  if (std::string why = CheckFolder(wideFolder); !why.empty()) return why + ": " + folder;
  log.path = wideFolder + L"\\panelsvc.log";
  if (std::string why = OpenFile(log); !why.empty()) return why + ": " + folder;
  return {};
}

void LogLine(const std::string& line) {
  SYSTEMTIME now;
  GetSystemTime(&now);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", now.wYear, now.wMonth,
                now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
  const std::string text = std::string(stamp) + " panelsvc: " + line + "\r\n";
  LogFile& log = Log();
  std::lock_guard lock(log.mutex);
  if (log.echo) std::fprintf(stderr, "panelsvc: %s\n", line.c_str());
  if (log.file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(log.file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  RotateIfFull(log);
}

}  // namespace kuv::svc
