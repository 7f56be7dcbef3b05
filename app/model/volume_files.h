#pragma once
// The program's own files: LCD_DATA.TXT, QR_DATA.TXT and LCD_IMAGE.BMP in a volume's
// TAVIO_LCDMANAGER folder, the per-drive and converted pictures in the data folder, the
// temporary copies in the temporary folder and kuvlcd's panel paths in the runtime folder. A
// folder is opened once, without following a link, and every file in it is reached relative to
// it, so a link planted on a shared volume or in a shared folder is never followed. Errors are
// errno values, 0 meaning success.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kuv {

enum class FolderUse {
  // A volume's folder: what is written there is readable by everyone, as the files the other
  // programs of the drive leave, and files are read whoever owns them (a FAT volume's files all
  // belong to whoever mounted it).
  kVolume,
  // A folder of the user's (data, runtime): what is written there is private to the user, and
  // only the user's own files are read.
  kPrivate,
  // The temporary folder: private as kPrivate, and what is written there is a copy that need not
  // outlive a crash, so it is not made durable.
  kTemporary,
};

inline constexpr std::chrono::seconds kStaleTempAge{60};

// One opened folder.
class OwnFolder {
 public:
  virtual ~OwnFolder() = default;
  // The folder's path, for messages and for the service's requests.
  virtual const std::string& path() const = 0;
  // The whole file `name` when it is a regular file of at most maxBytes; nullopt with err set
  // otherwise: ENOENT missing, ELOOP a link, EINVAL no regular file (a FIFO, a folder), EFBIG
  // larger, EACCES another user's file in a private folder, or the error of the read.
  virtual std::optional<std::string> Read(std::string_view name, std::size_t maxBytes,
                                          int& err) = 0;
  // Writes bytes completely to a new temporary "<name>.XXXXXX" in this folder, created private
  // to the user, and makes them durable (but in the temporary folder); its name goes to
  // tempName. On failure nothing is left.
  virtual int WriteTemp(std::string_view name, std::string_view bytes, std::string& tempName) = 0;
  // Puts the temporary in place of name in one step (a link under that name is replaced, never
  // followed). On failure name keeps its old file and the temporary stays for Remove.
  virtual int CommitTemp(const std::string& tempName, std::string_view name) = 0;
  // Removes the entry name (a link itself, not what it points to); a missing one is no error.
  virtual int Remove(std::string_view name) = 0;
  // Removes the temporaries of name (regular files "<name>.XXXXXX") older than kStaleTempAge,
  // left by a save that was cut off; younger ones may belong to a save under way.
  virtual void RemoveStaleTemps(std::string_view name) = 0;
};

class VolumeFiles {
 public:
  virtual ~VolumeFiles() = default;
  // Opens `folder` below base: base as the system or the user names it, links and all; then each
  // "/"-separated component of folder ("" for base itself) refused when it is a link. create:
  // missing components are made, private to the user. nullptr with err set when it cannot be
  // opened: ENOENT missing, ELOOP a link, ENOTDIR no folder, EACCES a private folder of another
  // user.
  virtual std::unique_ptr<OwnFolder> OpenFolder(const std::string& base, std::string_view folder,
                                                FolderUse use, bool create, int& err) = 0;
  // A file the user chose: links followed, the whole of a regular file of at most maxBytes.
  virtual std::optional<std::string> ReadChosenFile(const std::string& path, std::size_t maxBytes,
                                                    int& err) = 0;
};

// This platform's realisation. POSIX: openat with O_NOFOLLOW, fstat, a temporary made O_EXCL
// beside the file, fsync, renameat. Windows: folder handles opened without following reparse
// points, files opened relative to them, a temporary made CREATE_NEW beside the file, flushed and
// renamed over the old one by its handle.
class SystemVolumeFiles : public VolumeFiles {
 public:
  std::unique_ptr<OwnFolder> OpenFolder(const std::string& base, std::string_view folder,
                                        FolderUse use, bool create, int& err) override;
  std::optional<std::string> ReadChosenFile(const std::string& path, std::size_t maxBytes,
                                            int& err) override;
};

// Paths in this platform's syntax: "/" separates and starts them on Linux; on Windows "\" or "/"
// separates and a root such as "E:\" starts them.
bool IsAbsolutePath(std::string_view path);
bool IsPathSeparator(char c);
// path without trailing separators, except the one of a root ("/", "E:\").
std::string WithoutTrailingSeparators(std::string path);
// folder and name joined by the platform's separator.
std::string JoinPath(std::string_view folder, std::string_view name);

// Replaces name in folder with bytes, whole and in one step: the previous file stays until the
// new one is complete, and no temporary is left behind on any failure. When the rename is refused
// with EACCES or EPERM, clearRefused (if given) may clear the way (the service deletes a file the
// user may not replace) and answers whether the rename is worth a second try.
int ReplaceFile(OwnFolder& folder, std::string_view name, std::string_view bytes,
                const std::function<bool()>& clearRefused = {});

}  // namespace kuv
