#include "app/compose/drive_name.h"

#include <gtest/gtest.h>

#include "common/utf16.h"

namespace kuv {
namespace {

TEST(ShortDriveName, LastComponentOfTheMountPointThenADifferentLabel) {
  struct Case {
    const char* driveLetter;
    const char* label;
    const char* name;
  };
  for (const auto& c : {
           Case{"/media/user/USB-HDD", "USB-HDD", "USB-HDD"},
           Case{"/media/user/USB-HDD", "", "USB-HDD"},
           Case{"/mnt/tray", "BACKUP", "tray BACKUP"},
           Case{"/mnt/tray//", "BACKUP", "tray BACKUP"},
           Case{"/mnt/tray/", "tray", "tray"},
           Case{"/", "", "/"},
           Case{"/", "ROOT", "/ ROOT"},
           Case{"//", "", "/"},
           Case{"/media/user/My Disk", "My Disk", "My Disk"},
           Case{"/media/user/Tray", "tray", "Tray tray"},
           Case{"-", "", "-"},
           Case{"", "", ""},
           Case{"E:", "DATA", "E:DATA"},
           Case{"E:\\", "DATA", "E:DATA"},
           Case{"Z:\\tmp\\world\\volumes\\BACKUP", "BACKUP", "BACKUP"},
           Case{"E:\\mounts\\tray\\", "BACKUP", "tray BACKUP"},
           Case{"E:/mounts/tray", "", "tray"},
       }) {
    EXPECT_EQ(Utf16ToUtf8(ShortDriveName(Utf8ToUtf16(c.driveLetter), Utf8ToUtf16(c.label))), c.name)
        << "'" << c.driveLetter << "' '" << c.label << "'";
  }
}

}  // namespace
}  // namespace kuv
