// Device changes on Windows, by comparison at each poll: the drive letters and the physical
// disks for the system, world.json's stamp for a simulated world. A window's
// WM_DEVICECHANGE would need a message loop that kuvlcd has no other use for.

#include <windows.h>

#include <chrono>
#include <vector>

#include "app/model/device_changes.h"
#include "common/wide_text.h"

namespace kuv {
namespace {

// Compares a snapshot taken at most every kDeviceChangePoll with the one before.
template <typename Snapshot>
class PolledChanges : public DeviceChangeSource {
 public:
  explicit PolledChanges(Snapshot (*take)(const std::string&), std::string subject)
      : take_(take), subject_(std::move(subject)), last_(take_(subject_)) {}

  int fd() const override { return -1; }

  bool TakeChanges() override {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastPoll_ < kDeviceChangePoll) return false;
    lastPoll_ = now;
    Snapshot current = take_(subject_);
    if (current == last_) return false;
    last_ = std::move(current);
    return true;
  }

 private:
  Snapshot (*take_)(const std::string&);
  std::string subject_;
  Snapshot last_;
  std::chrono::steady_clock::time_point lastPoll_ = std::chrono::steady_clock::now();
};

// The drive letters in use, and which of \\.\PhysicalDrive0..31 open: a tray's disk may come
// without a volume the system mounts.
std::vector<bool> DriveList(const std::string&) {
  std::vector<bool> present;
  const DWORD letters = GetLogicalDrives();
  for (int i = 0; i < 26; ++i) present.push_back((letters >> i) & 1);
  for (int n = 0; n < 32; ++n) {
    const std::wstring path = L"\\\\.\\PhysicalDrive" + std::to_wstring(n);
    // No access asked: the disk's presence is all, and it needs no rights.
    HANDLE disk = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    present.push_back(disk != INVALID_HANDLE_VALUE);
    if (disk != INVALID_HANDLE_VALUE) CloseHandle(disk);
  }
  return present;
}

// world.json's size and last write, or nothing when it is missing.
std::vector<std::uint64_t> WorldStamp(const std::string& worldDir) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(WideText(worldDir + "\\world.json").c_str(), GetFileExInfoStandard,
                            &data)) {
    return {};
  }
  return {(static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow,
          (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
              data.ftLastWriteTime.dwLowDateTime};
}

}  // namespace

std::unique_ptr<DeviceChangeSource> OpenSystemDeviceChanges(std::string&) {
  return std::make_unique<PolledChanges<std::vector<bool>>>(DriveList, std::string());
}

std::unique_ptr<DeviceChangeSource> OpenWorldChanges(const std::string& worldDir,
                                                     std::string& error) {
  const DWORD attributes = GetFileAttributesW(WideText(worldDir).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    error = "cannot watch " + worldDir + ": " + SystemErrorText(GetLastError());
    return nullptr;
  }
  return std::make_unique<PolledChanges<std::vector<std::uint64_t>>>(WorldStamp, worldDir);
}

}  // namespace kuv
