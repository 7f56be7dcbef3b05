// The program's own files on POSIX systems: every folder below its base is opened with
// O_NOFOLLOW, every file with openat relative to its folder.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <random>
#include <vector>

#include "app/model/user_folders.h"
#include "app/model/volume_files.h"
#include "panelio/unique_fd.h"

namespace kuv {
namespace {

constexpr int kTempNameTries = 100;
constexpr std::size_t kTempSuffix = 6;

bool IsNameOfEntry(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

bool IsTempChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// "<base>.XXXXXX": six letters or digits after the name and a dot.
bool IsTempNameOf(std::string_view name, std::string_view base) {
  if (name.size() != base.size() + 1 + kTempSuffix || !name.starts_with(base)) return false;
  if (name[base.size()] != '.') return false;
  return std::all_of(name.begin() + static_cast<long>(base.size()) + 1, name.end(), IsTempChar);
}

std::string TempNameOf(std::string_view base) {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937 random{std::random_device{}()};
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kChars - 2);
  std::string name(base);
  name += '.';
  for (std::size_t i = 0; i < kTempSuffix; ++i) name += kChars[pick(random)];
  return name;
}

// The whole of an opened file when it is a regular file of at most maxBytes (and, with owner
// set, that user's).
std::optional<std::string> ReadOpened(int fd, std::size_t maxBytes, std::optional<uid_t> owner,
                                      int& err) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    err = errno;
    return std::nullopt;
  }
  if (!S_ISREG(st.st_mode)) {
    err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return std::nullopt;
  }
  if (owner && st.st_uid != *owner) {
    err = EACCES;
    return std::nullopt;
  }
  if (st.st_size < 0 || static_cast<std::uint64_t>(st.st_size) > maxBytes) {
    err = EFBIG;
    return std::nullopt;
  }
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[8192];
  // One byte more than allowed tells a file that grew since fstat.
  while (bytes.size() <= maxBytes) {
    const std::size_t want = std::min(sizeof buffer, maxBytes + 1 - bytes.size());
    ssize_t n = ::read(fd, buffer, want);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      err = errno;
      return std::nullopt;
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  if (bytes.size() > maxBytes) {
    err = EFBIG;
    return std::nullopt;
  }
  err = 0;
  return bytes;
}

// Non-blocking, so a FIFO planted under a file's name cannot hang the program.
constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

class PosixFolder : public OwnFolder {
 public:
  PosixFolder(UniqueFd fd, std::string path, FolderUse use)
      : fd_(std::move(fd)), path_(std::move(path)), use_(use) {}

  const std::string& path() const override { return path_; }

  std::optional<std::string> Read(std::string_view name, std::size_t maxBytes, int& err) override {
    if (!IsNameOfEntry(name)) {
      err = EINVAL;
      return std::nullopt;
    }
    UniqueFd fd(::openat(fd_.get(), std::string(name).c_str(), kReadFlags | O_NOFOLLOW));
    if (!fd.valid()) {
      err = errno;
      return std::nullopt;
    }
    std::optional<uid_t> owner;
    if (use_ != FolderUse::kVolume) owner = ::geteuid();
    return ReadOpened(fd.get(), maxBytes, owner, err);
  }

  int WriteTemp(std::string_view name, std::string_view bytes, std::string& tempName) override {
    tempName.clear();
    if (!IsNameOfEntry(name)) return EINVAL;
    int fd = -1;
    std::string candidate;
    for (int i = 0; i < kTempNameTries && fd < 0; ++i) {
      candidate = TempNameOf(name);
      fd = ::openat(fd_.get(), candidate.c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (fd < 0 && errno != EEXIST) return errno;
    }
    if (fd < 0) return EEXIST;
    int err = WriteAll(fd, bytes);
    // Volumes without modes (FAT) refuse this harmlessly.
    if (err == 0 && use_ == FolderUse::kVolume) (void)::fchmod(fd, 0644);
    if (err == 0 && Durable() && ::fsync(fd) != 0 && errno != EINVAL) err = errno;
    // A delayed write error may show only at the close.
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err != 0) {
      ::unlinkat(fd_.get(), candidate.c_str(), 0);
      return err;
    }
    tempName = std::move(candidate);
    return 0;
  }

  int CommitTemp(const std::string& tempName, std::string_view name) override {
    if (!IsNameOfEntry(tempName) || !IsNameOfEntry(name)) return EINVAL;
    if (::renameat(fd_.get(), tempName.c_str(), fd_.get(), std::string(name).c_str()) != 0) {
      return errno;
    }
    if (Durable()) ::fsync(fd_.get());  // best effort: the rename itself is already done
    return 0;
  }

  int Remove(std::string_view name) override {
    if (!IsNameOfEntry(name)) return EINVAL;
    if (::unlinkat(fd_.get(), std::string(name).c_str(), 0) != 0 && errno != ENOENT) return errno;
    return 0;
  }

  void RemoveStaleTemps(std::string_view name) override {
    // A descriptor of its own, so the listing's position is not shared with the folder's.
    int listFd = ::openat(fd_.get(), ".", kFolderFlags);
    if (listFd < 0) return;
    DIR* dir = ::fdopendir(listFd);
    if (!dir) {
      ::close(listFd);
      return;
    }
    const auto now = std::chrono::system_clock::now();
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(dir)) {
      if (!IsTempNameOf(entry->d_name, name)) continue;
      struct stat st {};
      if (::fstatat(fd_.get(), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
          !S_ISREG(st.st_mode)) {
        continue;
      }
      const auto modified = std::chrono::system_clock::time_point(
          std::chrono::duration_cast<std::chrono::system_clock::duration>(
              std::chrono::seconds(st.st_mtim.tv_sec) +
              std::chrono::nanoseconds(st.st_mtim.tv_nsec)));
      if (now - modified >= kStaleTempAge) stale.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    // Removed after the listing, so readdir never sees the folder change under it.
    for (const auto& entry : stale) ::unlinkat(fd_.get(), entry.c_str(), 0);
  }

 private:
  bool Durable() const { return use_ != FolderUse::kTemporary; }

  UniqueFd fd_;
  std::string path_;
  FolderUse use_;
};

}  // namespace

std::unique_ptr<OwnFolder> SystemVolumeFiles::OpenFolder(const std::string& base,
                                                        std::string_view folder, FolderUse use,
                                                        bool create, int& err) {
  if (base.empty() || base.front() != '/') {
    err = EINVAL;
    return nullptr;
  }
  if (create) MakePrivateFolders(base);
  UniqueFd fd(::open(base.c_str(), kFolderFlags));
  if (!fd.valid()) {
    err = errno;
    return nullptr;
  }
  std::string path = base;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  std::size_t start = 0;
  while (start <= folder.size()) {
    const std::size_t end = std::min(folder.find('/', start), folder.size());
    const std::string part(folder.substr(start, end - start));
    start = end + 1;
    if (part.empty()) continue;
    if (!IsNameOfEntry(part)) {
      err = EINVAL;
      return nullptr;
    }
    UniqueFd next(::openat(fd.get(), part.c_str(), kFolderFlags | O_NOFOLLOW));
    if (!next.valid() && errno == ENOENT && create) {
      ::mkdirat(fd.get(), part.c_str(), 0700);
      next.reset(::openat(fd.get(), part.c_str(), kFolderFlags | O_NOFOLLOW));
    }
    if (!next.valid()) {
      err = errno;
      // A link asked for as a folder shows as "no folder"; name it for what it is.
      struct stat link {};
      if (err == ENOTDIR && ::fstatat(fd.get(), part.c_str(), &link, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISLNK(link.st_mode)) {
        err = ELOOP;
      }
      return nullptr;
    }
    struct stat st {};
    if (use != FolderUse::kVolume && (::fstat(next.get(), &st) != 0 || st.st_uid != ::geteuid())) {
      err = EACCES;
      return nullptr;
    }
    fd = std::move(next);
    path += (path == "/" ? "" : "/") + part;
  }
  err = 0;
  return std::make_unique<PosixFolder>(std::move(fd), std::move(path), use);
}

std::optional<std::string> SystemVolumeFiles::ReadChosenFile(const std::string& path,
                                                            std::size_t maxBytes, int& err) {
  UniqueFd fd(::open(path.c_str(), kReadFlags));
  if (!fd.valid()) {
    err = errno;
    return std::nullopt;
  }
  return ReadOpened(fd.get(), maxBytes, std::nullopt, err);
}

}  // namespace kuv
