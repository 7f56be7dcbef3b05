#pragma once
// Finds the program's help page and opens it in the desktop's browser (Help in the tray menu, F1).

#include <filesystem>
#include <optional>

#include "common/strings.h"

namespace kuv {

// The help page of language beside this program, or nothing when none is installed.
std::optional<std::filesystem::path> FindHelpPage(Language language);

// Opens page with the desktop's handler for HTML files; false when the desktop has none.
bool OpenInBrowser(const std::filesystem::path& page);

}  // namespace kuv
