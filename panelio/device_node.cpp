#include "panelio/device_node.h"

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "panelio/pass_through.h"

namespace kuv {
namespace {

std::string Upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return s;
}

std::optional<std::uint16_t> HexAfter(const std::string& id, const std::string& tag) {
  std::size_t at = id.find(tag);
  if (at == std::string::npos || at + tag.size() + 4 > id.size()) return std::nullopt;
  std::uint16_t value = 0;
  for (std::size_t i = at + tag.size(); i < at + tag.size() + 4; ++i) {
    char c = id[i];
    int digit = (c >= '0' && c <= '9') ? c - '0' : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
    if (digit < 0) return std::nullopt;
    value = static_cast<std::uint16_t>(value << 4 | digit);
  }
  return value;
}

std::optional<UsbIdentity> IdentityOf(const std::string& upperId) {
  auto vendor = HexAfter(upperId, "VID_");
  auto product = HexAfter(upperId, "PID_");
  if (!vendor || !product) return std::nullopt;
  return UsbIdentity{*vendor, *product};
}

}  // namespace

Result<DiskInterface> FindDiskInterface(DeviceEnv& env, int driveNumber) {
  auto disks = env.ListDisks();
  if (!disks.ok()) return disks.status();
  for (const DiskInterface& d : *disks)
    if (d.deviceNumber == driveNumber) return d;
  return PosixError("no disk with device number " + std::to_string(driveNumber), ENOENT);
}

std::optional<UsbIdentity> UsbIdentityFromParents(std::span<const std::string> parentIds) {
  if (parentIds.empty()) return std::nullopt;
  std::string parent = Upper(parentIds[0]);
  if (parent.find("VID_") != std::string::npos) return IdentityOf(parent);
  if (parent.find(kIntermediateNodePrefix) != std::string::npos && parentIds.size() > 1)
    return IdentityOf(Upper(parentIds[1]));
  return std::nullopt;
}

std::optional<UsbIdentity> DriveUsbIdentity(DeviceEnv& env, int driveNumber) {
  auto parents = env.ParentInstanceIds(driveNumber);
  if (!parents.ok()) return std::nullopt;
  return UsbIdentityFromParents(*parents);
}

}  // namespace kuv
