// Writes the program's icon as PNG files of the hicolor sizes, for installation beside the SVG.
#include <QGuiApplication>
#include <QPixmap>
#include <cstdio>

#include "app/shell/main_window.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
    return 2;
  }
  QGuiApplication app(argc, argv);
  const QIcon icon = kuv::ProgramIcon();
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const QString path = QStringLiteral("%1/KuvLcdManager-%2.png").arg(argv[1]).arg(size);
    if (!icon.pixmap(size, size).save(path, "PNG")) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
      return 1;
    }
  }
  return 0;
}
