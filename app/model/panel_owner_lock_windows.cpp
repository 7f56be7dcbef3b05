#include <windows.h>

#include "app/model/panel_owner_lock.h"
#include "common/wide_text.h"

namespace kuv {

std::unique_ptr<PanelOwnerLock> PanelOwnerLock::Acquire(const std::string& who,
                                                        std::string& error) {
  const std::optional<std::string> lockPath = PanelOwnerLockPath(error);
  if (!lockPath) return nullptr;
  const std::string& path = *lockPath;
  // Shared for reading and writing, so the one refused can read who holds the lock.
  HANDLE file = CreateFileW(WideText(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = "cannot open " + path + ": " + SystemErrorText(GetLastError());
    return nullptr;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
    error = path + " is not a file of this user";
    CloseHandle(file);
    return nullptr;
  }
  // The lock covers a byte far past the holder's text, so reading the text is never refused.
  OVERLAPPED at{};
  at.Offset = 0x7fffffff;
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    const DWORD code = GetLastError();
    if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) {
      char holder[128] = {};
      DWORD n = 0;
      std::string text = ReadFile(file, holder, sizeof holder - 1, &n, nullptr) && n > 0
                             ? std::string(holder, n)
                             : "another copy";
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '\0')) {
        text.pop_back();
      }
      error = text + " already drives the panels of this user";
    } else {
      error = "cannot lock " + path + ": " + SystemErrorText(code);
    }
    CloseHandle(file);
    return nullptr;
  }
  const std::string holder = who + " (pid " + std::to_string(GetCurrentProcessId()) + ")\n";
  DWORD written = 0;
  if (SetEndOfFile(file)) {
    WriteFile(file, holder.data(), static_cast<DWORD>(holder.size()), &written, nullptr);
  }
  return std::unique_ptr<PanelOwnerLock>(new PanelOwnerLock(reinterpret_cast<std::intptr_t>(file)));
}

PanelOwnerLock::~PanelOwnerLock() {
  CloseHandle(reinterpret_cast<HANDLE>(file_));
}

}  // namespace kuv
