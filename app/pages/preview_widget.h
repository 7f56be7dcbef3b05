#pragma once
// A composed picture drawn crisp: every dot a square of whole screen pixels, at least two, so the
// 96x96 panel reads well on a modern display.

#include <QImage>
#include <QWidget>
#include <functional>
#include <optional>

#include "common/picture_io.h"

namespace kuv {

// What a preview last showed, so that its picture is converted and drawn again only when the
// picture or the size it is shown at changed.
class ShownPicture {
 public:
  // True, remembering the pair, when it differs from the last one.
  bool Changed(const Picture& picture, QSize size);

 private:
  std::optional<Picture> picture_;
  QSize size_;
};

class PreviewWidget : public QWidget {
  Q_OBJECT
 public:
  explicit PreviewWidget(int dots, QWidget* parent = nullptr);

  void SetPicture(const std::optional<Picture>& picture);
  // Answers the tooltip id for a pointer at a dot position; the widget shows its text.
  void SetTooltipRule(std::function<QString(int dotX, int dotY)> rule) { tooltipRule_ = rule; }
  int Scale() const;
  const QImage& image() const { return image_; }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;

 private:
  int dots_;
  QImage image_;
  ShownPicture shown_;
  std::function<QString(int, int)> tooltipRule_;
};

// A one-bit picture as a Qt image, black dots on white.
QImage ImageOfPicture(const Picture& picture);

}  // namespace kuv
