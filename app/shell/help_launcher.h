#pragma once
// Opens the program's help page in the desktop's browser (Help in the tray menu, F1).

#include "common/strings.h"

namespace kuv {

// Opens the help page of language with the desktop's handler for HTML files. Returns false when
// no page is installed or the desktop has no handler, so the caller can say so.
bool OpenHelpPage(Language language);

}  // namespace kuv
