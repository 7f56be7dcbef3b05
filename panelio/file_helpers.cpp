// The file helpers among the exports: the hidden settings folder, appending to and deleting files
// on a drive, and the autostart entry. They run in the service, with its rights.

#include <cerrno>
#include <string>
#include <string_view>

#include "common/utf16.h"
#include "panelio/env.h"
#include "panelio/panelio.h"
#include "panelio/pass_through.h"

namespace {

std::string PathOf(const char16_t* path) {
  return kuv::Utf16ToUtf8(std::u16string_view(path));
}

}  // namespace

extern "C" std::int32_t LcdCreateDirectory(const char16_t* path) {
  return kuv::RunExport([&](kuv::Status& why) -> std::int32_t {
    if (!path) {
      why = kuv::Status(EINVAL, "no path");
      return 0;
    }
    std::string p = PathOf(path);
    kuv::DeviceEnv& env = kuv::Env();
    // An existing folder is not touched: its attributes stay as the user left them.
    why = env.MakeDirectory(p);
    if (!why.ok()) return 0;
    why = env.SetHidden(p);
    return why.ok() ? 1 : 0;
  });
}

extern "C" std::int32_t LcdWriteFile(const char16_t* path, const std::uint8_t* data,
                                     std::uint32_t length) {
  return kuv::RunExport([&](kuv::Status& why) -> std::int32_t {
    if (!path || (!data && length > 0)) {
      why = kuv::Status(EINVAL, "no path or data");
      return 0;
    }
    std::span<const std::uint8_t> bytes;
    if (length > 0) bytes = std::span<const std::uint8_t>(data, length);
    why = kuv::Env().AppendToFile(PathOf(path), bytes);
    return why.ok() ? 1 : 0;
  });
}

extern "C" std::int32_t LcdDeleteFile(const char16_t* path) {
  return kuv::RunExport([&](kuv::Status& why) -> std::int32_t {
    if (!path) {
      why = kuv::Status(EINVAL, "no path");
      return static_cast<std::int32_t>(kPanelBadHandle);
    }
    why = kuv::Env().RemoveFile(PathOf(path));
    return why.ok() ? 1 : -1;
  });
}

extern "C" std::int32_t SetAutorun(std::int32_t on) {
  return kuv::RunExport([&](kuv::Status& why) -> std::int32_t {
    // Only the low byte counts, as callers have always passed it.
    why = kuv::Env().SetAutostart((on & 0xFF) == 1);
    if (why.ok()) return 0;
    return why.code() > 0 ? why.code() : EIO;
  });
}
