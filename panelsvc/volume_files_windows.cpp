#include <windows.h>
#include <winternl.h>

#include "common/utf16.h"
#include "panelsvc/volume_files.h"

namespace kuv::svc {

namespace {

class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE handle) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (valid()) CloseHandle(handle_);
  }
  HANDLE get() const { return handle_; }
  HANDLE* out() { return &handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_ = nullptr;
};

std::wstring Wide(std::string_view utf8) {
  const std::u16string text = Utf8ToUtf16(utf8);
  return std::wstring(text.begin(), text.end());
}

FileAnswer Failed(std::int32_t result, DWORD error) {
  return FileAnswer{result, static_cast<int>(error == 0 ? ERROR_GEN_FAILURE : error), {}};
}

FileAnswer Refused(std::int32_t result, std::string why) {
  return FileAnswer{result, ERROR_ACCESS_DENIED, std::move(why)};
}

// Opens name inside folder, never by a whole path and never through a reparse point: a link or
// junction planted there is opened as itself, to be turned away by its attributes. Answers the
// system's error, 0 when opened.
DWORD OpenIn(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share,
             ULONG disposition, ULONG options, Handle* opened) {
  UNICODE_STRING text;
  text.Buffer = const_cast<wchar_t*>(name.c_str());
  text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  text.MaximumLength = text.Length;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, folder, nullptr);
  IO_STATUS_BLOCK status{};
  const NTSTATUS result =
      NtCreateFile(opened->out(), access | SYNCHRONIZE | FILE_READ_ATTRIBUTES, &attributes, &status,
                   nullptr, FILE_ATTRIBUTE_NORMAL, share, disposition,
                   options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (result >= 0) return 0;
  *opened->out() = nullptr;
  return RtlNtStatusToDosError(result);
}

bool IsReparsePoint(HANDLE handle) {
  FILE_BASIC_INFO info{};
  // An answer that cannot be read counts as the worst case.
  return !GetFileInformationByHandleEx(handle, FileBasicInfo, &info, sizeof info) ||
         (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

FileAnswer CreateLcdFolder(HANDLE volume, const std::wstring& name) {
  Handle folder;
  if (DWORD error = OpenIn(volume, name, FILE_LIST_DIRECTORY | FILE_WRITE_ATTRIBUTES, kShareAll,
                           FILE_CREATE, FILE_DIRECTORY_FILE, &folder)) {
    return Failed(0, error);  // also when it exists already
  }
  FILE_BASIC_INFO info{};
  if (!GetFileInformationByHandleEx(folder.get(), FileBasicInfo, &info, sizeof info)) {
    return Failed(0, GetLastError());
  }
  info.FileAttributes |= FILE_ATTRIBUTE_HIDDEN;
  if (!SetFileInformationByHandle(folder.get(), FileBasicInfo, &info, sizeof info)) {
    return Failed(0, GetLastError());
  }
  return FileAnswer{1, 0, {}};
}

FileAnswer AppendLcdFile(HANDLE folder, const std::wstring& name, const std::string& path,
                         std::span<const std::uint8_t> data) {
  Handle file;
  // Not shared while it is written, as the program's own writes expect.
  if (DWORD error =
          OpenIn(folder, name, FILE_APPEND_DATA, 0, FILE_OPEN_IF, FILE_NON_DIRECTORY_FILE, &file)) {
    return Failed(0, error);
  }
  if (IsReparsePoint(file.get()) || GetFileType(file.get()) != FILE_TYPE_DISK) {
    return Refused(0, "not a regular file: " + path);
  }
  std::size_t done = 0;
  while (done < data.size()) {
    DWORD written = 0;
    if (!WriteFile(file.get(), data.data() + done, static_cast<DWORD>(data.size() - done), &written,
                   nullptr)) {
      return Failed(0, GetLastError());
    }
    if (written == 0) return Failed(0, ERROR_WRITE_FAULT);
    done += written;
  }
  return FileAnswer{1, 0, {}};
}

FileAnswer DeleteLcdFile(HANDLE folder, const std::wstring& name, const std::string& path) {
  Handle file;
  if (DWORD error =
          OpenIn(folder, name, DELETE, kShareAll, FILE_OPEN, FILE_NON_DIRECTORY_FILE, &file)) {
    return Failed(-1, error);
  }
  if (IsReparsePoint(file.get())) return Refused(-1, "not a regular file: " + path);
  FILE_DISPOSITION_INFO disposition{TRUE};
  if (!SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition,
                                  sizeof disposition)) {
    return Failed(-1, GetLastError());
  }
  return FileAnswer{1, 0, {}};
}

}  // namespace

FileAnswer ServeFileCommand(std::int32_t command, const TargetPath& target, const Peer& peer,
                            std::span<const std::uint8_t> data, const DeviceOps&) {
  const std::int32_t failure = RefusedResult(command);
  ScopedPeerIdentity identity(peer);
  if (!identity.active()) return Refused(failure, "could not take the client's identity");
  // The volume's root as the system lists it; a folder mount point is followed to the volume it
  // mounts, which is what it is for. Below the root nothing is followed.
  std::wstring root = Wide(target.mountPoint);
  if (root.back() != L'\\') root += L'\\';
  Handle volume(CreateFileW(root.c_str(), FILE_TRAVERSE | FILE_LIST_DIRECTORY | SYNCHRONIZE,
                            kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                            nullptr));
  if (!volume.valid()) return Failed(failure, GetLastError());
  const std::wstring folderName = Wide(kLcdFolderName);
  if (command == kCmdCreateDirectory) return CreateLcdFolder(volume.get(), folderName);

  Handle folder;
  if (DWORD error = OpenIn(volume.get(), folderName, FILE_TRAVERSE, kShareAll, FILE_OPEN,
                           FILE_DIRECTORY_FILE, &folder)) {
    if (error == ERROR_DIRECTORY) {
      return Refused(failure,
                     "not a folder: " + target.mountPoint + "\\" + std::string(kLcdFolderName));
    }
    return Failed(failure, error);
  }
  if (IsReparsePoint(folder.get())) {
    return Refused(failure, "reparse point in path: " + target.mountPoint + "\\" +
                                std::string(kLcdFolderName));
  }
  const std::string name = target.path.substr(target.path.rfind('\\') + 1);
  if (command == kCmdWriteFile) return AppendLcdFile(folder.get(), Wide(name), target.path, data);
  return DeleteLcdFile(folder.get(), Wide(name), target.path);
}

}  // namespace kuv::svc
