#include <winternl.h>

#include <algorithm>
#include <vector>

#include "common/relative_open.h"

namespace kuv {

DWORD OpenRelative(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share,
                   ULONG disposition, ULONG options, UniqueHandle* opened) {
  opened->reset();
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

DWORD RenameRelative(HANDLE file, HANDLE folder, const std::wstring& name) {
  // NtSetInformationFile takes the name relative to the folder as it is; SetFileInformationByHandle
  // may turn it into a path of the current folder first.
  std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t));
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = TRUE;
  rename->RootDirectory = folder;
  rename->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
  std::copy(name.begin(), name.end(), rename->FileName);
  IO_STATUS_BLOCK status{};
  const NTSTATUS result =
      NtSetInformationFile(file, &status, rename, static_cast<ULONG>(buffer.size()),
                           static_cast<FILE_INFORMATION_CLASS>(FileRenameInformation));
  return result >= 0 ? 0 : RtlNtStatusToDosError(result);
}

bool IsReparsePoint(HANDLE handle) {
  FILE_BASIC_INFO info{};
  return !GetFileInformationByHandleEx(handle, FileBasicInfo, &info, sizeof info) ||
         (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace kuv
