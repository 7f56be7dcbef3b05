// The user's folders on Windows: the known folders of the user's profile, whose access lists
// already close them to other users.

#include <windows.h>
#include <shlobj.h>

#include "app/model/user_folders.h"
#include "common/wide_text.h"

namespace kuv {
namespace {

std::string KnownFolder(REFKNOWNFOLDERID id) {
  wchar_t* path = nullptr;
  std::string folder;
  if (SHGetKnownFolderPath(id, KF_FLAG_CREATE, nullptr, &path) == S_OK) folder = NarrowText(path);
  CoTaskMemFree(path);
  return folder;
}

}  // namespace

std::string TemporaryFolder() {
  wchar_t path[MAX_PATH + 1] = {};
  const DWORD n = GetTempPathW(MAX_PATH + 1, path);
  std::string folder = n > 0 && n <= MAX_PATH ? NarrowText(std::wstring_view(path, n)) : "C:\\";
  if (folder.back() != '\\' && folder.back() != '/') folder += '\\';
  return folder;
}

std::string UserDataHome() {
  return KnownFolder(FOLDERID_RoamingAppData);
}

std::string LoginName() {
  wchar_t name[257] = {};
  DWORD size = 257;
  if (!GetUserNameW(name, &size) || size == 0) return {};
  return NarrowText(std::wstring_view(name, size - 1));
}

void MakePrivateFolders(const std::string& path) {
  // Each component in turn, after the root ("E:\" or "\\server\share\").
  const std::wstring wide = WideText(path);
  for (std::size_t at = wide.find_first_of(L"\\/", 3);; at = wide.find_first_of(L"\\/", at + 1)) {
    const std::wstring prefix = wide.substr(0, at);
    if (!prefix.empty()) CreateDirectoryW(prefix.c_str(), nullptr);
    if (at == std::wstring::npos) return;
  }
}

std::optional<std::string> UserRuntimeFolder(std::string& error) {
  const std::string local = KnownFolder(FOLDERID_LocalAppData);
  if (local.empty()) {
    error = "no runtime folder: the user has no local application data folder";
    return std::nullopt;
  }
  const std::string folder = local + "\\TAVIO\\KuvLcdManager";
  MakePrivateFolders(folder);
  const DWORD attributes = GetFileAttributesW(WideText(folder).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    error = "cannot use the runtime folder " + folder;
    return std::nullopt;
  }
  return folder;
}

}  // namespace kuv
