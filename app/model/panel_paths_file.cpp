#include "app/model/panel_paths_file.h"

#include <charconv>
#include <cstdlib>
#include <fstream>

#include "common/service_client.h"
#include "common/utf16.h"

namespace kuv {
namespace {

constexpr std::string_view kHeader = "kuvlcd panel paths 1";
constexpr std::string_view kScopeKey = "scope ";
// Far beyond 32 paths of at most 259 units.
constexpr std::size_t kReadLimit = 64 << 10;
constexpr std::size_t kPathUnits = std::size(DriveRecord{}.hidPath) - 1;

// Scope and paths go on one line each, so neither may hold a line break.
bool OnOneLine(std::string_view text) {
  return text.find_first_of("\r\n") == std::string_view::npos;
}

std::string BootIdentity() {
  std::ifstream in("/proc/sys/kernel/random/boot_id");
  std::string id;
  std::getline(in, id);
  return id;
}

}  // namespace

std::string PanelPathsScope() {
  const char* world = std::getenv("KUVLCD_SIM_WORLD");
  std::string scope = BootIdentity() + " " + ServiceSocketPath() + " " + (world ? world : "");
  for (char& c : scope) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return scope;
}

std::string EncodePanelPaths(const PanelPaths& paths, std::string_view scope) {
  std::string out(kHeader);
  out += '\n';
  out += kScopeKey;
  out += scope;
  out += '\n';
  for (int n = 0; n < kDriveNumbers; ++n) {
    const std::string path = Utf16ToUtf8(paths[static_cast<std::size_t>(n)]);
    if (path.empty() || !OnOneLine(path)) continue;
    out += std::to_string(n) + " " + path + "\n";
  }
  return out;
}

std::optional<PanelPaths> DecodePanelPaths(std::string_view bytes, std::string_view scope) {
  PanelPaths paths;
  std::size_t lineNumber = 0;
  while (!bytes.empty()) {
    const std::size_t end = bytes.find('\n');
    if (end == std::string_view::npos) break;  // a cut last line is no line
    const std::string_view line = bytes.substr(0, end);
    bytes.remove_prefix(end + 1);
    ++lineNumber;
    if (lineNumber == 1) {
      if (line != kHeader) return std::nullopt;
      continue;
    }
    if (lineNumber == 2) {
      if (!line.starts_with(kScopeKey) || line.substr(kScopeKey.size()) != scope) {
        return std::nullopt;
      }
      continue;
    }
    int n = -1;
    const auto [rest, ec] = std::from_chars(line.data(), line.data() + line.size(), n);
    if (ec != std::errc() || n < 0 || n >= kDriveNumbers || rest == line.data() + line.size() ||
        *rest != ' ') {
      continue;
    }
    const std::string_view text = line.substr(static_cast<std::size_t>(rest - line.data()) + 1);
    std::u16string path = Utf8ToUtf16(text);
    if (path.empty() || path.size() > kPathUnits || !OnOneLine(text) ||
        path.find(u'\0') != std::u16string::npos) {
      continue;
    }
    paths[static_cast<std::size_t>(n)] = std::move(path);
  }
  if (lineNumber < 2) return std::nullopt;
  return paths;
}

std::optional<PanelPaths> LoadPanelPaths(VolumeFiles& files, const std::string& runtimeFolder,
                                         std::string_view scope) {
  int err = 0;
  std::unique_ptr<OwnFolder> folder =
      files.OpenFolder(runtimeFolder, "", FolderUse::kPrivate, false, err);
  if (!folder) return std::nullopt;
  std::optional<std::string> bytes = folder->Read(kPanelPathsFileName, kReadLimit, err);
  return bytes ? DecodePanelPaths(*bytes, scope) : std::nullopt;
}

int SavePanelPaths(VolumeFiles& files, const std::string& runtimeFolder, std::string_view scope,
                   const PanelPaths& paths) {
  if (!OnOneLine(scope)) return EINVAL;
  int err = 0;
  std::unique_ptr<OwnFolder> folder =
      files.OpenFolder(runtimeFolder, "", FolderUse::kPrivate, false, err);
  if (!folder) return err;
  return ReplaceFile(*folder, kPanelPathsFileName, EncodePanelPaths(paths, scope));
}

}  // namespace kuv
