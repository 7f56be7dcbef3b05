#pragma once
// What the user is told when the panel service does not answer, in one place so that the window's
// message box and kuvlcd's error say the same.

#include <string>

#include "common/strings.h"

namespace kuv {

struct ServiceUnreachableText {
  std::u16string message;  // string 115: what happened
  std::u16string detail;   // where the service was looked for and how to start it
};

// The texts in language, the detail naming the socket the client uses (KUVLCD_SOCKET or the
// default).
ServiceUnreachableText UnreachableServiceText(Language language);

}  // namespace kuv
