#include "panelio/linux/hid_identity.h"

#include <filesystem>
#include <system_error>

namespace kuv {
namespace {

namespace fs = std::filesystem;

// class/hidraw/<name>/device is the HID device (its name carries a sequence number that changes on
// every replug); its parent is the USB interface.
std::string InterfaceOf(const std::string& sysDir, const std::string& name) {
  std::error_code ec;
  fs::path hidDevice = fs::canonical(fs::path(sysDir) / "class/hidraw" / name / "device", ec);
  if (ec || !hidDevice.has_parent_path()) return "";
  return hidDevice.parent_path().string();
}

}  // namespace

std::string HidIdentityOfNode(const std::string& sysDir, const std::string& devNode) {
  std::string name = fs::path(devNode).filename().string();
  if (name.rfind("hidraw", 0) != 0) return "";
  return InterfaceOf(sysDir, name);
}

std::string HidNodeOfIdentity(const std::string& sysDir, const std::string& devDir,
                              const std::string& identity) {
  if (identity.empty()) return "";
  std::error_code ec;
  for (fs::directory_iterator i(fs::path(sysDir) / "class/hidraw", ec), end; !ec && i != end;
       i.increment(ec)) {
    std::string name = i->path().filename().string();
    if (InterfaceOf(sysDir, name) == identity) return devDir + "/" + name;
  }
  return "";
}

}  // namespace kuv
