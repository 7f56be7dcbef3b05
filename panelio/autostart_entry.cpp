#include "panelio/autostart_entry.h"

namespace kuv {

std::string AutostartDesktopEntry(const std::string& exec) {
  // Inside a quoted Exec argument these four characters must be escaped.
  std::string quoted;
  for (char c : exec) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += "\\\\";
    quoted += c;
  }
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=KuvLcdManager\n"
         "Exec=\"" +
         quoted +
         "\"\n"
         "X-GNOME-Autostart-enabled=true\n";
}

}  // namespace kuv
