#include "panelio/linux/linux_env.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "panelio/autostart_entry.h"
#include "panelio/env_test_support.h"
#include "panelio/linux/drive_names.h"
#include "panelio/linux/hid_identity.h"
#include "panelio/linux/mountinfo.h"
#include "panelio/linux/udev_walk.h"
#include "panelio/panelio.h"

namespace kuv {
namespace {

TEST(DriveNames, NumberAndNameRoundTrip) {
  const struct {
    int number;
    const char* name;
  } cases[] = {{0, "sda"},   {1, "sdb"},   {25, "sdz"},  {26, "sdaa"},  {27, "sdab"},
               {31, "sdaf"}, {51, "sdaz"}, {52, "sdba"}, {701, "sdzz"}, {702, "sdaaa"}};
  for (const auto& c : cases) {
    EXPECT_EQ(SdName(c.number), c.name);
    EXPECT_EQ(SdNumber(c.name), c.number) << c.name;
  }
  EXPECT_EQ(SdName(-1), "");
  for (const char* notADisk : {"sda1", "sd", "vda", "sdA", "nvme0n1", "sdaaaaa", ""})
    EXPECT_FALSE(SdNumber(notADisk).has_value()) << notADisk;
}

TEST(MountInfo, ParsesFieldsAndUndoesEscapes) {
  const char* text =
      "36 35 8:17 / /media/user/My\\040Disk rw,nosuid shared:1 - ntfs3 /dev/sdb1 rw,uid=1000\n"
      "37 35 8:33 /sub /mnt/tab\\011and\\134slash rw - vfat /dev/sdc1 rw\n"
      "38 35 0:52 / /media/fuse rw,relatime - fuseblk /dev/sdd1 rw,user_id=0\n"
      "garbage line without enough fields\n"
      "39 35 8:x / /bad rw - ext4 /dev/sde1 rw\n"
      "40 35 8:49 / /no-dash rw master:2 ext4 /dev/sdf1 rw\n"
      "41 35 8:65 / /trailing\\04 rw - ext4 /dev/sdg1 rw";
  std::vector<MountEntry> m = ParseMountInfo(text);
  ASSERT_EQ(m.size(), 4u);
  EXPECT_EQ(m[0].major, 8u);
  EXPECT_EQ(m[0].minor, 17u);
  EXPECT_EQ(m[0].mountPoint, "/media/user/My Disk");
  EXPECT_EQ(m[0].fsType, "ntfs3");
  EXPECT_EQ(m[0].source, "/dev/sdb1");
  EXPECT_EQ(m[1].root, "/sub");
  EXPECT_EQ(m[1].mountPoint, "/mnt/tab\tand\\slash");
  EXPECT_EQ(m[2].fsType, "fuseblk");
  EXPECT_EQ(m[3].mountPoint, "/trailing\\04");  // a cut escape stays as written
}

// Writes are refused when the mount or the whole file system says "ro"; an option that merely
// holds the letters ("errors=remount-ro", "roll_forward") does not make a volume read-only.
TEST(MountInfo, ReadOnlyFromTheMountOrTheFileSystem) {
  const struct {
    const char* line;
    bool readOnly;
  } cases[] = {
      {"36 35 8:17 / /m rw,relatime - ext4 /dev/sdb1 rw,errors=remount-ro", false},
      {"36 35 8:17 / /m ro,relatime - xfs /dev/sdb1 ro,inode64", true},
      {"36 35 8:17 / /m rw,relatime shared:1 - ext4 /dev/sdb1 ro,errors=remount-ro", true},
      {"36 35 8:17 /sub /m ro,nosuid master:2 - btrfs /dev/sdb1 rw,space_cache=v2", true},
      {"36 35 8:17 / /m rw,root=0 - f2fs /dev/sdb1 rw,roll_forward", false},
      {"36 35 8:17 / /m rw - vfat /dev/sdb1", false},  // no options of the file system at all
  };
  for (const auto& c : cases) {
    std::vector<MountEntry> m = ParseMountInfo(c.line);
    ASSERT_EQ(m.size(), 1u) << c.line;
    EXPECT_EQ(m[0].readOnly, c.readOnly) << c.line;
  }
}

TEST(MountInfo, ReadsThisMachinesTable) {
  std::string text = devtest::ReadAll("/proc/self/mountinfo");
  if (text.empty()) GTEST_SKIP() << "no /proc/self/mountinfo here";
  std::vector<MountEntry> m = ParseMountInfo(text);
  EXPECT_FALSE(m.empty());
  EXPECT_TRUE(
      std::any_of(m.begin(), m.end(), [](const MountEntry& e) { return e.mountPoint == "/"; }));
}

TEST(WindowsFileSystemName, AsWindowsNamesThem) {
  const struct {
    const char *mount, *probed, *version, *expected;
  } cases[] = {{"ntfs3", "ntfs", "", "NTFS"},
               {"ntfs", "", "", "NTFS"},
               {"fuseblk", "ntfs", "", "NTFS"},
               {"fuseblk", "exfat", "", "exFAT"},
               {"vfat", "vfat", "FAT32", "FAT32"},
               {"vfat", "vfat", "FAT16", "FAT"},
               {"vfat", "", "", "FAT"},
               {"exfat", "exfat", "1.0", "exFAT"},
               {"ext4", "ext4", "1.0", "ext4"},
               {"fuseblk", "", "", "fuseblk"}};
  for (const auto& c : cases)
    EXPECT_EQ(WindowsFileSystemName(c.mount, c.probed, c.version), c.expected) << c.mount;
}

// A sysfs tree as the kernel lays it out: class/hidraw/<node> links to the node under its HID
// device, whose name carries a sequence number, under the USB interface.
void PlugHid(const std::string& sys, const std::string& node, const std::string& interface,
             const std::string& hidDevice) {
  namespace fs = std::filesystem;
  fs::path dev = fs::path(sys) / "devices" / interface / hidDevice;
  fs::create_directories(dev / "hidraw" / node);
  fs::create_directories(fs::path(sys) / "class/hidraw");
  fs::create_symlink(dev / "hidraw" / node, fs::path(sys) / "class/hidraw" / node);
  fs::create_symlink(dev, dev / "hidraw" / node / "device");
}

TEST(HidIdentity, FollowsThePanelAcrossARenumberingReplug) {
  devtest::TempDir root;
  std::string sys = root.path() + "/sys";
  PlugHid(sys, "hidraw1", "usb1/1-2/1-2:1.0", "0003:3E5B:1110.0001");
  std::string identity = HidIdentityOfNode(sys, "/dev/hidraw1");
  EXPECT_EQ(identity, std::filesystem::canonical(sys + "/devices/usb1/1-2/1-2:1.0").string());
  EXPECT_EQ(HidNodeOfIdentity(sys, "/dev", identity), "/dev/hidraw1");

  // Replugged: a keyboard took hidraw1, the panel came back as hidraw2 on the same interface.
  std::filesystem::remove_all(sys);
  PlugHid(sys, "hidraw1", "usb1/1-3/1-3:1.0", "0003:046D:C31C.0002");
  PlugHid(sys, "hidraw2", "usb1/1-2/1-2:1.0", "0003:3E5B:1110.0003");
  EXPECT_EQ(HidNodeOfIdentity(sys, "/dev", identity), "/dev/hidraw2");
  EXPECT_NE(HidIdentityOfNode(sys, "/dev/hidraw1"), identity);

  // Unplugged, or never known.
  std::filesystem::remove_all(sys + "/class/hidraw/hidraw2");
  EXPECT_EQ(HidNodeOfIdentity(sys, "/dev", identity), "");
  EXPECT_EQ(HidIdentityOfNode(sys, "/dev/hidraw9"), "");
  EXPECT_EQ(HidIdentityOfNode(sys, "/dev/sda"), "");
  EXPECT_EQ(HidNodeOfIdentity(sys, "/dev", ""), "");
}

TEST(VolumeLabel, UndoesUdevEscapesAndDecodesFatCodePageBytes) {
  const struct {
    const char *encoded, *plain;
    CodePage codePage;
    const char* expected;
  } cases[] = {{"My\\x20Disk", "My_Disk", CodePage::kWindows1252, "My Disk"},
               {"", "My_Disk", CodePage::kWindows1252, "My_Disk"},
               {"", "", CodePage::kWindows1252, ""},
               {"a\\x5cb", "a_b", CodePage::kWindows1252, "a\\b"},
               {"Caf\\xc3\\xa9", "Caf__", CodePage::kCp932, "Caf\xc3\xa9"},
               {"under_score", "under_score", CodePage::kWindows1252, "under_score"},
               {"bad\\x2", "bad_x2", CodePage::kWindows1252, "bad\\x2"},
               {"bad\\xZZ", "bad_xZZ", CodePage::kWindows1252, "bad\\xZZ"},
               {"cut\\x00here", "cut", CodePage::kWindows1252, "cut"},
               // A FAT label keeps the bytes of the code page it was written in.
               {"\\x83e\\x83X\\x83g", "_e_X_g", CodePage::kCp932, "テスト"},
               {"Caf\\xe9", "Caf_", CodePage::kWindows1252, "Café"},
               {"\\x83e\\x83X", "_e_X", CodePage::kWindows1252, "ƒeƒX"}};
  for (const auto& c : cases) {
    EXPECT_EQ(VolumeLabel(c.encoded, c.plain, c.codePage), c.expected) << c.encoded;
  }
}

// The label of a FAT volume written on a Japanese system, as udev's probe reports it.
TEST(VolumeLabel, AJapaneseFatLabelAsTheProbeReportsIt) {
  devtest::TempDir dir;
  const std::string image = dir.path() + "/fat.img";
  std::ofstream(image).close();
  std::filesystem::resize_file(image, 8 << 20);
  if (std::system(("mkfs.fat -n KUVLABELXYZ " + image + " >/dev/null 2>&1").c_str()) != 0) {
    GTEST_SKIP() << "mkfs.fat is not installed";
  }
  // "テスト" in CP932, padded with blanks: in the boot sector and the root folder's entry.
  std::string bytes;
  {
    std::ifstream in(image, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  const std::string label = "KUVLABELXYZ";
  const std::string japanese = "\x83\x65\x83\x58\x83\x67     ";
  int replaced = 0;
  for (std::size_t at = bytes.find(label); at != std::string::npos; at = bytes.find(label, at)) {
    bytes.replace(at, label.size(), japanese);
    ++replaced;
  }
  ASSERT_GT(replaced, 0);
  std::ofstream(image, std::ios::binary) << bytes;
  const std::string out = dir.path() + "/probe";
  if (std::system(("blkid -p -o udev " + image + " >" + out + " 2>/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "blkid is not installed";
  }
  std::map<std::string, std::string> props;
  std::ifstream probe(out);
  for (std::string line; std::getline(probe, line);) {
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos) props[line.substr(0, eq)] = line.substr(eq + 1);
  }
  EXPECT_EQ(VolumeLabel(props["ID_FS_LABEL_ENC"], props["ID_FS_LABEL"], CodePage::kCp932),
            "テスト");
}

// Whatever block devices this machine has, walking their udev parents must answer cleanly.
TEST(UdevWalk, BlockDevicesOfThisMachine) {
  std::error_code ec;
  int seen = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/sys/block", ec)) {
    std::string name = entry.path().filename().string();
    ++seen;
    auto parents = UdevParentInstanceIds(name);
    ASSERT_TRUE(parents.ok()) << name << ": " << parents.status().ToString();
    for (const std::string& id : *parents) EXPECT_EQ(id.rfind("USB\\VID_", 0), 0u) << id;
    EXPECT_TRUE(UdevFriendlyName(name).ok()) << name;
    auto address = UdevScsiAddress(name);
    if (!address.ok()) {
      EXPECT_EQ(address.status().code(), ENODEV) << name;
    }
  }
  if (seen == 0) GTEST_SKIP() << "no block devices visible";
  EXPECT_FALSE(UdevParentInstanceIds("sdzzz").ok());
}

TEST(LinuxEnv, DiskOpenErrorsKeepTheSystemsReason) {
  devtest::TempDir dir;
  LinuxEnvPaths paths;
  paths.devDir = dir.path();
  auto env = NewLinuxEnv(paths);
  auto missing = env->OpenDisk(0, DiskAccess::kRead);
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.status().code(), ENOENT);
  EXPECT_NE(missing.status().ToString().find("/sda"), std::string::npos);

  // A node that is not a SCSI device: it opens, but SCSI commands cannot be delivered.
  devtest::WriteAll(dir.path() + "/sda", std::string(4096, '\0'));
  auto disk = env->OpenDisk(0, DiskAccess::kReadWrite);
  ASSERT_TRUE(disk.ok());
  std::uint8_t cdb[6] = {};
  EXPECT_FALSE((*disk)->Scsi({.cdb = cdb}).ok());
  EXPECT_FALSE((*disk)->CheckVerify().ok());
  std::uint8_t sector[512];
  EXPECT_FALSE((*disk)->AtaCommand({.command = 0xEC}, sector).ok());

  ::chmod((dir.path() + "/sda").c_str(), 0);
  if (::geteuid() != 0) {
    EXPECT_EQ(env->OpenDisk(0, DiskAccess::kRead).status().code(), EACCES);
  }
}

TEST(LinuxEnv, NoAdapterNeedsTheFilter) {
  auto env = NewLinuxEnv();
  EXPECT_TRUE(env->ListStoragePorts()->empty());
  EXPECT_FALSE(env->AdapterOf(0)->has_value());
  const std::uint8_t list[] = {0, 0};
  EXPECT_EQ(env->WriteUpperFilters("PCI\\VEN_1095&DEV_3132", list).code(), ENOTSUP);
  // libata reaches S.M.A.R.T. on every adapter: nothing to register, every drive answers 4.
  ScopedEnvOverride use(*env);
  EXPECT_EQ(ModifyFilterSilHost(1), 0);
  EXPECT_EQ(AddFilterSilHost(), 0);
  for (std::uint32_t drive : {0u, 31u}) EXPECT_EQ(DoesExistSATAFilter(drive), 4u);
}

TEST(LinuxEnv, AutostartEntryQuotesTheProgramPath) {
  std::string entry = AutostartDesktopEntry("/opt/my $dir/KuvLcdManager");
  EXPECT_NE(entry.find("Exec=\"/opt/my \\\\$dir/KuvLcdManager\"\n"), std::string::npos) << entry;
  EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0u);
}

TEST(LinuxEnv, EveryUserMayReadTheAutostartEntryWhateverTheServicesUmask) {
  devtest::TempDir dir;
  LinuxEnvPaths paths;
  paths.autostartFile = dir.path() + "/xdg/autostart/KuvLcdManager.desktop";
  const mode_t umask = ::umask(077);
  const Status status = NewLinuxEnv(paths)->SetAutostart(true);
  ::umask(umask);
  ASSERT_TRUE(status.ok()) << status.ToString();
  struct stat st {};
  ASSERT_EQ(::stat(paths.autostartFile.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  ASSERT_EQ(::stat((dir.path() + "/xdg/autostart").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
}

}  // namespace
}  // namespace kuv
