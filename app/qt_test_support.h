#pragma once
// For the widget tests: controls are found as a screen reader finds them, by accessible name.

#include <QString>
#include <QWidget>

namespace kuv::testing {

// The first control of type T below root whose accessible name is name, or null.
template <typename T>
T* Named(const QWidget& root, const QString& name) {
  for (T* child : root.findChildren<T*>()) {
    if (child->accessibleName() == name) return child;
  }
  return nullptr;
}

}  // namespace kuv::testing
