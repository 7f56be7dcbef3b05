#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

#include "panelio/file_io.h"

namespace kuv {

namespace {

void FillStamp(const struct stat& st, FileStamp& stamp) {
  stamp.device = static_cast<std::uint64_t>(st.st_dev);
  stamp.inode = static_cast<std::uint64_t>(st.st_ino);
  stamp.size = static_cast<std::uint64_t>(st.st_size);
  stamp.modifiedNs = std::int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec;
  stamp.links = static_cast<std::uint64_t>(st.st_nlink);
  stamp.directory = S_ISDIR(st.st_mode);
}

}  // namespace

int OpenFd(const std::string& path, int flags, int mode) {
  return ::open(path.c_str(), flags | O_CLOEXEC, mode);
}

std::ptrdiff_t ReadAtOffset(int fd, void* out, std::size_t size, std::uint64_t offset) {
  static_assert(sizeof(off_t) >= 8, "drives beyond 2 GiB need a 64-bit off_t");
  return ::pread(fd, out, size, static_cast<off_t>(offset));
}

std::ptrdiff_t WriteAtOffset(int fd, const void* bytes, std::size_t size, std::uint64_t offset) {
  return ::pwrite(fd, bytes, size, static_cast<off_t>(offset));
}

int ResizeFd(int fd, std::uint64_t size) {
  return ::ftruncate(fd, static_cast<off_t>(size)) == 0 ? 0 : errno;
}

int StampOf(const std::string& path, FileStamp& stamp) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return errno;
  FillStamp(st, stamp);
  return 0;
}

int StampOfFd(int fd, FileStamp& stamp) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return errno;
  FillStamp(st, stamp);
  return 0;
}

std::int64_t FileClockNowNs() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

int MakeDir(const std::string& path) {
  return ::mkdir(path.c_str(), 0755) == 0 ? 0 : errno;
}

int RemoveFileAt(const std::string& path) {
  return ::unlink(path.c_str()) == 0 ? 0 : errno;
}

int RenameOver(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int LockFd(int fd) {
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

int UnlockFd(int fd) {
  return ::flock(fd, LOCK_UN) == 0 ? 0 : errno;
}

int SpaceOfPath(const std::string& path, std::uint64_t& totalBytes, std::uint64_t& freeBytes) {
  struct statvfs s {};
  if (::statvfs(path.c_str(), &s) != 0) return errno;
  totalBytes = static_cast<std::uint64_t>(s.f_blocks) * s.f_frsize;
  freeBytes = static_cast<std::uint64_t>(s.f_bavail) * s.f_frsize;
  return 0;
}

int ProcessId() {
  return static_cast<int>(::getpid());
}

}  // namespace kuv
