#pragma once
// The string table's texts as Qt strings.

#include <QString>

#include "common/strings.h"

namespace kuv {

inline QString Text(int id, Language language) {
  return QString::fromStdU16String(std::u16string(String(id, language)));
}

}  // namespace kuv
