#pragma once
// What the service agrees to do for a record. It runs as root and anyone on the machine may
// connect, so nothing in a record is trusted: the checks here decide before anything is opened.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/request_record.h"
#include "panelsvc/platform.h"

namespace kuv::svc {

inline constexpr std::int32_t kMaxDriveNumber = 31;
inline constexpr std::string_view kLcdFolderName = "TAVIO_LCDMANAGER";

// Why a record was refused; empty when it may be served.
using Refusal = std::optional<std::string>;

// The value `result` gets when the command is refused: what the operation answers on failure.
std::int32_t RefusedResult(std::int32_t command);

// Checks that need nothing but the record: drive numbers 0 to 31 for drive commands, string
// fields ending with a NUL inside their field, command 6's 32-unit path and 0..3556 length.
Refusal CheckRecordFields(const RequestRecord& record);

// An absolute path split at its root ("/" here, "E:\" on Windows, its letter in upper case) into
// its components; nullopt for anything but a plain absolute path of the style: no empty, "." or
// ".." component, no trailing separator. Other spellings Windows would resolve to the same file
// ('/', a trailing dot, a stream) never equal a listed mount point and the system's names, so the
// exact comparison that follows refuses them.
struct SplitPath {
  std::string root;
  std::vector<std::string_view> parts;
};
std::optional<SplitPath> SplitAbsolutePath(std::string_view path, PathStyle style);

// The path of command 5, 6 or 7 as UTF-8, when it is exactly <mount point>/TAVIO_LCDMANAGER (5)
// or one of LCD_DATA.TXT, QR_DATA.TXT, LCD_IMAGE.BMP inside it (6, 7) for one of mountPoints,
// written in the style's syntax (on Windows the mount point is matched without regard to the
// case of its letters). `mountPoint` is then the mount point as the system lists it.
struct TargetPath {
  std::string path;
  std::string mountPoint;
};
struct TargetCheck {
  std::optional<TargetPath> target;
  std::string refusal;  // why target is empty
};
TargetCheck CheckTargetPath(std::int32_t command, std::u16string_view path,
                            std::span<const std::string> mountPoints,
                            PathStyle style = HostPathStyle());

}  // namespace kuv::svc
