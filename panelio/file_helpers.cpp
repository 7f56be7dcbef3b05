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
  errno = 0;
  if (!path) {
    errno = EINVAL;
    return 0;
  }
  std::string p = PathOf(path);
  kuv::DeviceEnv& env = kuv::Env();
  // An existing folder is not touched: its attributes stay as the user left them.
  if (kuv::Status s = env.CreateDirectory(p); !s.ok()) {
    kuv::KeepErrno(s);
    return 0;
  }
  kuv::Status s = env.SetHidden(p);
  kuv::KeepErrno(s);
  return s.ok() ? 1 : 0;
}

extern "C" std::int32_t LcdWriteFile(const char16_t* path, const std::uint8_t* data,
                                     std::uint32_t length) {
  errno = 0;
  if (!path || (!data && length > 0)) {
    errno = EINVAL;
    return 0;
  }
  std::span<const std::uint8_t> bytes;
  if (length > 0) bytes = std::span<const std::uint8_t>(data, length);
  kuv::Status s = kuv::Env().AppendToFile(PathOf(path), bytes);
  kuv::KeepErrno(s);
  return s.ok() ? 1 : 0;
}

extern "C" std::int32_t LcdDeleteFile(const char16_t* path) {
  errno = 0;
  if (!path) {
    errno = EINVAL;
    return static_cast<std::int32_t>(kPanelBadHandle);
  }
  kuv::Status s = kuv::Env().DeleteFile(PathOf(path));
  kuv::KeepErrno(s);
  return s.ok() ? 1 : -1;
}

extern "C" std::int32_t SetAutorun(std::int32_t on) {
  errno = 0;
  // Only the low byte counts, as callers have always passed it.
  kuv::Status s = kuv::Env().SetAutostart((on & 0xFF) == 1);
  if (s.ok()) return 0;
  kuv::KeepErrno(s);
  return s.code() > 0 ? s.code() : EIO;
}
