#include "panelio/hidapi_device.h"

#include <hidapi.h>

#include <algorithm>
#include <cerrno>

namespace kuv {
namespace {

class HidapiDevice final : public HidDevice {
 public:
  HidapiDevice(hid_device* dev, std::string name) : dev_(dev), name_(std::move(name)) {}
  ~HidapiDevice() override { hid_close(dev_); }

  Status Write(std::span<const std::uint8_t, 65> report) override {
    int n = hid_write(dev_, report.data(), report.size());
    if (n != static_cast<int>(report.size()))
      return PosixError("HID write " + name_, errno ? errno : EIO);
    return {};
  }

  Result<std::size_t> Read(std::span<std::uint8_t, 65> report, int timeoutMs) override {
    // hidapi hands a report of id 0 without its id byte, so it goes in after byte 0.
    std::fill(report.begin(), report.end(), 0);
    int n = hid_read_timeout(dev_, report.data() + 1, report.size() - 1, timeoutMs);
    if (n < 0) return PosixError("HID read " + name_, errno ? errno : EIO);
    return n == 0 ? std::size_t{0} : static_cast<std::size_t>(n) + 1;
  }

 private:
  hid_device* dev_;
  std::string name_;
};

}  // namespace

Result<std::unique_ptr<HidDevice>> OpenHidapiDevice(const std::string& path,
                                                    const std::string& name) {
  const std::string& shown = name.empty() ? path : name;
  errno = 0;
  hid_device* dev = hid_open_path(path.c_str());
  if (!dev) return PosixError("open " + shown, errno ? errno : ENOENT);
  return std::unique_ptr<HidDevice>(std::make_unique<HidapiDevice>(dev, shown));
}

}  // namespace kuv
