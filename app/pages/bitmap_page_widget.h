#pragma once
// The bitmap page ("Image Data" tab): shows the page model's state and forwards every event to it.

#include <QWidget>
#include <optional>
#include <string>

#include "app/model/bitmap_page.h"
#include "app/pages/preview_widget.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace kuv {

class BitmapPageWidget : public QWidget {
  Q_OBJECT

 public:
  // The page model must outlive the widget.
  explicit BitmapPageWidget(BitmapPage& page, Language language = SystemLanguage(),
                            QWidget* parent = nullptr);

  // Re-reads every control and the preview from the page model.
  void Refresh();

  // The controls, for the window's tests.
  QPushButton* browseButton() const { return browse_; }
  QPushButton* convertButton() const { return convert_; }
  QCheckBox* reverseBox() const { return reverse_; }
  QCheckBox* rotatePreviewBox() const { return rotatePreview_; }
  QComboBox* rotationList() const { return rotation_; }
  QRadioButton* areaButton(int area) const;
  QLabel* fileNameLabel() const { return fileName_; }
  QLabel* previewLabel() const { return preview_; }
  Language language() const { return language_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void ConvertPicture();

  BitmapPage& page_;
  Language language_;
  QLabel* preview_;
  QLabel* fileName_;
  QPushButton* browse_;
  QPushButton* convert_;
  QCheckBox* reverse_;
  QLabel* areaLabel_;
  QRadioButton* areas_[3];
  QButtonGroup* areaGroup_;
  QLabel* rotationLabel_;
  QComboBox* rotation_;
  QCheckBox* rotatePreview_;
  ShownPicture shownPreview_;
  bool refreshing_ = false;
};

// The page's dialogs: message boxes and the open-file dialog, and a refresh of the widget when
// the page's state changes. Attach the widget once it exists.
class WidgetBitmapHooks : public BitmapPageHooks {
 public:
  void Attach(BitmapPageWidget* widget) { widget_ = widget; }
  void ShowMessage(int stringId) override;
  std::optional<std::string> ChooseBmpFile() override;
  void StateChanged() override;

 private:
  BitmapPageWidget* widget_ = nullptr;
};

}  // namespace kuv
