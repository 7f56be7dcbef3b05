#pragma once
// What the service agrees to do for a record. It runs as root and anyone on the machine may
// connect, so nothing in a record is trusted: the checks here decide before anything is opened.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/request_record.h"

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

// The path of command 5, 6 or 7 as UTF-8, when it is exactly <mount point>/TAVIO_LCDMANAGER (5)
// or one of LCD_DATA.TXT, QR_DATA.TXT, LCD_IMAGE.BMP inside it (6, 7) for one of mountPoints.
// The path must be absolute, with no empty, "." or ".." components and no trailing slash.
struct TargetPath {
  std::string path;
  std::string mountPoint;
};
struct TargetCheck {
  std::optional<TargetPath> target;
  std::string refusal;  // why target is empty
};
TargetCheck CheckTargetPath(std::int32_t command, std::u16string_view path,
                            std::span<const std::string> mountPoints);

// Walks the path from the root without following symbolic links: refused when any existing
// component is a symbolic link, or when the final component of command 6 exists and is not a
// regular file. Missing components are left for the operation to report.
Refusal CheckNoSymlinks(std::int32_t command, const std::string& path);

}  // namespace kuv::svc
