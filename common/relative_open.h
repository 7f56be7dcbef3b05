#pragma once
// Opening a file or folder by its name inside an opened folder on Windows, never by a whole path
// and never through a reparse point; for the Windows files only (it includes windows.h).

#include <windows.h>

#include <string>

namespace kuv {

class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = other.release();
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  HANDLE get() const { return handle_; }
  HANDLE* out() { return &handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE release() {
    HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
  }
  void reset() {
    if (valid()) CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HANDLE handle_ = nullptr;
};

inline constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens name inside folder (NtCreateFile relative to the folder's handle) with FILE_OPEN_REPARSE_POINT,
// so a link or junction planted there is opened as itself, to be turned away by its attributes.
// disposition and options are NtCreateFile's (FILE_OPEN, FILE_CREATE, FILE_DIRECTORY_FILE, ...).
// Answers the system's error, 0 when opened.
DWORD OpenRelative(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share,
                   ULONG disposition, ULONG options, UniqueHandle* opened);

// Renames the opened file to name inside folder, replacing an entry of that name (a reparse point
// there is replaced, not followed). The system's error, 0 when renamed.
DWORD RenameRelative(HANDLE file, HANDLE folder, const std::wstring& name);

// Whether the opened file is a reparse point (a link, a junction); true when it cannot be told.
bool IsReparsePoint(HANDLE handle);

}  // namespace kuv
