#pragma once
// The file-system calls the simulator and the sector reader make, whose system calls differ per
// platform. Paths are UTF-8 and failures errno values on every platform; descriptors are the C
// runtime's, so UniqueFd, ReadAll and WriteAll work on them everywhere.

#include <fcntl.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace kuv {

// Opens path with flags from <fcntl.h> (O_RDONLY, O_WRONLY, O_RDWR, O_CREAT, O_TRUNC, O_APPEND),
// in binary mode, not inherited by child processes; a file made here is shared for reading,
// writing and deleting as a POSIX one is. The descriptor, or -1 with errno set.
int OpenFd(const std::string& path, int flags, int mode = 0644);

// Reads or writes at offset without moving the file position. The bytes moved, or -1 with errno
// set.
std::ptrdiff_t ReadAtOffset(int fd, void* out, std::size_t size, std::uint64_t offset);
std::ptrdiff_t WriteAtOffset(int fd, const void* bytes, std::size_t size, std::uint64_t offset);

// Cuts or extends the file to size bytes. 0, or the errno.
int ResizeFd(int fd, std::uint64_t size);

// What tells one version of a file from another: identity, size, modification time.
struct FileStamp {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  std::int64_t modifiedNs = 0;  // since 1970, in nanoseconds
  std::uint64_t links = 1;      // 0 once the file was deleted while open
  bool directory = false;

  bool SameVersion(const FileStamp& o) const {
    return device == o.device && inode == o.inode && size == o.size && modifiedNs == o.modifiedNs;
  }
};

// The stamp of the file at path, or of the open file. 0, or the errno (ENOENT: nothing there).
int StampOf(const std::string& path, FileStamp& stamp);
int StampOfFd(int fd, FileStamp& stamp);

// The time now in the clock modifiedNs is read against.
std::int64_t FileClockNowNs();

// Creates one directory. 0, or the errno (EEXIST when something is there).
int MakeDir(const std::string& path);

// Deletes one file, not a directory. 0, or the errno.
int RemoveFileAt(const std::string& path);

// Puts from in to's place in one step, replacing what is there. 0, or the errno.
int RenameOver(const std::string& from, const std::string& to);

// Waits for and takes, or gives back, the whole file's exclusive lock, which other processes
// holding the same file see. 0, or the errno.
int LockFd(int fd);
int UnlockFd(int fd);

// Total and caller-available bytes of the file system holding path. 0, or the errno.
int SpaceOfPath(const std::string& path, std::uint64_t& totalBytes, std::uint64_t& freeBytes);

// This process's id, to name temporary files apart from another process's.
int ProcessId();

// A std::filesystem path of a UTF-8 string, and back: the narrow string forms use the code page
// on Windows.
inline std::filesystem::path PathOfUtf8(std::string_view utf8) {
  return std::filesystem::path(
      std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

// With '/' between the parts on every platform, as the rest of the library writes paths.
inline std::string Utf8OfPath(const std::filesystem::path& path) {
  std::u8string text = path.generic_u8string();
  return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

}  // namespace kuv
