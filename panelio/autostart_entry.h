#pragma once
// The desktop entry that starts the program at log-in, as every backend that registers the
// automatic start with a file writes it.

#include <string>

namespace kuv {

// The entry's text; exec is the program's path, quoted as the Exec key requires.
std::string AutostartDesktopEntry(const std::string& exec);

}  // namespace kuv
