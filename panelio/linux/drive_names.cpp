#include "panelio/linux/drive_names.h"

namespace kuv {

std::string SdName(int driveNumber) {
  if (driveNumber < 0) return "";
  // Bijective base 26: a..z, then aa..zz, then aaa...
  std::string letters;
  long n = driveNumber;
  do {
    letters.insert(letters.begin(), static_cast<char>('a' + n % 26));
    n = n / 26 - 1;
  } while (n >= 0);
  return "sd" + letters;
}

std::optional<int> SdNumber(std::string_view name) {
  if (name.size() < 3 || name.size() > 6 || name.substr(0, 2) != "sd") return std::nullopt;
  long n = 0;
  for (char c : name.substr(2)) {
    if (c < 'a' || c > 'z') return std::nullopt;
    n = n * 26 + (c - 'a' + 1);
  }
  return static_cast<int>(n - 1);
}

}  // namespace kuv
