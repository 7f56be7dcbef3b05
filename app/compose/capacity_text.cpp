#include <cstdio>

#include "app/compose/line_items.h"
#include "common/utf16.h"

namespace kuv {

std::u16string FormatCapacityText(std::uint32_t freeMB, std::uint32_t totalMB) {
  if (totalMB <= 1023) return u"-/- GB";
  const unsigned f = freeMB / 1024;
  const unsigned t = totalMB / 1024;
  char text[48];
  if (f < 999 && t < 999) {
    std::snprintf(text, sizeof text, "%u/%uGB", f, t);
  } else if (f < 999) {
    std::snprintf(text, sizeof text, "0.%u/%u.%uTB", f / 100, t / 1000, (t % 1000) / 100);
  } else if (f <= 9999 && t <= 9999) {
    std::snprintf(text, sizeof text, "%u.%u/%u.%uTB", f / 1000, (f % 1000) / 100, t / 1000,
                  (t % 1000) / 100);
  } else if (f <= 9999) {
    std::snprintf(text, sizeof text, "%u.%u/%uTB", f / 1000, (f % 1000) / 100, t / 1000);
  } else {
    std::snprintf(text, sizeof text, "%u/%uTB", f / 1000, t / 1000);
  }
  return Utf8ToUtf16(text);
}

}  // namespace kuv
