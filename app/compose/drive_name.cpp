#include "app/compose/drive_name.h"

namespace kuv {

namespace {

bool IsWindowsSeparator(char16_t c) {
  return c == u'\\' || c == u'/';
}

// "E:" followed by a separator: a Windows path from a drive's root.
bool StartsAtDriveRoot(std::u16string_view path) {
  return path.size() >= 3 && path[1] == u':' && IsWindowsSeparator(path[2]);
}

}  // namespace

std::u16string ShortDriveName(std::u16string_view driveLetter, std::u16string_view volumeLabel) {
  // "E:\" is the drive letter itself, shown as the Windows programs show "E:".
  if (driveLetter.size() == 3 && StartsAtDriveRoot(driveLetter)) driveLetter.remove_suffix(1);
  // A folder a volume is mounted on: "/mnt/tray", or on Windows "E:\mounts\tray".
  const bool windowsFolder = StartsAtDriveRoot(driveLetter);
  if (!windowsFolder && (driveLetter.empty() || driveLetter.front() != u'/')) {
    return std::u16string(driveLetter) + std::u16string(volumeLabel);
  }
  const std::u16string_view separators = windowsFolder ? u"\\/" : u"/";
  while (driveLetter.size() > 1 && separators.find(driveLetter.back()) != separators.npos) {
    driveLetter.remove_suffix(1);
  }
  std::u16string_view last =
      driveLetter == u"/" ? driveLetter
                          : driveLetter.substr(driveLetter.find_last_of(separators) + 1);
  std::u16string name(last);
  if (!volumeLabel.empty() && volumeLabel != last) {
    name += u' ';
    name += volumeLabel;
  }
  return name;
}

std::u16string ShortDriveName(const DriveRecord& drive) {
  return ShortDriveName(FieldView(drive.driveLetter), FieldView(drive.volumeLabel));
}

}  // namespace kuv
