#include "app/model/help_page.h"

#include <system_error>

#include "common/utf16.h"

namespace kuv {
namespace {

namespace fs = std::filesystem;

constexpr int kPagesMissingString = 4120;
constexpr int kNoBrowserString = 4122;

// How far above the executable a build tree's CMakeCache.txt may lie (build/asan/app/shell/X).
constexpr int kBuildTreeDepth = 4;

bool IsRegularFile(const fs::path& path) {
  std::error_code error;
  return fs::is_regular_file(path, error);
}

bool InBuildTree(const fs::path& executableDir) {
  fs::path dir = executableDir;
  for (int level = 0; level <= kBuildTreeDepth && !dir.empty(); ++level) {
    if (IsRegularFile(dir / "CMakeCache.txt")) return true;
    fs::path parent = dir.parent_path();
    if (parent == dir) break;
    dir = std::move(parent);
  }
  return false;
}

}  // namespace

const char* HelpLanguageFolder(Language language) {
  return language == Language::kJapanese ? "ja" : "en";
}

std::optional<fs::path> HelpPagePath(Language language, const fs::path& executableDir,
                                     const fs::path& sourceDir) {
  const fs::path page = fs::path(HelpLanguageFolder(language)) / "index.html";
  if (!executableDir.empty()) {
    fs::path installed = executableDir / ".." / "share" / "KuvLcdManager" / "help" / page;
    if (IsRegularFile(installed)) return installed.lexically_normal();
  }
  // The source copy is only for a program that was never installed, so an installed program
  // never shows pages from a checkout that happens to lie around.
  if (!sourceDir.empty() && !executableDir.empty() && InBuildTree(executableDir)) {
    fs::path source = sourceDir / "resources" / "help" / page;
    if (IsRegularFile(source)) return source.lexically_normal();
  }
  return std::nullopt;
}

fs::path HelpSourceDir() {
  return fs::path(KUVLCD_HELP_SOURCE_DIR);
}

std::u16string HelpNotShownMessage(const std::optional<fs::path>& page, Language language) {
  if (!page) return std::u16string(String(kPagesMissingString, language));
  std::u16string message(String(kNoBrowserString, language));
  const std::size_t at = message.find(u"%s");
  if (at != std::u16string::npos) message.replace(at, 2, Utf8ToUtf16(page->string()));
  return message;
}

}  // namespace kuv
