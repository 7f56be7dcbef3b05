#pragma once
// The string table's texts as Qt strings.

#include <QKeyEvent>
#include <QString>

#include "common/strings.h"

namespace kuv {

inline QString Text(int id, Language language) {
  return QString::fromStdU16String(std::u16string(String(id, language)));
}

// Enter and Escape neither close nor reset a page or the window: true when the key was one of
// them and has been taken.
inline bool SwallowDialogKeys(QKeyEvent* event) {
  const int key = event->key();
  if (key != Qt::Key_Return && key != Qt::Key_Enter && key != Qt::Key_Escape) return false;
  event->accept();
  return true;
}

}  // namespace kuv
