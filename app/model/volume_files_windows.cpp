// The program's own files on Windows: every folder below its base is opened by its handle without
// following reparse points, every file relative to its folder. The folders of the user (below
// %LOCALAPPDATA% and the temporary folder) are closed to others by the access lists they inherit.

#include <algorithm>
#include <cerrno>
#include <random>
#include <vector>

#include "app/model/user_folders.h"
#include "app/model/volume_files.h"
#include "common/relative_open.h"
#include "common/wide_text.h"

namespace kuv {
namespace {

constexpr int kTempNameTries = 100;
constexpr std::size_t kTempSuffix = 6;

bool IsNameOfEntry(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\\:\0", 4)) == std::string_view::npos;
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

bool IsTempNameOf(std::string_view name, std::string_view base) {
  if (name.size() != base.size() + 1 + kTempSuffix || !name.starts_with(base)) return false;
  if (name[base.size()] != '.') return false;
  return std::all_of(name.begin() + static_cast<long>(base.size()) + 1, name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
  });
}

// The errno value the callers know for a system error.
int ErrnoOf(DWORD error) {
  switch (error) {
    case 0: return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_DIRECTORY: return ENOTDIR;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_WRITE_PROTECT: return EROFS;
    case ERROR_INVALID_NAME: return EINVAL;
    default: return EIO;
  }
}

// The whole of an opened file when it is a regular file of at most maxBytes.
std::optional<std::string> ReadOpened(HANDLE file, std::size_t maxBytes, int& err) {
  FILE_STANDARD_INFO info{};
  if (GetFileType(file) != FILE_TYPE_DISK ||
      !GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof info)) {
    err = EINVAL;
    return std::nullopt;
  }
  if (info.Directory) {
    err = EISDIR;
    return std::nullopt;
  }
  if (info.EndOfFile.QuadPart < 0 || static_cast<std::uint64_t>(info.EndOfFile.QuadPart) > maxBytes) {
    err = EFBIG;
    return std::nullopt;
  }
  std::string bytes;
  char buffer[8192];
  // One byte more than allowed tells a file that grew since its size was read.
  while (bytes.size() <= maxBytes) {
    const DWORD want = static_cast<DWORD>(std::min(sizeof buffer, maxBytes + 1 - bytes.size()));
    DWORD got = 0;
    if (!ReadFile(file, buffer, want, &got, nullptr)) {
      err = ErrnoOf(GetLastError());
      return std::nullopt;
    }
    if (got == 0) break;
    bytes.append(buffer, got);
  }
  if (bytes.size() > maxBytes) {
    err = EFBIG;
    return std::nullopt;
  }
  err = 0;
  return bytes;
}

class WindowsFolder : public OwnFolder {
 public:
  WindowsFolder(UniqueHandle handle, std::string path, FolderUse use)
      : handle_(std::move(handle)), path_(std::move(path)), use_(use) {}

  const std::string& path() const override { return path_; }

  std::optional<std::string> Read(std::string_view name, std::size_t maxBytes, int& err) override {
    if (!IsNameOfEntry(name)) {
      err = EINVAL;
      return std::nullopt;
    }
    UniqueHandle file;
    if (DWORD error = OpenRelative(handle_.get(), WideText(name), FILE_READ_DATA, kShareAll,
                                   FILE_OPEN, FILE_NON_DIRECTORY_FILE, &file)) {
      err = error == ERROR_ACCESS_DENIED && IsFolderEntry(name) ? EISDIR : ErrnoOf(error);
      return std::nullopt;
    }
    if (IsReparsePoint(file.get())) {
      err = ELOOP;
      return std::nullopt;
    }
    return ReadOpened(file.get(), maxBytes, err);
  }

  int WriteTemp(std::string_view name, std::string_view bytes, std::string& tempName) override {
    tempName.clear();
    if (!IsNameOfEntry(name)) return EINVAL;
    UniqueHandle file;
    std::string candidate;
    for (int i = 0; i < kTempNameTries && !file.valid(); ++i) {
      candidate = TempNameOf(name);
      DWORD error = OpenRelative(handle_.get(), WideText(candidate), FILE_WRITE_DATA | DELETE, 0,
                                 FILE_CREATE, FILE_NON_DIRECTORY_FILE, &file);
      if (error != 0 && error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
        return ErrnoOf(error);
      }
    }
    if (!file.valid()) return EEXIST;
    int err = 0;
    for (std::size_t done = 0; done < bytes.size() && err == 0;) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
      if (!WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr) || written == 0) {
        err = ErrnoOf(GetLastError());
        if (err == 0) err = EIO;
      }
      done += written;
    }
    if (err == 0 && use_ != FolderUse::kTemporary && !FlushFileBuffers(file.get())) {
      err = ErrnoOf(GetLastError());
    }
    if (err != 0) {
      // Deleted by the handle that made it, so no other file under the name can be hit.
      FILE_DISPOSITION_INFO disposition{TRUE};
      SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition);
      return err;
    }
    tempName = std::move(candidate);
    return 0;
  }

  int CommitTemp(const std::string& tempName, std::string_view name) override {
    if (!IsNameOfEntry(tempName) || !IsNameOfEntry(name)) return EINVAL;
    UniqueHandle file;
    if (DWORD error = OpenRelative(handle_.get(), WideText(tempName), DELETE, kShareAll, FILE_OPEN,
                                   FILE_NON_DIRECTORY_FILE, &file)) {
      return ErrnoOf(error);
    }
    // Renamed by its handle within the folder's handle: a reparse point under the target name
    // is replaced as an entry, never followed.
    return ErrnoOf(RenameRelative(file.get(), handle_.get(), WideText(name)));
  }

  int Remove(std::string_view name) override {
    if (!IsNameOfEntry(name)) return EINVAL;
    UniqueHandle file;
    DWORD error = OpenRelative(handle_.get(), WideText(name), DELETE, kShareAll, FILE_OPEN,
                               FILE_NON_DIRECTORY_FILE, &file);
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return 0;
    if (error != 0) return ErrnoOf(error);
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (!SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition,
                                    sizeof disposition)) {
      return ErrnoOf(GetLastError());
    }
    return 0;
  }

  void RemoveStaleTemps(std::string_view name) override {
    std::vector<std::string> stale;
    std::vector<char> buffer(64 * 1024);
    FILETIME nowFile{};
    GetSystemTimeAsFileTime(&nowFile);
    const std::int64_t now =
        (static_cast<std::int64_t>(nowFile.dwHighDateTime) << 32) | nowFile.dwLowDateTime;
    const std::int64_t staleAge =
        std::chrono::duration_cast<std::chrono::seconds>(kStaleTempAge).count() * 10'000'000;
    // The listing reads the opened folder itself, never a path that could have been swapped.
    FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
    while (GetFileInformationByHandleEx(handle_.get(), kind, buffer.data(),
                                        static_cast<DWORD>(buffer.size()))) {
      kind = FileIdBothDirectoryInfo;
      for (std::size_t at = 0;;) {
        const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + at);
        const std::string entryName = NarrowText(
            std::wstring_view(entry->FileName, entry->FileNameLength / sizeof(wchar_t)));
        const bool regular = (entry->FileAttributes &
                              (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
        if (regular && IsTempNameOf(entryName, name) &&
            now - entry->LastWriteTime.QuadPart >= staleAge) {
          stale.push_back(entryName);
        }
        if (entry->NextEntryOffset == 0) break;
        at += entry->NextEntryOffset;
      }
    }
    for (const auto& entry : stale) Remove(entry);
  }

 private:
  bool IsFolderEntry(std::string_view name) {
    UniqueHandle entry;
    return OpenRelative(handle_.get(), WideText(name), FILE_TRAVERSE, kShareAll, FILE_OPEN,
                        FILE_DIRECTORY_FILE, &entry) == 0;
  }

  UniqueHandle handle_;
  std::string path_;
  FolderUse use_;
};

constexpr ACCESS_MASK kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_ADD_FILE;

}  // namespace

std::unique_ptr<OwnFolder> SystemVolumeFiles::OpenFolder(const std::string& base,
                                                        std::string_view folder, FolderUse use,
                                                        bool create, int& err) {
  if (!IsAbsolutePath(base)) {
    err = EINVAL;
    return nullptr;
  }
  if (create) MakePrivateFolders(base);
  // The base as the system or the user names it: a folder mount point or a link there is theirs.
  UniqueHandle handle(CreateFileW(WideText(base).c_str(), kFolderAccess | SYNCHRONIZE, kShareAll,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle.valid()) {
    // A read-only volume or folder still opens for reading.
    handle = UniqueHandle(CreateFileW(WideText(base).c_str(),
                                      FILE_LIST_DIRECTORY | FILE_TRAVERSE | SYNCHRONIZE, kShareAll,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  }
  if (!handle.valid()) {
    err = ErrnoOf(GetLastError());
    return nullptr;
  }
  std::string path = WithoutTrailingSeparators(base);
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
    UniqueHandle next;
    DWORD error = OpenRelative(handle.get(), WideText(part), kFolderAccess, kShareAll,
                               create ? FILE_OPEN_IF : FILE_OPEN, FILE_DIRECTORY_FILE, &next);
    if (error == ERROR_ACCESS_DENIED) {
      error = OpenRelative(handle.get(), WideText(part), FILE_LIST_DIRECTORY | FILE_TRAVERSE,
                           kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE, &next);
    }
    if (error != 0) {
      err = ErrnoOf(error);
      return nullptr;
    }
    if (IsReparsePoint(next.get())) {
      err = ELOOP;
      return nullptr;
    }
    handle = std::move(next);
    path = JoinPath(path, part);
  }
  err = 0;
  return std::make_unique<WindowsFolder>(std::move(handle), std::move(path), use);
}

std::optional<std::string> SystemVolumeFiles::ReadChosenFile(const std::string& path,
                                                            std::size_t maxBytes, int& err) {
  UniqueHandle file(CreateFileW(WideText(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    err = ErrnoOf(GetLastError());
    return std::nullopt;
  }
  return ReadOpened(file.get(), maxBytes, err);
}

}  // namespace kuv
