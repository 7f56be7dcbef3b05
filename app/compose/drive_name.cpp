#include "app/compose/drive_name.h"

namespace kuv {

std::u16string ShortDriveName(std::u16string_view driveLetter, std::u16string_view volumeLabel) {
  if (driveLetter.empty() || driveLetter.front() != u'/') {
    return std::u16string(driveLetter) + std::u16string(volumeLabel);
  }
  while (driveLetter.size() > 1 && driveLetter.back() == u'/') driveLetter.remove_suffix(1);
  std::u16string_view last =
      driveLetter == u"/" ? driveLetter : driveLetter.substr(driveLetter.rfind(u'/') + 1);
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
