#include "app/pages/bitmap_page_widget.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

#include "app/compose/photo_convert.h"
#include "app/compose/renderer.h"
#include "app/pictures/picture_loader.h"
#include "common/strings.h"

namespace kuv {
namespace {

constexpr int kPreviewScale = 2;  // crisp: every dot a square of screen pixels

QString Text(int id, Language language) {
  const std::u16string_view text = String(id, language);
  QString out = QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
  out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return out;
}

QPixmap PixmapOf(const Picture& picture) {
  QImage image(picture.width, picture.height, QImage::Format_Mono);
  image.setColor(0, qRgb(0, 0, 0));
  image.setColor(1, qRgb(255, 255, 255));
  for (int y = 0; y < picture.height; ++y)
    for (int x = 0; x < picture.width; ++x) image.setPixel(x, y, picture.at(x, y) ? 1 : 0);
  return QPixmap::fromImage(image.scaled(picture.width * kPreviewScale,
                                         picture.height * kPreviewScale, Qt::IgnoreAspectRatio,
                                         Qt::FastTransformation));
}

void Name(QWidget* widget, const QString& name) {
  widget->setAccessibleName(name);
}

}  // namespace

BitmapPageWidget::BitmapPageWidget(BitmapPage& page, Language language, QWidget* parent)
    : QWidget(parent), page_(page), language_(language) {
  auto* previewGroup = new QGroupBox(Text(120, language_), this);
  preview_ = new QLabel(previewGroup);
  preview_->setFixedSize(kPreviewSide * kPreviewScale, kPreviewSide * kPreviewScale);
  preview_->setToolTip(Text(1193, language_));
  Name(preview_, QStringLiteral("Bitmap preview"));
  auto* previewLayout = new QVBoxLayout(previewGroup);
  previewLayout->addWidget(preview_, 0, Qt::AlignCenter);

  auto* fileGroup = new QGroupBox(Text(125, language_), this);
  fileName_ = new QLabel(fileGroup);
  fileName_->setMinimumWidth(120);
  fileName_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  Name(fileName_, QStringLiteral("File name"));
  browse_ = new QPushButton(Text(126, language_), fileGroup);
  browse_->setToolTip(Text(1194, language_));
  Name(browse_, Text(126, language_));
  convert_ = new QPushButton(Text(4101, language_), fileGroup);
  convert_->setToolTip(Text(4107, language_));
  Name(convert_, Text(4101, language_));
  auto* fileLayout = new QGridLayout(fileGroup);
  fileLayout->addWidget(fileName_, 0, 0, 1, 2);
  fileLayout->addWidget(browse_, 1, 0);
  fileLayout->addWidget(convert_, 1, 1);

  auto* settingGroup = new QGroupBox(Text(127, language_), this);
  reverse_ = new QCheckBox(Text(128, language_), settingGroup);
  reverse_->setToolTip(Text(1195, language_));
  Name(reverse_, Text(128, language_));
  areaLabel_ = new QLabel(Text(132, language_), settingGroup);
  areaGroup_ = new QButtonGroup(this);
  const int areaTexts[3] = {129, 130, 131};
  for (int i = 0; i < 3; ++i) {
    areas_[i] = new QRadioButton(Text(areaTexts[i], language_), settingGroup);
    Name(areas_[i], Text(areaTexts[i], language_));
    areaGroup_->addButton(areas_[i], i);
  }
  areas_[0]->setToolTip(Text(1196, language_));
  rotationLabel_ = new QLabel(Text(133, language_), settingGroup);
  rotation_ = new QComboBox(settingGroup);
  // The list stops at the first text the language leaves empty.
  for (int id = 160; id <= 163; ++id) {
    const QString item = Text(id, language_);
    if (item.isEmpty()) break;
    rotation_->addItem(item);
  }
  rotation_->setToolTip(Text(1197, language_));
  Name(rotation_, QStringLiteral("Bitmap rotation"));
  rotation_->setAccessibleDescription(QStringLiteral("Bitmap rotation"));
  rotatePreview_ = new QCheckBox(Text(1198, language_), settingGroup);
  Name(rotatePreview_, Text(1198, language_));
  auto* settingLayout = new QGridLayout(settingGroup);
  settingLayout->addWidget(reverse_, 0, 0, 1, 3);
  settingLayout->addWidget(areaLabel_, 1, 0, 1, 3);
  for (int i = 0; i < 3; ++i) settingLayout->addWidget(areas_[i], 2, i);
  settingLayout->addWidget(rotationLabel_, 3, 0);
  settingLayout->addWidget(rotation_, 3, 1, 1, 2);
  settingLayout->addWidget(rotatePreview_, 4, 0, 1, 3);

  auto* right = new QVBoxLayout;
  right->addWidget(fileGroup);
  right->addWidget(settingGroup);
  right->addStretch();
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(previewGroup, 0, Qt::AlignTop);
  layout->addLayout(right, 1);

  connect(browse_, &QPushButton::clicked, this, [this] {
    page_.Browse();
    Refresh();
  });
  connect(convert_, &QPushButton::clicked, this, [this] { ConvertPicture(); });
  connect(reverse_, &QCheckBox::toggled, this, [this](bool on) {
    if (refreshing_) return;
    page_.SetReverse(on);
    Refresh();
  });
  connect(rotatePreview_, &QCheckBox::toggled, this, [this](bool on) {
    if (refreshing_) return;
    page_.SetRotatePreview(on);
    Refresh();
  });
  connect(rotation_, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (refreshing_) return;
    page_.SelectRotation(index);
    Refresh();
  });
  connect(areaGroup_, &QButtonGroup::idClicked, this, [this](int area) {
    page_.SelectArea(area);
    Refresh();
  });
  Refresh();
}

QRadioButton* BitmapPageWidget::areaButton(int area) const {
  return area >= 0 && area < 3 ? areas_[area] : nullptr;
}

void BitmapPageWidget::Refresh() {
  refreshing_ = true;
  const bool page = page_.pageEnabled;
  const bool settings = page_.imageSettingsEnabled;
  browse_->setEnabled(page_.browseEnabled);
  convert_->setEnabled(browse_->isEnabled());
  preview_->setEnabled(page);
  fileName_->setEnabled(page);
  const QString name = QString::fromStdString(page_.displayName);
  fileName_->setToolTip(name);
  fileName_->setText(fileName_->fontMetrics().elidedText(name, Qt::ElideMiddle,
                                                         std::max(fileName_->width(), 120)));
  for (QWidget* control :
       {static_cast<QWidget*>(reverse_), static_cast<QWidget*>(areaLabel_),
        static_cast<QWidget*>(rotationLabel_), static_cast<QWidget*>(rotation_)}) {
    control->setEnabled(settings);
  }
  for (QRadioButton* area : areas_) area->setEnabled(settings);
  rotatePreview_->setEnabled(page_.RotatePreviewEnabled());
  reverse_->setChecked(page_.reverseChecked);
  rotatePreview_->setChecked(page_.rotatePreviewChecked);
  if (page_.RotationIndex() < rotation_->count()) rotation_->setCurrentIndex(page_.RotationIndex());
  if (QRadioButton* area = areaButton(page_.areaIndex)) area->setChecked(true);
  if (shownPreview_.Changed(page_.preview, preview_->size())) {
    preview_->setPixmap(PixmapOf(page_.preview));
  }
  refreshing_ = false;
}

void BitmapPageWidget::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Refresh();
}

void BitmapPageWidget::ConvertPicture() {
  const QString path =
      QFileDialog::getOpenFileName(this, Text(4102, language_), QString(), Text(4103, language_));
  if (path.isEmpty()) return;
  std::string error;
  const std::optional<GreyImage> grey = LoadGreyImage(path.toStdString(), error);
  if (!grey) {
    QMessageBox::warning(this, Text(4102, language_), Text(4106, language_));
    return;
  }

  QDialog dialog(this);
  dialog.setWindowTitle(Text(4102, language_));
  auto* shown = new QLabel(&dialog);
  shown->setAccessibleName(QStringLiteral("Converted preview"));
  auto* dither = new QCheckBox(Text(4104, language_), &dialog);
  dither->setChecked(true);
  dither->setAccessibleName(Text(4104, language_));
  auto* threshold = new QSlider(Qt::Horizontal, &dialog);
  threshold->setRange(1, 255);
  threshold->setValue(128);
  threshold->setAccessibleName(Text(4105, language_));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(shown, 0, Qt::AlignCenter);
  layout->addWidget(dither);
  layout->addWidget(new QLabel(Text(4105, language_), &dialog));
  layout->addWidget(threshold);
  layout->addWidget(buttons);
  BmpImage converted;
  const auto update = [&] {
    converted = ConvertPhoto(*grey, {dither->isChecked(), threshold->value()});
    shown->setPixmap(PixmapOf(PictureFromRaster(converted.bits)));
  };
  update();
  connect(dither, &QCheckBox::toggled, &dialog, update);
  connect(threshold, &QSlider::valueChanged, &dialog, update);
  connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  if (dialog.exec() != QDialog::Accepted) return;
  page_.UseConvertedPicture(converted);
  Refresh();
}

void WidgetBitmapHooks::ShowMessage(int stringId) {
  QMessageBox::warning(widget_, QString(),
                       Text(stringId, widget_ ? widget_->language() : SystemLanguage()));
}

std::optional<std::string> WidgetBitmapHooks::ChooseBmpFile() {
  const QString path =
      QFileDialog::getOpenFileName(widget_, QString(), QString(), QStringLiteral("BMP(*.bmp)"));
  if (path.isEmpty()) return std::nullopt;
  return path.toStdString();
}

void WidgetBitmapHooks::StateChanged() {
  if (widget_) widget_->Refresh();
}

}  // namespace kuv
