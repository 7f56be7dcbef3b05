#pragma once
// The QR Code tab: shows the QR page model's state and forwards every event to it.

#include <QWidget>

#include "app/pages/preview_widget.h"
#include "common/strings.h"

class QButtonGroup;
class QComboBox;
class QKeyEvent;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QRadioButton;

namespace kuv {

class QrPage;

class QrPageWidget : public QWidget {
  Q_OBJECT

 public:
  explicit QrPageWidget(QrPage& page, Language language = SystemLanguage(),
                        QWidget* parent = nullptr);

  // Re-reads everything from the page model.
  void Refresh();

 protected:
  // Escape puts the page's state back into the controls.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void OnTextChanged();
  void OnCellSizeClicked(int index);
  void OnLevelChosen(int index);
  void ShowPreview();

  QrPage& page_;
  QGroupBox* previewBox_ = nullptr;
  QLabel* preview_ = nullptr;
  QLabel* modeLabel_ = nullptr;
  QRadioButton* fourDots_ = nullptr;
  QRadioButton* oneDot_ = nullptr;
  QButtonGroup* cellSizes_ = nullptr;
  QLabel* levelLabel_ = nullptr;
  QComboBox* levels_ = nullptr;
  QPlainTextEdit* text_ = nullptr;
  QLabel* message_ = nullptr;
  ShownPicture shownPreview_;
  bool refreshing_ = false;
};

}  // namespace kuv
