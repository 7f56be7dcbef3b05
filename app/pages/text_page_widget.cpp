#include "app/pages/text_page_widget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <vector>

#include "app/compose/renderer.h"
#include "app/pages/preview_widget.h"
#include "app/pages/qt_strings.h"

namespace kuv {

// The line numbers beside the preview, each at the height of its line at whatever scale the
// preview draws its dots.
class LineNumberColumn : public QWidget {
 public:
  LineNumberColumn(const PreviewWidget& preview, QWidget* parent)
      : QWidget(parent), preview_(preview) {}

  void Add(QLabel* label) {
    label->setParent(this);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    labels_.push_back(label);
  }
  QSize sizeHint() const override {
    int width = 0;
    for (const QLabel* label : labels_) width = std::max(width, label->sizeHint().width());
    return {width, preview_.sizeHint().height()};
  }
  QSize minimumSizeHint() const override { return sizeHint(); }
  void Place() {
    const double dot = preview_.Scale() / preview_.devicePixelRatioF();
    for (std::size_t i = 0; i < labels_.size(); ++i) {
      const QSize size = labels_[i]->sizeHint();
      const double middle = (PreviewLineMiddle(static_cast<int>(i) + 1) + 0.5) * dot;
      labels_[i]->setGeometry(0, static_cast<int>(std::lround(middle - size.height() / 2.0)),
                              width(), size.height());
    }
  }

 protected:
  void resizeEvent(QResizeEvent*) override { Place(); }

 private:
  const PreviewWidget& preview_;
  std::vector<QLabel*> labels_;
};

TextPageWidget::TextPageWidget(TextPageModel& model, Language language, QWidget* parent)
    : QWidget(parent), model_(model), language_(language) {
  auto tr = [language](int id) { return Text(id, language); };

  previewGroup_ = new QGroupBox(tr(120), this);
  preview_ = new PreviewWidget(kPreviewSide, previewGroup_);
  preview_->setAccessibleName(QStringLiteral("Preview"));
  preview_->SetTooltipRule([this, tr](int x, int y) {
    return tr(model_.PreviewTooltip(x, y, kPreviewSide, kPreviewSide));
  });
  auto* previewLayout = new QHBoxLayout(previewGroup_);
  numbers_ = new LineNumberColumn(*preview_, previewGroup_);
  for (int i = 0; i < kLineCount; ++i) {
    QLabel* number = new QLabel(tr(2100 + i));
    number->setToolTip(tr(1800));
    numbers_->Add(number);
    rows_[static_cast<std::size_t>(i)].numberLabel = number;
  }
  previewLayout->addWidget(numbers_, 0, Qt::AlignTop);
  previewLayout->addWidget(preview_, 0, Qt::AlignTop);

  auto* lines = new QGridLayout;
  selectItem_ = new QLabel(tr(145), this);
  lines->addWidget(selectItem_, 0, 1);
  reverseAll_ = new QCheckBox(tr(143), this);
  reverseAll_->setToolTip(tr(1806));
  reverseAll_->setAccessibleName(tr(143));
  // Over the edit boxes and ending above the line boxes, so its text does not widen their column.
  lines->addWidget(reverseAll_, 0, 2, 1, 2, Qt::AlignRight);
  for (int i = 0; i < kLineCount; ++i) {
    Row& row = rows_[static_cast<std::size_t>(i)];
    const int line = i + 1;
    const QString n = QString::number(line);
    row.rowLabel = new QLabel(tr(2100 + i), this);
    row.item = new QComboBox(this);
    // The lists change with the drive and the S.M.A.R.T. attribute; each stays wide enough.
    row.item->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    row.item->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
    row.item->setToolTip(tr(1809));
    row.item->setAccessibleName(QStringLiteral("Line %1 item").arg(n));
    row.item->setAccessibleDescription(row.item->accessibleName());
    row.text = new QLineEdit(this);
    // Room for the 13 characters a line keeps: the box's own minimum holds its frame and one.
    row.text->setMinimumWidth(row.text->fontMetrics().horizontalAdvance(QString(12, u'W')) +
                              row.text->minimumSizeHint().width());
    row.text->setToolTip(tr(1808));
    row.text->setAccessibleName(QStringLiteral("Line %1 text").arg(n));
    row.reverse = new QCheckBox(this);
    row.reverse->setAccessibleName(QStringLiteral("Line %1 reverse").arg(n));
    lines->addWidget(row.rowLabel, line, 0);
    lines->addWidget(row.item, line, 1);
    lines->addWidget(row.text, line, 2);
    lines->addWidget(row.reverse, line, 3);
    connect(row.item, &QComboBox::currentIndexChanged, this,
            [this, line](int index) { Forward([&] { model_.LineItemChosen(line, index); }); });
    connect(row.text, &QLineEdit::textEdited, this, [this, line](const QString& text) {
      Forward([&] { model_.LineEdited(line, text.toStdU16String()); });
    });
    connect(row.reverse, &QCheckBox::clicked, this,
            [this, line](bool on) { Forward([&] { model_.LineReverseClicked(line, on); }); });
  }

  lines->setColumnStretch(2, 1);
  lines->setRowStretch(kLineCount + 1, 1);

  auto* side = new QVBoxLayout;
  rotationLabel_ = new QLabel(tr(112), this);
  rotation_ = new QComboBox(this);
  rotation_->setAccessibleName(QStringLiteral("Rotation"));
  rotation_->setAccessibleDescription(QStringLiteral("Rotation"));
  rotatePreview_ = new QCheckBox(tr(113), this);
  rotatePreview_->setToolTip(tr(1805));
  rotatePreview_->setAccessibleName(tr(113));
  showHddStatus_ = new QCheckBox(tr(144), this);
  showHddStatus_->setToolTip(tr(1807));
  showHddStatus_->setAccessibleName(tr(144));
  side->addWidget(rotationLabel_);
  side->addWidget(rotation_);
  side->addWidget(rotatePreview_);
  side->addWidget(showHddStatus_);
  side->addStretch();
  connect(reverseAll_, &QCheckBox::clicked, this,
          [this](bool on) { Forward([&] { model_.ReverseAllClicked(on); }); });
  connect(rotation_, &QComboBox::currentIndexChanged, this,
          [this](int index) { Forward([&] { model_.RotationChosen(index); }); });
  connect(rotatePreview_, &QCheckBox::clicked, this,
          [this](bool on) { Forward([&] { model_.RotatePreviewClicked(on); }); });
  connect(showHddStatus_, &QCheckBox::clicked, this,
          [this](bool on) { Forward([&] { model_.ShowHddStatusClicked(on); }); });

  auto* layout = new QHBoxLayout(this);
  layout->addWidget(previewGroup_, 0, Qt::AlignTop);
  layout->addLayout(lines, 1);
  layout->addLayout(side);
  Refresh();
}

template <typename F>
void TextPageWidget::Forward(F&& change) {
  // Changes made by Refresh itself are the model's own; they must not come back to it.
  if (refreshing_) return;
  change();
  Refresh();
}

void TextPageWidget::Refresh() {
  refreshing_ = true;
  const TextPageView& view = model_.view;
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    Row& row = rows_[i];
    const LineControls& line = view.lines[i];
    QSignalBlocker block(row.item);
    if (row.item->count() != static_cast<int>(line.items.size())) {
      row.item->clear();
      for (const auto& item : line.items) row.item->addItem(QString::fromStdU16String(item));
    } else {
      for (int k = 0; k < row.item->count(); ++k) {
        row.item->setItemText(k,
                              QString::fromStdU16String(line.items[static_cast<std::size_t>(k)]));
      }
    }
    row.item->setCurrentIndex(line.selectedItem);
    const QString text = QString::fromStdU16String(line.text);
    if (row.text->text() != text) row.text->setText(text);
    row.reverse->setChecked(line.reverse);
    row.item->setEnabled(view.controlsEnabled && line.usable);
    row.text->setEnabled(line.editEnabled && line.usable);
    row.reverse->setEnabled(view.controlsEnabled && line.usable);
    row.rowLabel->setEnabled(view.controlsEnabled);
    row.numberLabel->setEnabled(view.numberLabelsEnabled);
    for (QWidget* w :
         {static_cast<QWidget*>(row.item), static_cast<QWidget*>(row.text),
          static_cast<QWidget*>(row.reverse), static_cast<QWidget*>(row.numberLabel)}) {
      w->setVisible(line.visible);
    }
    row.rowLabel->setVisible(i + 1 < rows_.size() ? line.visible : view.rowLabel5Visible);
  }
  {
    QSignalBlocker block(rotation_);
    if (rotation_->count() != static_cast<int>(view.rotationItems.size())) {
      rotation_->clear();
      for (const auto& item : view.rotationItems)
        rotation_->addItem(QString::fromStdU16String(item));
    }
    rotation_->setCurrentIndex(view.rotationIndex);
  }
  reverseAll_->setChecked(view.reverseAll);
  rotatePreview_->setChecked(view.rotatePreview);
  showHddStatus_->setChecked(view.showHddStatus);
  for (QWidget* w : {static_cast<QWidget*>(selectItem_), static_cast<QWidget*>(reverseAll_),
                     static_cast<QWidget*>(rotationLabel_), static_cast<QWidget*>(rotation_),
                     static_cast<QWidget*>(showHddStatus_), static_cast<QWidget*>(previewGroup_)}) {
    w->setEnabled(view.controlsEnabled);
  }
  rotatePreview_->setEnabled(view.rotatePreviewEnabled);
  preview_->SetPicture(model_.Preview());
  // The preview's scale follows the screen it is on. Only a new scale asks for a new layout,
  // since a layout request repaints the whole tab.
  if (preview_->Scale() != placedScale_) {
    placedScale_ = preview_->Scale();
    preview_->updateGeometry();
    numbers_->updateGeometry();
    numbers_->Place();
  }
  refreshing_ = false;
}

void TextPageWidget::keyPressEvent(QKeyEvent* event) {
  if (SwallowDialogKeys(event)) return;
  QWidget::keyPressEvent(event);
}

}  // namespace kuv
