#include <io.h>
#include <windows.h>

#include <cerrno>
#include <limits>

#include "common/utf16.h"
#include "panelio/file_io.h"
#include "panelio/windows/win32_calls.h"

namespace kuv {

namespace {

std::wstring Wide(std::string_view utf8) {
  const std::u16string text = Utf8ToUtf16(utf8);
  return std::wstring(text.begin(), text.end());
}

// The one mapping of system error codes, shared with the device backend.
using win32::ErrnoOf;

int LastErrno() {
  return ErrnoOf(GetLastError());
}

HANDLE HandleOf(int fd) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

bool IsDirectory(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// 100 ns ticks since 1601 to nanoseconds since 1970.
std::int64_t UnixNs(const FILETIME& time) {
  const std::int64_t ticks =
      static_cast<std::int64_t>((std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime);
  return (ticks - 116444736000000000LL) * 100;
}

int StampOfHandle(HANDLE handle, FileStamp& stamp) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle, &info)) return LastErrno();
  stamp.device = info.dwVolumeSerialNumber;
  stamp.inode = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  stamp.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  stamp.modifiedNs = UnixNs(info.ftLastWriteTime);
  stamp.directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  stamp.links = info.nNumberOfLinks;
  // A file deleted while open keeps its name until the last handle closes.
  FILE_STANDARD_INFO standard{};
  if (GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard) &&
      standard.DeletePending)
    stamp.links = 0;
  return 0;
}

OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

DWORD Chunk(std::size_t size) {
  return static_cast<DWORD>(std::min<std::size_t>(size, std::numeric_limits<DWORD>::max() / 2));
}

}  // namespace

int OpenFd(const std::string& path, int flags, int /*mode*/) {
  const std::wstring wide = Wide(path);
  const int accessMode = flags & (O_RDONLY | O_WRONLY | O_RDWR);
  DWORD access = accessMode == O_WRONLY ? GENERIC_WRITE
                 : accessMode == O_RDWR ? GENERIC_READ | GENERIC_WRITE
                                        : GENERIC_READ;
  if (flags & O_APPEND) access = (access & ~GENERIC_WRITE) | FILE_APPEND_DATA | SYNCHRONIZE;
  DWORD disposition = OPEN_EXISTING;
  if ((flags & O_CREAT) && (flags & O_EXCL)) {
    disposition = CREATE_NEW;
  } else if ((flags & O_CREAT) && (flags & O_TRUNC)) {
    disposition = CREATE_ALWAYS;
  } else if (flags & O_CREAT) {
    disposition = OPEN_ALWAYS;
  } else if (flags & O_TRUNC) {
    disposition = TRUNCATE_EXISTING;
  }
  // Shared as a POSIX file is: another process may read, write, rename or delete it meanwhile.
  HANDLE handle =
      CreateFileW(wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    errno = code == ERROR_ACCESS_DENIED && IsDirectory(wide) ? EISDIR : ErrnoOf(code);
    return -1;
  }
  int crtFlags = _O_BINARY;
  if (accessMode == O_RDONLY) crtFlags |= _O_RDONLY;
  if (flags & O_APPEND) crtFlags |= _O_APPEND;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), crtFlags);
  if (fd < 0) {
    CloseHandle(handle);
    errno = EMFILE;
  }
  return fd;
}

std::ptrdiff_t ReadAtOffset(int fd, void* out, std::size_t size, std::uint64_t offset) {
  OVERLAPPED at = At(offset);
  DWORD done = 0;
  if (!ReadFile(HandleOf(fd), out, Chunk(size), &done, &at)) {
    if (GetLastError() == ERROR_HANDLE_EOF) return 0;
    errno = LastErrno();
    return -1;
  }
  return static_cast<std::ptrdiff_t>(done);
}

std::ptrdiff_t WriteAtOffset(int fd, const void* bytes, std::size_t size, std::uint64_t offset) {
  OVERLAPPED at = At(offset);
  DWORD done = 0;
  if (!WriteFile(HandleOf(fd), bytes, Chunk(size), &done, &at)) {
    errno = LastErrno();
    return -1;
  }
  return static_cast<std::ptrdiff_t>(done);
}

int ResizeFd(int fd, std::uint64_t size) {
  if (size > static_cast<std::uint64_t>(std::numeric_limits<LONGLONG>::max())) return EFBIG;
  // Moves the end without writing the zeros in between, as ftruncate leaves a hole.
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  return SetFileInformationByHandle(HandleOf(fd), FileEndOfFileInfo, &end, sizeof end)
             ? 0
             : LastErrno();
}

int StampOf(const std::string& path, FileStamp& stamp) {
  // No access asked: reading the attributes of a file another process holds open is allowed.
  HANDLE handle =
      CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return LastErrno();
  const int err = StampOfHandle(handle, stamp);
  CloseHandle(handle);
  return err;
}

int StampOfFd(int fd, FileStamp& stamp) {
  return StampOfHandle(HandleOf(fd), stamp);
}

std::int64_t FileClockNowNs() {
  FILETIME now{};
  GetSystemTimePreciseAsFileTime(&now);
  return UnixNs(now);
}

int MakeDir(const std::string& path) {
  return CreateDirectoryW(Wide(path).c_str(), nullptr) ? 0 : LastErrno();
}

int RemoveFileAt(const std::string& path) {
  const std::wstring wide = Wide(path);
  if (DeleteFileW(wide.c_str())) return 0;
  const DWORD code = GetLastError();
  return code == ERROR_ACCESS_DENIED && IsDirectory(wide) ? EISDIR : ErrnoOf(code);
}

int RenameOver(const std::string& from, const std::string& to) {
  return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING) ? 0
                                                                                      : LastErrno();
}

int LockFd(int fd) {
  OVERLAPPED whole{};
  return LockFileEx(HandleOf(fd), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)
             ? 0
             : LastErrno();
}

int UnlockFd(int fd) {
  OVERLAPPED whole{};
  return UnlockFileEx(HandleOf(fd), 0, MAXDWORD, MAXDWORD, &whole) ? 0 : LastErrno();
}

int SpaceOfPath(const std::string& path, std::uint64_t& totalBytes, std::uint64_t& freeBytes) {
  ULARGE_INTEGER available{}, total{};
  if (!GetDiskFreeSpaceExW(Wide(path).c_str(), &available, &total, nullptr)) return LastErrno();
  totalBytes = total.QuadPart;
  freeBytes = available.QuadPart;
  return 0;
}

int ProcessId() {
  return static_cast<int>(GetCurrentProcessId());
}

}  // namespace kuv
