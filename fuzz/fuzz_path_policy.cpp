// Paths of commands 5, 6 and 7 come from any local user as raw UTF-16: whatever the policy
// accepts must name the system's folder or files right inside a known volume, open without
// following anything, and every refusal must stay one harmless log line.
#include <sys/stat.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/request_record.h"
#include "common/utf16.h"
#include "panelsvc/request_policy_posix.h"
#include "panelsvc/service_log.h"

namespace {

const std::string kRoot = "/tmp/kuvlcd_fuzz_path_policy";
const std::vector<std::string> kMounts = {"/", "/media/ann/My Disk", "/mnt/日本/", kRoot + "/vol",
                                          kRoot + "/vol/link"};
// As the Windows service lists them: drive roots and a folder mount point.
const std::vector<std::string> kWindowsMounts = {"C:\\", "e:\\", "C:\\Mount\\Disk\\"};
constexpr std::array<std::string_view, 3> kFiles = {"LCD_DATA.TXT", "QR_DATA.TXT", "LCD_IMAGE.BMP"};

void CheckLogLine(const std::string& text) {
  const std::string line = kuv::svc::EscapeForLog(text);
  if (line.size() > kuv::svc::kMaxLogLine) __builtin_trap();
  for (unsigned char c : line) {
    if (c < 0x20 || c == 0x7F) __builtin_trap();
  }
}

bool Accepted(std::int32_t command, const std::string& path, const std::string& mount) {
  std::string expected = mount == "/" ? "" : mount;
  expected += "/TAVIO_LCDMANAGER";
  if (command == kuv::kCmdCreateDirectory) return path == expected;
  for (auto name : kFiles) {
    if (path == expected + "/" + std::string(name)) return true;
  }
  return false;
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// The same path read as the Windows programs write it: accepted only as one of the system's names
// right inside a listed mount point, whatever the case of the mount point's letters.
void CheckWindowsPath(std::int32_t command, const std::u16string& path) {
  using kuv::svc::PathStyle;
  const auto check = kuv::svc::CheckTargetPath(command, path, kWindowsMounts, PathStyle::kWindows);
  if (!check.target) {
    if (check.refusal.empty()) __builtin_trap();
    CheckLogLine(check.refusal);
    return;
  }
  std::string mount = check.target->mountPoint;
  if (mount.back() != '\\') mount += '\\';
  std::string rest = check.target->path;
  if (rest.size() < mount.size()) __builtin_trap();
  for (std::size_t i = 0; i < mount.size(); ++i) {
    if (Upper(rest[i]) != Upper(mount[i])) __builtin_trap();
  }
  rest.erase(0, mount.size());
  bool known = command == kuv::kCmdCreateDirectory && rest == "TAVIO_LCDMANAGER";
  for (auto name : kFiles) {
    known = known || (command != kuv::kCmdCreateDirectory &&
                      rest == "TAVIO_LCDMANAGER\\" + std::string(name));
  }
  if (!known) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::filesystem::create_directories(kRoot + "/vol/TAVIO_LCDMANAGER");
  std::filesystem::create_directories(kRoot + "/elsewhere");
  std::error_code ignored;
  std::filesystem::create_directory_symlink(kRoot + "/elsewhere", kRoot + "/vol/link", ignored);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::int32_t command = kuv::kCmdCreateDirectory + data[0] % 3;
  std::u16string path;
  for (std::size_t i = 1; i + 1 < size; i += 2) {
    path.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  CheckWindowsPath(command, path);
  kuv::svc::TargetCheck check = kuv::svc::CheckTargetPath(command, path, kMounts);
  if (!check.target) {
    if (check.refusal.empty()) __builtin_trap();
    CheckLogLine("refused command " + std::to_string(command) + ": " + check.refusal);
    return 0;
  }
  const kuv::svc::TargetPath& target = *check.target;
  if (kuv::Utf8ToUtf16(target.path) != path) __builtin_trap();
  bool known = false;
  for (const auto& mount : kMounts) {
    std::string normal = mount;
    while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
    if (target.mountPoint == normal && Accepted(command, target.path, normal)) known = true;
  }
  if (!known) __builtin_trap();
  CheckLogLine(target.path);

  kuv::svc::TargetOpen open = kuv::svc::OpenTarget(command, target);
  if (open.target) {
    struct stat st;
    if (::fstat(open.target->folder.get(), &st) != 0 || !S_ISDIR(st.st_mode)) __builtin_trap();
    if (open.target->name.find('/') != std::string::npos) __builtin_trap();
  } else if (open.error == 0) {
    __builtin_trap();
  }
  return 0;
}
