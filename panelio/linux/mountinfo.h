#pragma once
// A reader of /proc/self/mountinfo, the kernel's list of mounts with the device of each.

#include <string>
#include <string_view>
#include <vector>

namespace kuv {

struct MountEntry {
  unsigned major = 0;
  unsigned minor = 0;
  std::string root;        // the part of the file system mounted here, "/" for all of it
  std::string mountPoint;  // unescaped
  std::string fsType;      // "vfat", "ntfs3", "fuseblk" ...
  std::string source;      // "/dev/sdb1", unescaped
  // Writes are refused here: the mount or its file system as a whole is read-only.
  bool readOnly = false;
};

// Every well-formed line of text, in order. Malformed lines are skipped; octal escapes ("\040" for
// a space) are undone in paths.
std::vector<MountEntry> ParseMountInfo(std::string_view text);

}  // namespace kuv
