#include "panelsvc/request_policy.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "common/utf16.h"
#include "panelio/panelio.h"

namespace kuv::svc {

namespace {

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

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

char Separator(PathStyle style) { return style == PathStyle::kWindows ? '\\' : '/'; }

std::string Join(const std::string& root, std::span<const std::string_view> parts,
                 PathStyle style) {
  std::string out = root;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += Separator(style);
    out += parts[i];
  }
  return out;
}

// A mount point as the system lists it, without the separators it may end with but its root's,
// and (Windows) with its drive letter in upper case, for comparing with a joined path.
std::string NormalMountPoint(std::string_view mount, PathStyle style) {
  const std::size_t rootSize = style == PathStyle::kWindows ? 3 : 1;
  while (mount.size() > rootSize && mount.back() == Separator(style)) mount.remove_suffix(1);
  std::string out(mount);
  if (style == PathStyle::kWindows && !out.empty()) out[0] = AsciiUpper(out[0]);
  return out;
}

// Windows compares names without regard to case; comparing ASCII letters so is enough here, as a
// name that differs otherwise is refused rather than wrongly allowed.
bool SamePath(std::string_view a, std::string_view b, PathStyle style) {
  if (style == PathStyle::kPosix) return a == b;
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char x, char y) { return AsciiUpper(x) == AsciiUpper(y); });
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

std::optional<SplitPath> SplitAbsolutePath(std::string_view path, PathStyle style) {
  SplitPath split;
  const char separator = Separator(style);
  if (style == PathStyle::kWindows) {
    const bool drive = path.size() >= 3 && AsciiUpper(path[0]) >= 'A' && AsciiUpper(path[0]) <= 'Z' &&
                       path[1] == ':' && path[2] == '\\';
    if (!drive) return std::nullopt;
    split.root = std::string{AsciiUpper(path[0]), ':', '\\'};
  } else {
    if (path.empty() || path.front() != '/') return std::nullopt;
    split.root = "/";
  }
  path.remove_prefix(split.root.size());
  if (path.empty()) return split;
  while (true) {
    const std::size_t next = path.find(separator);
    const std::string_view part = path.substr(0, next);
    if (part.empty() || part == "." || part == "..") return std::nullopt;
    split.parts.push_back(part);
    if (next == std::string_view::npos) break;
    path.remove_prefix(next + 1);
  }
  return split;
}

TargetCheck CheckTargetPath(std::int32_t command, std::u16string_view path,
                            std::span<const std::string> mountPoints, PathStyle style) {
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
  auto split = SplitAbsolutePath(utf8, style);
  if (!split) {
    check.refusal = "path is not a plain absolute path: " + utf8;
    return check;
  }
  const std::size_t folderDepth = command == kCmdCreateDirectory ? 1 : 2;
  const std::span<const std::string_view> all(split->parts);
  if (all.size() < folderDepth || all[all.size() - folderDepth] != kLcdFolderName) {
    check.refusal = "path outside a volume's " + std::string(kLcdFolderName) + " folder: " + utf8;
    return check;
  }
  if (folderDepth == 2 &&
      std::find(kLcdFileNames.begin(), kLcdFileNames.end(), all.back()) == kLcdFileNames.end()) {
    check.refusal = "file name not one of the system's files: " + utf8;
    return check;
  }
  const std::string mount = Join(split->root, all.first(all.size() - folderDepth), style);
  for (const auto& candidate : mountPoints) {
    if (SamePath(NormalMountPoint(candidate, style), mount, style)) {
      check.target = TargetPath{utf8, NormalMountPoint(candidate, style)};
      return check;
    }
  }
  check.refusal = "no mounted volume at " + mount;
  return check;
}

}  // namespace kuv::svc
