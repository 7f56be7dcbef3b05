#include "panelio/linux/linux_env.h"

#include <fcntl.h>
#include <hidapi/hidapi.h>
#include <libudev.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <linux/msdos_fs.h>
#include <scsi/sg.h>
#include <sys/fsuid.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "panelio/autostart_entry.h"
#include "panelio/bounded_call.h"
#include "panelio/disk_helpers.h"
#include "panelio/hidapi_device.h"
#include "panelio/linux/drive_names.h"
#include "panelio/linux/hid_identity.h"
#include "panelio/linux/mountinfo.h"
#include "panelio/linux/udev_walk.h"
#include "panelio/pass_through.h"
#include "panelio/unique_fd.h"

namespace kuv {
namespace {

constexpr int kMaxDrive = 31;
constexpr long kFuseMagic = 0x65735546;
constexpr long kNtfs3Magic = 0x7366746e;
constexpr std::uint32_t kNtfsHidden = 0x02;
constexpr const char* kNtfsAttrib = "system.ntfs_attrib_be";

// While alive, a root thread's file-system uid is that of the owner of fd. The kernel lets a file's
// owner change its attributes, so the service marks the folder a client owns without CAP_FOWNER.
class AsOwnerOf {
 public:
  explicit AsOwnerOf(int fd) {
    struct stat st;
    if (::geteuid() != 0 || ::fstat(fd, &st) != 0) return;
    saved_ = static_cast<uid_t>(::setfsuid(st.st_uid));
    switched_ = true;
  }
  AsOwnerOf(const AsOwnerOf&) = delete;
  AsOwnerOf& operator=(const AsOwnerOf&) = delete;
  ~AsOwnerOf() {
    if (switched_) ::setfsuid(saved_);
  }

 private:
  uid_t saved_ = 0;
  bool switched_ = false;
};

class LinuxDisk final : public Disk {
 public:
  LinuxDisk(UniqueFd fd, std::string path) : fd_(std::move(fd)), path_(std::move(path)) {}

  Result<ScsiReply> Scsi(const ScsiRequest& request) override {
    if (request.cdb.empty() || request.cdb.size() > 16)
      return PosixError("SG_IO " + path_ + ": command length", EINVAL);
    ScsiReply reply;
    sg_io_hdr_t h{};
    h.interface_id = 'S';
    h.cmd_len = static_cast<unsigned char>(request.cdb.size());
    h.cmdp = const_cast<unsigned char*>(request.cdb.data());
    h.mx_sb_len = static_cast<unsigned char>(reply.sense.size());
    h.sbp = reply.sense.data();
    h.timeout = request.timeoutSeconds * 1000u;
    switch (request.direction) {
      case DataDirection::kNone:
        h.dxfer_direction = SG_DXFER_NONE;
        break;
      case DataDirection::kIn:
        h.dxfer_direction = SG_DXFER_FROM_DEV;
        break;
      case DataDirection::kOut:
        h.dxfer_direction = SG_DXFER_TO_DEV;
        break;
    }
    if (request.direction != DataDirection::kNone) {
      h.dxfer_len = static_cast<unsigned>(request.data.size());
      h.dxferp = request.data.data();
    }
    if (::ioctl(fd_.get(), SG_IO, &h) < 0) return PosixError("SG_IO " + path_, errno);
    reply.scsiStatus = h.status;
    reply.hostStatus = static_cast<std::uint8_t>(h.host_status);
    reply.driverStatus = static_cast<std::uint8_t>(h.driver_status);
    reply.senseLength = h.sb_len_wr;
    reply.residual = static_cast<std::uint32_t>(std::max(h.resid, 0));
    return reply;
  }

  Status ReadAt(std::uint64_t byteOffset, std::span<std::uint8_t> out) override {
    if (byteOffset > static_cast<std::uint64_t>(LLONG_MAX))
      return PosixError("read " + path_, EINVAL);
    ssize_t n = PreadFull(fd_.get(), out, byteOffset);
    if (n < 0) return PosixError("read " + path_, errno);
    if (static_cast<std::size_t>(n) < out.size())
      return PosixError("read " + path_ + " past its end", EIO);
    return {};
  }

  Result<std::uint32_t> LogicalBlockBytes() override {
    int size = 0;
    if (::ioctl(fd_.get(), BLKSSZGET, &size) == 0 && size > 0)
      return static_cast<std::uint32_t>(size);
    int err = errno;
    if (IsImageFile()) return std::uint32_t{512};
    return PosixError("logical block size of " + path_, err);
  }

  // O_DIRECT for this one read, so the page cache (which every other open handle and mounted
  // partition keeps filled) cannot answer it in the drive's place.
  Status ReadMedium(std::uint64_t lba, std::span<std::uint8_t> out) override {
    auto block = LogicalBlockBytes();
    if (!block.ok()) return block.status();
    if (Status s = CheckMediumRead(path_, lba, out, *block); !s.ok()) return s;
    const std::uint64_t offset = lba * *block;
    int flags = ::fcntl(fd_.get(), F_GETFL);
    if (flags < 0) return PosixError("flags of " + path_, errno);
    bool direct = ::fcntl(fd_.get(), F_SETFL, flags | O_DIRECT) == 0;
    int err = errno;
    ssize_t n = -1;
    if (direct) {
      n = PreadFull(fd_.get(), out, offset);
      err = errno;
      ::fcntl(fd_.get(), F_SETFL, flags);
    }
    // An image file on a file system without direct I/O (tmpfs) has no medium to bypass to.
    if (n < 0 && err == EINVAL && IsImageFile()) {
      n = PreadFull(fd_.get(), out, offset);
      err = errno;
    }
    if (n < 0) return PosixError("direct read " + path_, err);
    if (static_cast<std::size_t>(n) < out.size())
      return PosixError("read " + path_ + " past its end", EIO);
    return {};
  }

  Result<std::uint64_t> SizeBytes() override {
    std::uint64_t size = 0;
    if (::ioctl(fd_.get(), BLKGETSIZE64, &size) == 0) return size;
    int err = errno;
    // A regular file stands for a disk image (tests, images given as drives).
    struct stat st {};
    if (::fstat(fd_.get(), &st) == 0 && S_ISREG(st.st_mode))
      return static_cast<std::uint64_t>(st.st_size);
    return PosixError("size of " + path_, err);
  }

  bool IsImageFile() const {
    struct stat st {};
    return ::fstat(fd_.get(), &st) == 0 && S_ISREG(st.st_mode);
  }

  Status CheckVerify() override {
    std::uint8_t cdb[6] = {};  // TEST UNIT READY
    auto reply =
        Scsi({.cdb = cdb, .direction = DataDirection::kNone, .data = {}, .timeoutSeconds = 10});
    if (!reply.ok()) return reply.status();
    if (!reply->Good()) return PosixError("TEST UNIT READY " + path_, EIO);
    return {};
  }

  Status AtaCommand(const AtaTaskFile& r, std::span<std::uint8_t> dataIn) override {
    return AtaPassThroughCommand(*this, r, dataIn);
  }

 private:
  UniqueFd fd_;
  std::string path_;
};

struct UdevUnref {
  void operator()(udev* u) const { udev_unref(u); }
};
struct EnumerateUnref {
  void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
};
struct DeviceUnref {
  void operator()(udev_device* d) const { udev_device_unref(d); }
};

std::string Prop(udev_device* d, const char* name) {
  const char* v = udev_device_get_property_value(d, name);
  return v ? v : "";
}

Result<std::string> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return PosixError("open " + path, errno ? errno : ENOENT);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string ProgramDirectory() {
  char buffer[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return "";
  std::string path(buffer, static_cast<std::size_t>(n));
  return path.substr(0, path.rfind('/') + 1);
}

Status WriteFileAtomically(const std::string& path, const std::string& text) {
  std::string dir = path.substr(0, path.rfind('/'));
  std::error_code ec;
  // Every user's session reads the entry, whatever umask the service runs with.
  if (!dir.empty() && std::filesystem::create_directories(dir, ec)) {
    std::filesystem::permissions(dir, std::filesystem::perms(0755), ec);
  }
  if (ec) return Status(ec.value(), "create " + dir);
  std::string temp = path + ".tmp";
  UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd.valid()) return PosixError("create " + temp, errno);
  if (::fchmod(fd.get(), 0644) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    return PosixError("chmod " + temp, err);
  }
  if (::write(fd.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    int err = errno ? errno : EIO;
    ::unlink(temp.c_str());
    return PosixError("write " + temp, err);
  }
  fd.reset();
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    return PosixError("rename " + temp, err);
  }
  return {};
}

class LinuxEnv final : public DeviceEnv {
 public:
  explicit LinuxEnv(LinuxEnvPaths paths) : paths_(std::move(paths)) {}
  ~LinuxEnv() override {
    if (hid_ready_) hid_exit();
  }

  Result<std::unique_ptr<Disk>> OpenDisk(int driveNumber, DiskAccess access) override {
    std::string path = DiskPath(driveNumber);
    if (path.empty()) return PosixError("drive " + std::to_string(driveNumber), ENOENT);
    int flags = (access == DiskAccess::kRead ? O_RDONLY : O_RDWR) | O_CLOEXEC;
    UniqueFd fd(::open(path.c_str(), flags));
    if (!fd.valid()) return PosixError("open " + path, errno);
    return std::unique_ptr<Disk>(std::make_unique<LinuxDisk>(std::move(fd), path));
  }

  Result<std::vector<DiskInterface>> ListDisks() override {
    std::vector<DiskInterface> disks;
    Status status = ForEachBlock([&](udev_device* d) {
      const char* devtype = udev_device_get_devtype(d);
      if (!devtype || std::string_view(devtype) != "disk") return;
      auto number = DriveNumberOf(udev_device_get_sysname(d));
      const char* node = udev_device_get_devnode(d);
      if (!number || !node) return;
      disks.push_back({*number, node, udev_device_get_syspath(d)});
    });
    if (!status.ok()) return status;
    return disks;
  }

  Result<ScsiAddress> GetScsiAddress(int driveNumber) override {
    return UdevScsiAddress(DiskName(driveNumber));
  }

  Result<std::vector<std::string>> ParentInstanceIds(int driveNumber) override {
    return UdevParentInstanceIds(DiskName(driveNumber));
  }

  Result<std::string> FriendlyName(int driveNumber) override {
    return UdevFriendlyName(DiskName(driveNumber));
  }

  // libata reaches S.M.A.R.T. on every adapter, so no adapter needs the SATA filter here and none
  // is offered for it.
  Result<std::optional<StoragePortInfo>> AdapterOf(int) override {
    return std::optional<StoragePortInfo>();
  }
  Result<std::vector<StoragePortInfo>> ListStoragePorts() override {
    return std::vector<StoragePortInfo>();
  }
  Result<std::optional<std::vector<std::uint8_t>>> ReadUpperFilters(const std::string&) override {
    return std::optional<std::vector<std::uint8_t>>();
  }
  Status WriteUpperFilters(const std::string& id, std::span<const std::uint8_t>) override {
    return PosixError("upper filters of " + id, ENOTSUP);
  }
  Result<std::unique_ptr<StoragePort>> OpenStoragePort(const std::string& path) override {
    return PosixError("storage port " + path, ENOTSUP);
  }

  Result<std::vector<HidInfo>> ListHid() override {
    if (!HidReady()) return PosixError("hid_init", EIO);
    std::vector<HidInfo> list;
    hid_device_info* all = hid_enumerate(0, 0);
    for (hid_device_info* i = all; i; i = i->next) {
      HidInfo info;
      std::string node = i->path ? i->path : "";
      // The interface's sysfs path names the panel from one scan to the next; the node does not.
      info.path = HidIdentityOfNode(paths_.sysDir, node);
      if (info.path.empty()) info.path = node;
      info.vendor = i->vendor_id;
      info.product = i->product_id;
      info.capsReadable = DescriptorReadable(node);
      list.push_back(std::move(info));
    }
    hid_free_enumeration(all);
    return list;
  }

  Result<std::unique_ptr<HidDevice>> OpenHid(const std::string& path) override {
    if (!HidReady()) return PosixError("hid_init", EIO);
    std::string node = HidNodeOfIdentity(paths_.sysDir, paths_.devDir, path);
    if (node.empty()) node = path;
    return OpenHidapiDevice(node, path);
  }

  // A scan asks once per drive; the list (a walk of every block device and a statvfs of every
  // mounted volume) is taken once and reused while the mounts stay as they are, for a short while.
  Result<std::vector<VolumeInfo>> ListVolumes() override {
    auto text = ReadWholeFile(paths_.mountInfo);
    if (!text.ok()) return text.status();
    std::lock_guard<std::mutex> lock(volumes_mutex_);
    auto now = std::chrono::steady_clock::now();
    if (volumes_ && *text == volumes_text_ && now - volumes_time_ < kVolumesReuse) return *volumes_;
    auto fresh = ScanVolumes(*text);
    if (!fresh.ok()) return fresh.status();
    volumes_ = *fresh;
    volumes_text_ = *text;
    volumes_time_ = now;
    return fresh;
  }

 private:
  static constexpr std::chrono::seconds kVolumesReuse{2};

  Result<std::vector<VolumeInfo>> ScanVolumes(const std::string& mountInfoText) {
    std::vector<MountEntry> mounts = ParseMountInfo(mountInfoText);
    std::vector<VolumeInfo> volumes;
    Status status = ForEachBlock([&](udev_device* d) {
      const char* devtype = udev_device_get_devtype(d);
      const char* node = udev_device_get_devnode(d);
      if (!devtype || !node) return;
      bool whole = std::string_view(devtype) == "disk";
      udev_device* disk =
          whole ? d : udev_device_get_parent_with_subsystem_devtype(d, "block", "disk");
      if (!disk) return;
      auto number = DriveNumberOf(udev_device_get_sysname(disk));
      if (!number || *number > kMaxDrive) return;
      const MountEntry* mount = FindMount(mounts, udev_device_get_devnum(d), node);
      if (!mount) return;
      VolumeInfo v;
      v.driveNumber = *number;
      if (!whole) {
        const char* part = udev_device_get_sysattr_value(d, "partition");
        v.partition = part ? std::atoi(part) : 0;
      }
      v.mountPoint = mount->mountPoint;
      v.label = VolumeLabel(Prop(d, "ID_FS_LABEL_ENC"), Prop(d, "ID_FS_LABEL"),
                            AnsiCodePage(SystemLanguage()));
      v.fileSystem =
          WindowsFileSystemName(mount->fsType, Prop(d, "ID_FS_TYPE"), Prop(d, "ID_FS_VERSION"));
      v.readWrite = !mount->readOnly;
      volumes.push_back(std::move(v));
    });
    if (!status.ok()) return status;
    std::vector<std::string> mountPoints;
    for (const VolumeInfo& v : volumes) mountPoints.push_back(v.mountPoint);
    std::vector<Result<SpaceInfo>> spaces = FreeSpaces(mountPoints);
    for (std::size_t i = 0; i < volumes.size(); ++i) {
      if (!spaces[i].ok()) continue;
      volumes[i].totalBytes = spaces[i]->totalBytes;
      volumes[i].freeBytes = spaces[i]->freeBytes;
    }
    std::sort(volumes.begin(), volumes.end(), [](const VolumeInfo& a, const VolumeInfo& b) {
      return std::tie(a.driveNumber, a.partition) < std::tie(b.driveNumber, b.partition);
    });
    return volumes;
  }

 public:
  // Bounded: statvfs of a mount whose disk stopped answering blocks until the kernel gives up.
  Result<SpaceInfo> FreeSpace(const std::string& path) override {
    return std::move(FreeSpaces({path}).front());
  }

  std::vector<Result<SpaceInfo>> FreeSpaces(const std::vector<std::string>& paths) override {
    std::vector<SpaceQuery> queries;
    for (const std::string& path : paths) {
      queries.push_back({"statvfs " + path, [path]() -> Result<SpaceInfo> {
                           struct statvfs s {};
                           if (::statvfs(path.c_str(), &s) != 0)
                             return PosixError("statvfs " + path, errno);
                           return SpaceInfo{static_cast<std::uint64_t>(s.f_blocks) * s.f_frsize,
                                            static_cast<std::uint64_t>(s.f_bavail) * s.f_frsize};
                         }});
    }
    return BoundedSpaceQueries(std::move(queries));
  }

  Status MakeDirectory(const std::string& path) override {
    if (::mkdir(path.c_str(), 0755) != 0) return PosixError("create " + path, errno);
    return {};
  }

  Status SetHidden(const std::string& path) override {
    return HiddenAttribute(path, true, nullptr);
  }

  // The service opens the folder itself without following links; acting on that descriptor
  // keeps a name swapped in meanwhile (a FIFO, a link) from being opened as root.
  Status SetHiddenAt(int fd, const std::string& path) override {
    return HiddenAttributeOf(fd, path, true, nullptr);
  }

  Result<bool> IsHidden(const std::string& path) override {
    bool hidden = false;
    Status status = HiddenAttribute(path, false, &hidden);
    if (!status.ok()) return status;
    return hidden;
  }

  Status AppendToFile(const std::string& path, std::span<const std::uint8_t> data) override {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (!fd.valid()) return PosixError("open " + path, errno);
    if (int err = WriteAll(fd.get(), data); err != 0) return PosixError("write " + path, err);
    return {};
  }

  Status RemoveFile(const std::string& path) override {
    if (::unlink(path.c_str()) != 0) return PosixError("delete " + path, errno);
    return {};
  }

  Status SetAutostart(bool on) override {
    if (!on) {
      if (::unlink(paths_.autostartFile.c_str()) != 0 && errno != ENOENT)
        return PosixError("delete " + paths_.autostartFile, errno);
      return {};
    }
    // The program sits beside the running one, as the system has always installed them; when it
    // does not, the desktop's search path finds it.
    std::string exec = ProgramDirectory() + "KuvLcdManager";
    if (::access(exec.c_str(), X_OK) != 0) exec = "KuvLcdManager";
    return WriteFileAtomically(paths_.autostartFile, AutostartDesktopEntry(exec));
  }

  Result<bool> AutostartRegistered() override {
    if (::access(paths_.autostartFile.c_str(), F_OK) == 0) return true;
    if (errno == ENOENT) return false;
    return PosixError("autostart entry " + paths_.autostartFile, errno);
  }

  void Sleep(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }

 private:
  std::string DiskName(int driveNumber) const {
    for (const auto& [name, number] : paths_.extraDrives)
      if (number == driveNumber) return name;
    return SdName(driveNumber);
  }

  std::optional<int> DriveNumberOf(std::string_view name) const {
    if (auto extra = paths_.extraDrives.find(std::string(name)); extra != paths_.extraDrives.end())
      return extra->second;
    return SdNumber(name);
  }

  std::string DiskPath(int driveNumber) const {
    std::string name = DiskName(driveNumber);
    return name.empty() ? "" : paths_.devDir + "/" + name;
  }

  bool HidReady() {
    std::call_once(hid_once_, [this] { hid_ready_ = hid_init() == 0; });
    return hid_ready_;
  }

  static bool DescriptorReadable(const std::string& path) {
    std::string_view name(path);
    std::size_t slash = name.rfind('/');
    if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
    std::ifstream in("/sys/class/hidraw/" + std::string(name) + "/device/report_descriptor",
                     std::ios::binary);
    return in && in.peek() != std::ifstream::traits_type::eof();
  }

  template <typename F>
  static Status ForEachBlock(F&& visit) {
    std::unique_ptr<udev, UdevUnref> u(udev_new());
    if (!u) return PosixError("udev_new", errno ? errno : ENOMEM);
    std::unique_ptr<udev_enumerate, EnumerateUnref> e(udev_enumerate_new(u.get()));
    if (!e) return PosixError("udev_enumerate_new", errno ? errno : ENOMEM);
    udev_enumerate_add_match_subsystem(e.get(), "block");
    if (udev_enumerate_scan_devices(e.get()) < 0) return PosixError("udev scan", EIO);
    for (udev_list_entry* i = udev_enumerate_get_list_entry(e.get()); i;
         i = udev_list_entry_get_next(i)) {
      std::unique_ptr<udev_device, DeviceUnref> d(
          udev_device_new_from_syspath(u.get(), udev_list_entry_get_name(i)));
      if (d) visit(d.get());
    }
    return {};
  }

  // The mount of the whole file system on a block device: matched by device number, or by source
  // path for FUSE mounts (ntfs-3g), whose device number is FUSE's own.
  static const MountEntry* FindMount(const std::vector<MountEntry>& mounts, dev_t devnum,
                                     const char* node) {
    const MountEntry* found = nullptr;
    for (const MountEntry& m : mounts) {
      bool same = (makedev(m.major, m.minor) == devnum) || m.source == node;
      if (!same) continue;
      if (m.root == "/") return &m;
      if (!found) found = &m;
    }
    return found;
  }

  // Reads (want == false) or sets the hidden attribute of FAT and NTFS; other file systems have
  // none, which is not an error.
  static Status HiddenAttribute(const std::string& path, bool set, bool* hidden) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return PosixError("open " + path, errno);
    return HiddenAttributeOf(fd.get(), path, set, hidden);
  }

  static Status HiddenAttributeOf(int fd, const std::string& path, bool set, bool* hidden) {
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0) return PosixError("statfs " + path, errno);
    if (fs.f_type == MSDOS_SUPER_MAGIC) {
      std::uint32_t attrs = 0;
      if (::ioctl(fd, FAT_IOCTL_GET_ATTRIBUTES, &attrs) != 0)
        return PosixError("FAT attributes of " + path, errno);
      if (hidden) *hidden = (attrs & ATTR_HIDDEN) != 0;
      if (set && !(attrs & ATTR_HIDDEN)) {
        attrs |= ATTR_HIDDEN;
        AsOwnerOf owner(fd);
        if (::ioctl(fd, FAT_IOCTL_SET_ATTRIBUTES, &attrs) != 0)
          return PosixError("set FAT attributes of " + path, errno);
      }
      return {};
    }
    if (fs.f_type == kFuseMagic || fs.f_type == kNtfs3Magic) {
      std::uint8_t be[4] = {};
      ssize_t n = ::fgetxattr(fd, kNtfsAttrib, be, sizeof be);
      if (n != 4) {
        // A FUSE file system that is not NTFS keeps no such attribute.
        if (n < 0 && (errno == ENODATA || errno == ENOTSUP)) return {};
        return PosixError("NTFS attributes of " + path, n < 0 ? errno : EIO);
      }
      std::uint32_t attrs = (std::uint32_t{be[0]} << 24) | (std::uint32_t{be[1]} << 16) |
                            (std::uint32_t{be[2]} << 8) | be[3];
      if (hidden) *hidden = (attrs & kNtfsHidden) != 0;
      if (set && !(attrs & kNtfsHidden)) {
        be[3] = static_cast<std::uint8_t>(be[3] | kNtfsHidden);
        AsOwnerOf owner(fd);
        if (::fsetxattr(fd, kNtfsAttrib, be, sizeof be, 0) != 0)
          return PosixError("set NTFS attributes of " + path, errno);
      }
      return {};
    }
    if (hidden) *hidden = false;
    return {};
  }

  LinuxEnvPaths paths_;
  std::mutex volumes_mutex_;
  std::optional<std::vector<VolumeInfo>> volumes_;
  std::string volumes_text_;
  std::chrono::steady_clock::time_point volumes_time_;
  std::once_flag hid_once_;
  bool hid_ready_ = false;
};

}  // namespace

std::unique_ptr<DeviceEnv> NewLinuxEnv(LinuxEnvPaths paths) {
  return std::make_unique<LinuxEnv>(std::move(paths));
}

}  // namespace kuv
