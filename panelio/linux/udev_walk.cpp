#include "panelio/linux/udev_walk.h"

#include <libudev.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "common/utf16.h"

namespace kuv {
namespace {

struct UdevUnref {
  void operator()(udev* u) const { udev_unref(u); }
};
struct DeviceUnref {
  void operator()(udev_device* d) const { udev_device_unref(d); }
};
using UdevPtr = std::unique_ptr<udev, UdevUnref>;
using DevicePtr = std::unique_ptr<udev_device, DeviceUnref>;

std::string Trim(std::string_view s) {
  std::size_t b = s.find_first_not_of(" \t\n");
  if (b == std::string_view::npos) return "";
  std::size_t e = s.find_last_not_of(" \t\n");
  return std::string(s.substr(b, e - b + 1));
}

std::string Attr(udev_device* d, const char* name) {
  const char* v = udev_device_get_sysattr_value(d, name);
  return v ? Trim(v) : "";
}

Result<DevicePtr> OpenBlock(udev* u, std::string_view sysname) {
  std::string name(sysname);
  DevicePtr dev(udev_device_new_from_subsystem_sysname(u, "block", name.c_str()));
  if (!dev) return PosixError("udev block device " + name, errno ? errno : ENODEV);
  return dev;
}

Result<UdevPtr> NewUdev() {
  UdevPtr u(udev_new());
  if (!u) return PosixError("udev_new", errno ? errno : ENOMEM);
  return u;
}

// The SCSI device (host:channel:target:lun) above a disk, borrowed from dev's parent chain.
udev_device* ScsiDeviceOf(udev_device* dev) {
  return udev_device_get_parent_with_subsystem_devtype(dev, "scsi", "scsi_device");
}

}  // namespace

Result<std::vector<std::string>> UdevParentInstanceIds(std::string_view sysname) {
  auto u = NewUdev();
  if (!u.ok()) return u.status();
  auto dev = OpenBlock(u->get(), sysname);
  if (!dev.ok()) return dev.status();
  std::vector<std::string> ids;
  for (udev_device* p = udev_device_get_parent(dev->get()); p; p = udev_device_get_parent(p)) {
    const char* subsystem = udev_device_get_subsystem(p);
    const char* devtype = udev_device_get_devtype(p);
    if (!subsystem || !devtype || std::string_view(subsystem) != "usb" ||
        std::string_view(devtype) != "usb_device")
      continue;
    unsigned vendor = 0, product = 0;
    std::sscanf(Attr(p, "idVendor").c_str(), "%x", &vendor);
    std::sscanf(Attr(p, "idProduct").c_str(), "%x", &product);
    std::string serial = Attr(p, "serial");
    if (serial.empty()) serial = udev_device_get_sysname(p);
    char head[40];
    std::snprintf(head, sizeof head, "USB\\VID_%04X&PID_%04X\\", vendor & 0xFFFF, product & 0xFFFF);
    ids.push_back(head + serial);
  }
  return ids;
}

Result<std::string> UdevFriendlyName(std::string_view sysname) {
  auto u = NewUdev();
  if (!u.ok()) return u.status();
  auto dev = OpenBlock(u->get(), sysname);
  if (!dev.ok()) return dev.status();
  udev_device* scsi = ScsiDeviceOf(dev->get());
  if (!scsi) return std::string();
  std::string vendor = Attr(scsi, "vendor");
  std::string model = Attr(scsi, "model");
  if (vendor.empty() || vendor == "ATA") return model;
  return model.empty() ? vendor : vendor + " " + model;
}

Result<ScsiAddress> UdevScsiAddress(std::string_view sysname) {
  auto u = NewUdev();
  if (!u.ok()) return u.status();
  auto dev = OpenBlock(u->get(), sysname);
  if (!dev.ok()) return dev.status();
  udev_device* scsi = ScsiDeviceOf(dev->get());
  if (!scsi) return PosixError("no SCSI address for " + std::string(sysname), ENODEV);
  unsigned h = 0, c = 0, t = 0, l = 0;
  if (std::sscanf(udev_device_get_sysname(scsi), "%u:%u:%u:%u", &h, &c, &t, &l) != 4)
    return PosixError("malformed SCSI address for " + std::string(sysname), EINVAL);
  return ScsiAddress{static_cast<std::uint8_t>(h), static_cast<std::uint8_t>(c),
                     static_cast<std::uint8_t>(t), static_cast<std::uint8_t>(l)};
}

std::string WindowsFileSystemName(std::string_view mountType, std::string_view probedType,
                                  std::string_view probedVersion) {
  if (mountType == "ntfs" || mountType == "ntfs3" || mountType == "ntfs-3g" ||
      (mountType == "fuseblk" && probedType == "ntfs"))
    return "NTFS";
  if (mountType == "vfat" || mountType == "msdos" || mountType == "fat")
    return probedVersion == "FAT32" ? "FAT32" : "FAT";
  if (mountType == "exfat" || (mountType == "fuseblk" && probedType == "exfat")) return "exFAT";
  return std::string(mountType);
}

std::string VolumeLabel(std::string_view encoded, std::string_view plain, CodePage codePage) {
  if (encoded.empty()) return std::string(plain);
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string label;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] == '\\' && i + 3 < encoded.size() && encoded[i + 1] == 'x' &&
        hex(encoded[i + 2]) >= 0 && hex(encoded[i + 3]) >= 0) {
      char c = static_cast<char>(hex(encoded[i + 2]) * 16 + hex(encoded[i + 3]));
      if (c == '\0') break;
      label += c;
      i += 3;
      continue;
    }
    label += encoded[i];
  }
  if (IsUtf8(label)) return label;
  return Utf16ToUtf8(FromCodePage(label, codePage));
}

}  // namespace kuv
