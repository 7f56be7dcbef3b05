#include <QPainter>
#include <QPixmap>

#include "app/shell/main_window.h"

namespace kuv {

// A drive tray seen from the front with its memory LCD: dark case, light panel, three lines of
// text on it (a hollow panel while the program starts).
QIcon ProgramIcon(bool starting) {
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size / 64.0;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x37, 0x3d, 0x48));
    p.drawRoundedRect(QRectF(2 * s, 8 * s, 60 * s, 48 * s), 6 * s, 6 * s);
    p.setBrush(starting ? QColor(0x9a, 0xa3, 0xae) : QColor(0xe8, 0xee, 0xe4));
    p.drawRect(QRectF(8 * s, 14 * s, 34 * s, 36 * s));
    if (!starting) {
      p.setBrush(QColor(0x10, 0x10, 0x10));
      for (int line = 0; line < 3; ++line) {
        p.drawRect(QRectF(12 * s, (19 + line * 9) * s, (line == 2 ? 16 : 26) * s, 4 * s));
      }
    }
    p.setBrush(QColor(0x6c, 0xc0, 0x5a));
    p.drawEllipse(QPointF(52 * s, 44 * s), 3.5 * s, 3.5 * s);
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace kuv
