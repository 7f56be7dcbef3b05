#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <vector>

#include "app/model/ports.h"

namespace kuv {
namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  // Closes now and reports the error a delayed write may only show here.
  int Close() {
    int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0 ? 0 : errno;
  }

 private:
  int fd_;
};

int WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

// "<base>.XXXXXX" as mkstemp makes it: six letters or digits after the name and a dot.
bool IsTempNameOf(std::string_view name, std::string_view base) {
  constexpr std::size_t kSuffix = 7;
  if (name.size() != base.size() + kSuffix || name.substr(0, base.size()) != base) return false;
  if (name[base.size()] != '.') return false;
  return std::all_of(name.begin() + static_cast<long>(base.size()) + 1, name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
  });
}

std::string ParentOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::optional<std::string> PosixVolumeFiles::ReadFile(const std::string& path, std::size_t maxBytes,
                                                      int& err) {
  // Non-blocking open so a FIFO planted under the file's name cannot hang the program.
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) {
    err = errno;
    return std::nullopt;
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return std::nullopt;
  }
  std::string bytes;
  char buffer[8192];
  while (bytes.size() < maxBytes) {
    ssize_t n = ::read(fd.get(), buffer, std::min(sizeof buffer, maxBytes - bytes.size()));
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      return std::nullopt;
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  err = 0;
  return bytes;
}

int PosixVolumeFiles::WriteTemp(const std::string& path, std::string_view bytes,
                                std::string& tempPath) {
  std::vector<char> name(path.begin(), path.end());
  for (char c : std::string_view(".XXXXXX")) name.push_back(c);
  name.push_back('\0');
  FileDescriptor fd(::mkstemp(name.data()));
  if (fd.get() < 0) return errno;
  tempPath = name.data();
  // mkstemp makes the file private; the settings file is readable like any other. Volumes that
  // keep no modes refuse this harmlessly.
  (void)::fchmod(fd.get(), 0644);
  int err = WriteAll(fd.get(), bytes);
  if (err == 0 && ::fsync(fd.get()) != 0 && errno != EINVAL) err = errno;
  int closeErr = fd.Close();
  if (err == 0) err = closeErr;
  if (err != 0) {
    ::unlink(tempPath.c_str());
    tempPath.clear();
  }
  return err;
}

int PosixVolumeFiles::CommitTemp(const std::string& tempPath, const std::string& path) {
  if (::rename(tempPath.c_str(), path.c_str()) != 0) return errno;
  FileDescriptor dir(::open(ParentOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());  // best effort: the rename itself is already done
  return 0;
}

void PosixVolumeFiles::DiscardTemp(const std::string& tempPath) {
  if (!tempPath.empty()) ::unlink(tempPath.c_str());
}

void PosixVolumeFiles::RemoveStaleTemps(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  int dirFd = ::open(ParentOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dirFd < 0) return;
  DIR* dir = ::fdopendir(dirFd);
  if (!dir) {
    ::close(dirFd);
    return;
  }
  const auto now = std::chrono::system_clock::now();
  std::vector<std::string> stale;
  while (const dirent* entry = ::readdir(dir)) {
    if (!IsTempNameOf(entry->d_name, base)) continue;
    struct stat st {};
    if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) {
      continue;
    }
    const auto modified = std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(st.st_mtim.tv_sec) +
            std::chrono::nanoseconds(st.st_mtim.tv_nsec)));
    if (now - modified >= kStaleTempAge) stale.emplace_back(entry->d_name);
  }
  // Removed after the listing, so readdir never sees the folder change under it.
  for (const auto& name : stale) ::unlinkat(dirFd, name.c_str(), 0);
  ::closedir(dir);
}

bool PosixVolumeFiles::IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace kuv
