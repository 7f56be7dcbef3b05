#include "panelsvc/request_policy.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "common/utf16.h"
#include "panelio/panelio.h"

namespace kuv::svc {

namespace {

constexpr std::array<std::string_view, 3> kLcdFileNames = {"LCD_DATA.TXT", "QR_DATA.TXT",
                                                           "LCD_IMAGE.BMP"};

bool IsDriveCommand(std::int32_t command) {
  switch (command) {
    case kCmdGetLcdInfo:
    case kCmdSendLineData:
    case kCmdStopLcdTimer:
    case kCmdGetSmartInfo:
    case kCmdGetSizeFromSector:
    case kCmdGetSmartUnlessAsleep:
    case kCmdGetPowerMode:
      return true;
    default:
      return false;
  }
}

// Splits an absolute path into components; nullopt for anything but a plain absolute path.
std::optional<std::vector<std::string_view>> Components(std::string_view path) {
  if (path.empty() || path.front() != '/') return std::nullopt;
  std::vector<std::string_view> parts;
  std::size_t pos = 1;
  if (path.size() == 1) return parts;
  while (true) {
    std::size_t next = path.find('/', pos);
    std::string_view part = path.substr(pos, next == std::string_view::npos ? next : next - pos);
    if (part.empty() || part == "." || part == "..") return std::nullopt;
    parts.push_back(part);
    if (next == std::string_view::npos) break;
    pos = next + 1;
  }
  return parts;
}

std::string Join(std::span<const std::string_view> parts) {
  std::string out;
  for (auto part : parts) {
    out += '/';
    out += part;
  }
  return out.empty() ? "/" : out;
}

}  // namespace

std::int32_t RefusedResult(std::int32_t command) {
  switch (command) {
    case kCmdSendLineData:
      return static_cast<std::int32_t>(kPanelDriveNotOpened);
    case kCmdStopLcdTimer:
      return static_cast<std::int32_t>(kPanelStopRefused);
    case kCmdDeleteFile:
      return -1;
    case kCmdGetPowerMode:
      return kPowerModeUnknown;
    default:
      return 0;
  }
}

Refusal CheckRecordFields(const RequestRecord& record) {
  const std::int32_t command = record.command;
  if (IsDriveCommand(command) && (record.driveNumber < 0 || record.driveNumber > kMaxDriveNumber)) {
    return "drive number " + std::to_string(record.driveNumber) + " outside 0 to 31";
  }
  if (command == kCmdGetLcdInfo && !FieldTerminated(record.driveInfo.hidPath)) {
    return "hidPath without a terminating NUL";
  }
  if (command == kCmdCreateDirectory || command == kCmdDeleteFile) {
    if (!FieldTerminated(record.path)) return "path without a terminating NUL";
  }
  if (command == kCmdWriteFile) {
    if (record.WritePath().size() >= kWritePathUnits) {
      return "path of command 6 not shorter than 32 units";
    }
    if (!record.WriteData()) {
      return "writeLength " + std::to_string(record.WriteLength()) + " outside 0 to 3556";
    }
  }
  return std::nullopt;
}

TargetCheck CheckTargetPath(std::int32_t command, std::u16string_view path,
                            std::span<const std::string> mountPoints) {
  TargetCheck check;
  std::string utf8 = Utf16ToUtf8(path);
  // Unpaired surrogates would be replaced in the conversion and name a different file.
  if (Utf8ToUtf16(utf8) != path) {
    check.refusal = "path is not valid UTF-16";
    return check;
  }
  if (utf8.find('\0') != std::string::npos) {
    check.refusal = "path holds a NUL";
    return check;
  }
  auto parts = Components(utf8);
  if (!parts) {
    check.refusal = "path is not a plain absolute path: " + utf8;
    return check;
  }
  const std::size_t folderDepth = command == kCmdCreateDirectory ? 1 : 2;
  if (parts->size() < folderDepth) {
    check.refusal = "path outside a volume's " + std::string(kLcdFolderName) + " folder: " + utf8;
    return check;
  }
  std::span<const std::string_view> all(*parts);
  std::string_view folder = all[all.size() - folderDepth];
  if (folder != kLcdFolderName) {
    check.refusal = "path outside a volume's " + std::string(kLcdFolderName) + " folder: " + utf8;
    return check;
  }
  if (folderDepth == 2) {
    bool known = false;
    for (auto name : kLcdFileNames) known = known || all.back() == name;
    if (!known) {
      check.refusal = "file name not one of the system's files: " + utf8;
      return check;
    }
  }
  const std::string mount = Join(all.first(all.size() - folderDepth));
  for (const auto& candidate : mountPoints) {
    std::string_view normal = candidate;
    while (normal.size() > 1 && normal.back() == '/') normal.remove_suffix(1);
    if (normal == mount) {
      check.target = TargetPath{utf8, mount};
      return check;
    }
  }
  check.refusal = "no mounted volume at " + mount;
  return check;
}

TargetOpen OpenTarget(std::int32_t command, const TargetPath& target) {
  TargetOpen open;
  auto parts = Components(target.mountPoint);
  if (!parts) {
    open.refusal = "mount point is not a plain absolute path: " + target.mountPoint;
    open.error = EACCES;
    return open;
  }
  std::vector<std::string> names(parts->begin(), parts->end());
  if (command != kCmdCreateDirectory) names.emplace_back(kLcdFolderName);
  UniqueFd folder(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
  std::string prefix;
  for (const auto& name : names) {
    prefix += '/';
    prefix += name;
    UniqueFd next(
        ::openat(folder.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (!next.valid() || ::fstat(next.get(), &st) != 0) {
      open.error = errno;
      // A link (opened as itself) or anything else that is not a folder is refused; a missing
      // name is the operation's plain failure.
      if (open.error == ENOTDIR || open.error == ELOOP) {
        open.refusal = "symbolic link or not a folder in path: " + prefix;
        open.error = EACCES;
      }
      return open;
    }
    if (!S_ISDIR(st.st_mode)) {
      open.refusal = "not a folder: " + prefix;
      open.error = EACCES;
      return open;
    }
    folder = std::move(next);
  }
  const std::size_t slash = target.path.rfind('/');
  open.target = OpenedTarget{std::move(folder), target.path.substr(slash + 1), target.path};
  return open;
}

}  // namespace kuv::svc
