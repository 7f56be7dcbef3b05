// The paths of commands 5, 6 and 7 as the Windows programs write them, checked on every platform
// (the rule is plain code; only the service on Windows meets such paths).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/utf16.h"
#include "panelsvc/request_policy.h"

namespace kuv::svc {
namespace {

struct PathCase {
  std::int32_t command;
  std::u16string path;
  const char* mountPoint;  // the one it matched; null when refused
};

TEST(WindowsTargetPaths, OnlyTheFolderAndItsFilesOfAListedVolume) {
  const std::vector<std::string> mounts = {"E:\\", "c:\\Mount\\Disk\\"};
  const std::vector<PathCase> cases = {
      {5, u"E:\\TAVIO_LCDMANAGER", "E:\\"},
      {5, u"e:\\TAVIO_LCDMANAGER", "E:\\"},
      {5, u"C:\\Mount\\Disk\\TAVIO_LCDMANAGER", "C:\\Mount\\Disk"},
      {5, u"C:\\MOUNT\\disk\\TAVIO_LCDMANAGER", "C:\\Mount\\Disk"},
      {7, u"E:\\TAVIO_LCDMANAGER\\LCD_DATA.TXT", "E:\\"},
      {7, u"E:\\TAVIO_LCDMANAGER\\QR_DATA.TXT", "E:\\"},
      {7, u"E:\\TAVIO_LCDMANAGER\\LCD_IMAGE.BMP", "E:\\"},
      {6, u"E:\\TAVIO_LCDMANAGER\\QR_DATA.TXT", "E:\\"},
      // Not a volume's folder, or not one of the system's names.
      {5, u"D:\\TAVIO_LCDMANAGER", nullptr},
      {5, u"C:\\Mount\\TAVIO_LCDMANAGER", nullptr},
      {5, u"C:\\Mount\\Disk.\\TAVIO_LCDMANAGER", nullptr},
      {5, u"C:\\Mount/Disk\\TAVIO_LCDMANAGER", nullptr},
      {5, u"C:\\TAVIO_LCDMANAGER", nullptr},
      {5, u"E:\\TAVIO_LCDMANAGER\\LCD_DATA.TXT", nullptr},
      {7, u"E:\\TAVIO_LCDMANAGER", nullptr},
      {7, u"E:\\TAVIO_LCDMANAGER\\desktop.ini", nullptr},
      {7, u"E:\\Windows\\TAVIO_LCDMANAGER\\LCD_DATA.TXT", nullptr},
      // Other spellings Windows would resolve somewhere else.
      {5, u"E:TAVIO_LCDMANAGER", nullptr},
      {5, u"E:/TAVIO_LCDMANAGER", nullptr},
      {5, u"E:\\TAVIO_LCDMANAGER\\", nullptr},
      {5, u"E:\\\\TAVIO_LCDMANAGER", nullptr},
      {5, u"\\TAVIO_LCDMANAGER", nullptr},
      {5, u"\\\\?\\E:\\TAVIO_LCDMANAGER", nullptr},
      {5, u"\\\\server\\share\\TAVIO_LCDMANAGER", nullptr},
      {5, u"\\\\.\\E:\\TAVIO_LCDMANAGER", nullptr},
      {5, u"E:\\TAVIO_LCDMANAGER.", nullptr},
      {5, u"E:\\TAVIO_LCDMANAGER ", nullptr},
      {7, u"E:\\TAVIO_LCDMANAGER\\LCD_DATA.TXT.", nullptr},
      {7, u"E:\\TAVIO_LCDMANAGER\\LCD_DATA.TXT::$DATA", nullptr},
      {7, u"E:\\TAVIO_LCDMANAGER\\LCD_DATA.TXT:hidden", nullptr},
      {7, u"E:\\TAVIO_LCDMANAGER\\..\\TAVIO_LCDMANAGER\\LCD_DATA.TXT", nullptr},
      {7, u"E:\\x\\..\\TAVIO_LCDMANAGER\\LCD_DATA.TXT", nullptr},
      {7, u"E:\\.\\TAVIO_LCDMANAGER\\LCD_DATA.TXT", nullptr},
      {7, u"E:\\TAVIO_LCDMANAGER\\LCD_DATA*.TXT", nullptr},
      {7, u"E:\\TAVIO_LCDMANAGER\\LCD_DATA.TXT\x0001", nullptr},
      {5, u"/media/u/DISK/TAVIO_LCDMANAGER", nullptr},
      {5, u"", nullptr},
  };
  for (const auto& c : cases) {
    TargetCheck check = CheckTargetPath(c.command, c.path, mounts, PathStyle::kWindows);
    const std::string shown = Utf16ToUtf8(c.path);
    ASSERT_EQ(check.target.has_value(), c.mountPoint != nullptr)
        << "command " << c.command << " path " << shown << ": " << check.refusal;
    if (check.target) {
      EXPECT_EQ(check.target->mountPoint, c.mountPoint) << shown;
      EXPECT_EQ(check.target->path, shown);
    } else {
      EXPECT_FALSE(check.refusal.empty()) << shown;
    }
  }
}

}  // namespace
}  // namespace kuv::svc
