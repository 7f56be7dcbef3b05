#include "panelsvc/volume_files.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "panelio/unique_fd.h"
#include "panelsvc/request_policy_posix.h"

namespace kuv::svc {

namespace {

FileAnswer Failed(std::int32_t result, int error) {
  return FileAnswer{result, error == 0 ? EIO : error, {}};
}

FileAnswer Refused(std::int32_t result, std::string why) {
  return FileAnswer{result, EACCES, std::move(why)};
}

// Refuses a name that exists as anything but a regular file, without opening it.
std::optional<FileAnswer> NotARegularFile(const OpenedTarget& target, std::int32_t failure) {
  struct stat st;
  if (::fstatat(target.folder.get(), target.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return std::nullopt;
  }
  if (S_ISREG(st.st_mode)) return std::nullopt;
  return Refused(failure, "not a regular file: " + target.path);
}

// The folder and files a client has the service make get the modes the program gives its own,
// whatever umask the service runs with; where the file system decides modes itself (FAT), its
// answer stands.
constexpr mode_t kFolderMode = 0755;
constexpr mode_t kFileMode = 0644;

FileAnswer CreateLcdFolder(const OpenedTarget& target, UniqueFd* created) {
  if (::mkdirat(target.folder.get(), target.name.c_str(), kFolderMode) != 0) {
    return Failed(0, errno);
  }
  created->reset(::openat(target.folder.get(), target.name.c_str(),
                          O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!created->valid()) return Failed(0, errno);
  (void)::fchmod(created->get(), kFolderMode);
  return FileAnswer{1, 0, {}};
}

FileAnswer AppendLcdFile(const OpenedTarget& target, std::span<const std::uint8_t> data) {
  if (auto refused = NotARegularFile(target, 0)) return *refused;
  // O_NONBLOCK: a FIFO swapped in after the look above fails at once (or opens) instead of
  // waiting for a reader; the fstat below then turns it away.
  constexpr int kFlags = O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  UniqueFd file(
      ::openat(target.folder.get(), target.name.c_str(), kFlags | O_CREAT | O_EXCL, kFileMode));
  if (file.valid()) {
    (void)::fchmod(file.get(), kFileMode);
  } else if (errno == EEXIST) {
    file.reset(::openat(target.folder.get(), target.name.c_str(), kFlags));
  }
  if (!file.valid()) {
    if (errno == ELOOP || errno == ENXIO) {
      return Refused(0, "not a regular file: " + target.path);
    }
    return Failed(0, errno);
  }
  struct stat st;
  if (::fstat(file.get(), &st) != 0) return Failed(0, errno);
  if (!S_ISREG(st.st_mode)) return Refused(0, "not a regular file: " + target.path);
  if (int error = WriteAll(file.get(), data); error != 0) return Failed(0, error);
  return FileAnswer{1, 0, {}};
}

FileAnswer DeleteLcdFile(const OpenedTarget& target) {
  if (auto refused = NotARegularFile(target, -1)) return *refused;
  // unlinkat never follows the name: a link swapped in meanwhile is what gets removed, in a
  // folder the client may write anyway.
  if (::unlinkat(target.folder.get(), target.name.c_str(), 0) != 0) return Failed(-1, errno);
  return FileAnswer{1, 0, {}};
}

}  // namespace

FileAnswer ServeFileCommand(std::int32_t command, const TargetPath& target, const Peer& peer,
                            std::span<const std::uint8_t> data, const DeviceOps& ops) {
  const std::int32_t failure = RefusedResult(command);
  UniqueFd created;
  {
    ScopedPeerIdentity identity(peer);
    if (!identity.active()) return Refused(failure, "could not take the client's identity");
    TargetOpen open = OpenTarget(command, target);
    if (!open.target) return FileAnswer{failure, open.error, open.refusal};
    if (command == kCmdWriteFile) return AppendLcdFile(*open.target, data);
    if (command == kCmdDeleteFile) return DeleteLcdFile(*open.target);
    FileAnswer made = CreateLcdFolder(*open.target, &created);
    if (made.error != 0) return made;
  }
  // Marked with the service's own identity (the simulator keeps the attribute in the service's
  // files; on a real volume the kernel asks for the folder's owner, whom the backend acts as), on
  // the descriptor of the folder just made, whatever its name points at by now.
  errno = 0;
  if (ops.setHidden(created.get(), target.path) == 0) return Failed(0, errno);
  return FileAnswer{1, 0, {}};
}

}  // namespace kuv::svc
