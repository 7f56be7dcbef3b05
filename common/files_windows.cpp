#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "common/files.h"
#include "common/utf16.h"

namespace kuv {
namespace {

std::wstring Wide(std::string_view utf8) {
  const std::u16string text = Utf8ToUtf16(utf8);
  return std::wstring(text.begin(), text.end());
}

// The system's text for an error code, as strerror gives it elsewhere.
std::string ErrorText(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  std::u16string text(reinterpret_cast<const char16_t*>(buffer), buffer ? n : 0);
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r' || text.back() == u' ')) {
    text.pop_back();
  }
  return text.empty() ? "error " + std::to_string(code) : Utf16ToUtf8(text);
}

}  // namespace

std::FILE* OpenFile(const std::string& path, const char* mode) {
  return _wfopen(Wide(path).c_str(), Wide(mode).c_str());
}

bool ReplaceFileWith(const std::string& path, std::span<const std::uint8_t> bytes,
                     std::string* error) {
  auto fail = [&](DWORD code) {
    if (error) *error = path + ": " + ErrorText(code);
    return false;
  };
  // A name nobody can guess, made only if it does not exist, so nothing planted is opened.
  std::random_device random;
  std::wstring temp;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%08x", static_cast<unsigned>(random()));
    temp = Wide(path + suffix);
    file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (file == INVALID_HANDLE_VALUE) return fail(GetLastError());
  DWORD code = ERROR_SUCCESS;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) {
      code = GetLastError();
      break;
    }
    done += written;
  }
  if (!CloseHandle(file) && code == ERROR_SUCCESS) code = GetLastError();
  if (code == ERROR_SUCCESS && !MoveFileExW(temp.c_str(), Wide(path).c_str(),
                                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    code = GetLastError();
  }
  if (code != ERROR_SUCCESS) {
    DeleteFileW(temp.c_str());
    return fail(code);
  }
  return true;
}

}  // namespace kuv
