#include "app/pictures/picture_loader.h"

#include <QColor>
#include <QImage>
#include <QImageReader>
#include <QString>

namespace kuv {
namespace {

constexpr qint64 kMaxDots = 16 * 1024 * 1024;

}  // namespace

std::optional<GreyImage> LoadGreyImage(const std::string& path, std::string& error) {
  QImageReader reader(QString::fromStdString(path));
  reader.setAutoTransform(true);
  const QSize size = reader.size();
  if (size.isValid() && static_cast<qint64>(size.width()) * size.height() > kMaxDots) {
    error = path + ": picture too large";
    return std::nullopt;
  }
  QImage image = reader.read();
  if (image.isNull()) {
    error = path + ": " + reader.errorString().toStdString();
    return std::nullopt;
  }
  image = image.convertToFormat(QImage::Format_ARGB32);
  GreyImage grey;
  grey.width = image.width();
  grey.height = image.height();
  grey.grey.resize(static_cast<std::size_t>(grey.width) * static_cast<std::size_t>(grey.height));
  for (int y = 0; y < grey.height; ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < grey.width; ++x) {
      const QRgb rgb = line[x];
      grey.grey[static_cast<std::size_t>(y) * static_cast<std::size_t>(grey.width) +
                static_cast<std::size_t>(x)] =
          GreyOverWhite(qRed(rgb), qGreen(rgb), qBlue(rgb), qAlpha(rgb));
    }
  }
  return grey;
}

}  // namespace kuv
