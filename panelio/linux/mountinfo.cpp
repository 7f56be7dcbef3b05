#include "panelio/linux/mountinfo.h"

#include <charconv>

namespace kuv {
namespace {

// The kernel escapes space, tab, newline and backslash in paths as a backslash and three octal
// digits; anything else after a backslash is kept as written.
std::string Unescape(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (std::size_t i = 0; i < field.size(); ++i) {
    auto octal = [](char c) { return c >= '0' && c <= '7'; };
    if (field[i] == '\\' && i + 3 < field.size()) {
      if (octal(field[i + 1]) && octal(field[i + 2]) && octal(field[i + 3])) {
        int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
        if (value <= 0xFF) {
          out.push_back(static_cast<char>(value));
          i += 3;
          continue;
        }
      }
    }
    out.push_back(field[i]);
  }
  return out;
}

std::vector<std::string_view> SplitSpaces(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t pos = 0;
  while (pos < line.size()) {
    while (pos < line.size() && line[pos] == ' ') ++pos;
    if (pos >= line.size()) break;
    std::size_t end = line.find(' ', pos);
    if (end == std::string_view::npos) end = line.size();
    fields.push_back(line.substr(pos, end - pos));
    pos = end;
  }
  return fields;
}

bool ParseDevice(std::string_view field, unsigned& major, unsigned& minor) {
  std::size_t colon = field.find(':');
  if (colon == std::string_view::npos) return false;
  auto a = std::from_chars(field.data(), field.data() + colon, major);
  auto b = std::from_chars(field.data() + colon + 1, field.data() + field.size(), minor);
  return a.ec == std::errc() && a.ptr == field.data() + colon && b.ec == std::errc() &&
         b.ptr == field.data() + field.size();
}

// Whether a comma-separated option list holds "ro" as one of its options.
bool HasReadOnly(std::string_view options) {
  while (!options.empty()) {
    std::size_t comma = options.find(',');
    if (options.substr(0, comma) == "ro") return true;
    if (comma == std::string_view::npos) break;
    options.remove_prefix(comma + 1);
  }
  return false;
}

}  // namespace

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
  std::vector<MountEntry> entries;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;

    // id parent major:minor root mount-point options [optional...] - fstype source super-options
    std::vector<std::string_view> fields = SplitSpaces(line);
    std::size_t dash = 6;
    while (dash < fields.size() && fields[dash] != "-") ++dash;
    if (dash + 2 >= fields.size()) continue;
    MountEntry entry;
    if (!ParseDevice(fields[2], entry.major, entry.minor)) continue;
    entry.root = Unescape(fields[3]);
    entry.mountPoint = Unescape(fields[4]);
    entry.fsType = Unescape(fields[dash + 1]);
    entry.source = Unescape(fields[dash + 2]);
    // A bind mount can be read-only over a writable file system, and a file system remounted
    // read-only after errors keeps "rw" on its mounts: either side refuses the writes.
    entry.readOnly =
        HasReadOnly(fields[5]) || (dash + 3 < fields.size() && HasReadOnly(fields[dash + 3]));
    entries.push_back(std::move(entry));
  }
  return entries;
}

}  // namespace kuv
