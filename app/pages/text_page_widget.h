#pragma once
// The "LCD Setting" page: preview, five line rows, reverse, rotation and status controls. It
// shows the TextPageModel's view and forwards every change to it.

#include <QWidget>
#include <array>

#include "app/model/text_page_model.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;

namespace kuv {

class LineNumberColumn;
class PreviewWidget;

class TextPageWidget : public QWidget {
  Q_OBJECT
 public:
  TextPageWidget(TextPageModel& model, Language language, QWidget* parent = nullptr);

  // Re-reads every control and the preview from the model.
  void Refresh();

  PreviewWidget* preview() const { return preview_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  struct Row {
    QLabel* numberLabel = nullptr;  // beside the preview
    QLabel* rowLabel = nullptr;
    QComboBox* item = nullptr;
    QLineEdit* text = nullptr;
    QCheckBox* reverse = nullptr;
  };
  template <typename F>
  void Forward(F&& change);

  TextPageModel& model_;
  Language language_;
  std::array<Row, kLineCount> rows_;
  PreviewWidget* preview_ = nullptr;
  LineNumberColumn* numbers_ = nullptr;
  int placedScale_ = 0;  // the preview's scale the layout was made for
  QGroupBox* previewGroup_ = nullptr;
  QLabel* selectItem_ = nullptr;
  QCheckBox* reverseAll_ = nullptr;
  QLabel* rotationLabel_ = nullptr;
  QComboBox* rotation_ = nullptr;
  QCheckBox* rotatePreview_ = nullptr;
  QCheckBox* showHddStatus_ = nullptr;
  bool refreshing_ = false;
};

}  // namespace kuv
