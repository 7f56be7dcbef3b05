#include "common/relative_open.h"
#include "common/wide_text.h"
#include "panelsvc/volume_files.h"

namespace kuv::svc {

namespace {

FileAnswer Failed(std::int32_t result, DWORD error) {
  return FileAnswer{result, static_cast<int>(error == 0 ? ERROR_GEN_FAILURE : error), {}};
}

FileAnswer Refused(std::int32_t result, std::string why) {
  return FileAnswer{result, ERROR_ACCESS_DENIED, std::move(why)};
}

FileAnswer CreateLcdFolder(HANDLE volume, const std::wstring& name) {
  UniqueHandle folder;
  if (DWORD error = OpenRelative(volume, name, FILE_LIST_DIRECTORY | FILE_WRITE_ATTRIBUTES, kShareAll,
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
  UniqueHandle file;
  // Not shared while it is written, as the program's own writes expect.
  if (DWORD error =
          OpenRelative(folder, name, FILE_APPEND_DATA, 0, FILE_OPEN_IF, FILE_NON_DIRECTORY_FILE, &file)) {
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
  UniqueHandle file;
  if (DWORD error =
          OpenRelative(folder, name, DELETE, kShareAll, FILE_OPEN, FILE_NON_DIRECTORY_FILE, &file)) {
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
  std::wstring root = WideText(target.mountPoint);
  if (root.back() != L'\\') root += L'\\';
  UniqueHandle volume(CreateFileW(root.c_str(), FILE_TRAVERSE | FILE_LIST_DIRECTORY | SYNCHRONIZE,
                            kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                            nullptr));
  if (!volume.valid()) return Failed(failure, GetLastError());
  const std::wstring folderName = WideText(kLcdFolderName);
  if (command == kCmdCreateDirectory) return CreateLcdFolder(volume.get(), folderName);

  UniqueHandle folder;
  if (DWORD error = OpenRelative(volume.get(), folderName, FILE_TRAVERSE, kShareAll, FILE_OPEN,
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
  if (command == kCmdWriteFile) return AppendLcdFile(folder.get(), WideText(name), target.path, data);
  return DeleteLcdFile(folder.get(), WideText(name), target.path);
}

}  // namespace kuv::svc
