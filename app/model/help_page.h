#pragma once
// Where the program's help page of a language is: beside an installed program, or in the source
// tree when the program runs from its build tree.

#include <filesystem>
#include <optional>
#include <string>

#include "common/strings.h"

namespace kuv {

// The folder name of a language's help pages ("en", "ja").
const char* HelpLanguageFolder(Language language);

// The help page of language: executableDir/../share/KuvLcdManager/help/<lang>/index.html when
// that file exists; else, when executableDir lies inside a CMake build tree (a CMakeCache.txt in
// it or up to four folders above it), sourceDir/resources/help/<lang>/index.html when that file
// exists; else nullopt. An empty sourceDir turns the second place off. Never throws.
std::optional<std::filesystem::path> HelpPagePath(Language language,
                                                  const std::filesystem::path& executableDir,
                                                  const std::filesystem::path& sourceDir);

// The source folder this program was built from, for the second place of HelpPagePath.
std::filesystem::path HelpSourceDir();

// What Help says when it could not show the page: with a page (HelpPagePath found one) no
// browser took it, and the message names the page so the user can open it by hand; without one,
// that the pages are not installed.
std::u16string HelpNotShownMessage(const std::optional<std::filesystem::path>& page,
                                   Language language);

}  // namespace kuv
