#include "app/pages/preview_widget.h"

#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>
#include <cmath>

namespace kuv {

QImage ImageOfPicture(const Picture& picture) {
  QImage image(picture.width, picture.height, QImage::Format_Grayscale8);
  for (int y = 0; y < picture.height; ++y) {
    uchar* row = image.scanLine(y);
    for (int x = 0; x < picture.width; ++x) row[x] = picture.at(x, y) == kBlack ? 0 : 255;
  }
  return image;
}

bool ShownPicture::Changed(const Picture& picture, QSize size) {
  if (picture_ && *picture_ == picture && size_ == size) return false;
  picture_ = picture;
  size_ = size;
  return true;
}

PreviewWidget::PreviewWidget(int dots, QWidget* parent) : QWidget(parent), dots_(dots) {
  image_ = QImage(dots, dots, QImage::Format_Grayscale8);
  image_.fill(255);
  setMouseTracking(true);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  // It paints every pixel it covers, so a new picture repaints the preview alone and not the
  // page and tab frame behind it.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

int PreviewWidget::Scale() const {
  // Two screen pixels per dot, more on high-density screens, always a whole number.
  const double ratio = devicePixelRatioF();
  return std::max(2, static_cast<int>(std::lround(2.0 * ratio)));
}

QSize PreviewWidget::sizeHint() const {
  const double logical = dots_ * Scale() / devicePixelRatioF();
  const int side = static_cast<int>(std::ceil(logical));
  return {side, side};
}

void PreviewWidget::SetPicture(const std::optional<Picture>& picture) {
  // No picture shows white dots, as a white picture would.
  const Picture shown = picture ? *picture : Picture(dots_, dots_);
  if (!shown_.Changed(shown, QSize(shown.width, shown.height))) return;
  image_ = ImageOfPicture(shown);
  update();
}

void PreviewWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  const double side = dots_ * Scale() / devicePixelRatioF();
  // The sliver a fractional scale leaves beside the dots.
  if (side < width() || side < height()) painter.fillRect(rect(), palette().window());
  painter.drawImage(QRectF(0, 0, side, side), image_);
  if (!isEnabled()) painter.fillRect(rect(), QColor(255, 255, 255, 120));
}

bool PreviewWidget::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip && tooltipRule_) {
    auto* help = static_cast<QHelpEvent*>(event);
    const double dotSize = Scale() / devicePixelRatioF();
    const int x = static_cast<int>(help->pos().x() / dotSize);
    const int y = static_cast<int>(help->pos().y() / dotSize);
    QToolTip::showText(help->globalPos(), tooltipRule_(x, y), this);
    return true;
  }
  return QWidget::event(event);
}

}  // namespace kuv
