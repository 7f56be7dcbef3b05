#include "app/pages/qr_page_widget.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTextCursor>
#include <QVBoxLayout>

#include "app/model/qr_page.h"
#include "common/strings.h"

namespace kuv {
namespace {

constexpr int kPreviewScale = 2;

QString Text(int id, Language language) {
  const std::u16string_view text = String(id, language);
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

QString ToQString(const std::u16string& text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

// The edit box shows line breaks as LF; the page keeps them as CR LF, as the system's edit box.
std::u16string FromEditBox(const QString& text) {
  std::u16string out;
  out.reserve(static_cast<std::size_t>(text.size()) + 8);
  for (QChar c : text) {
    if (c == u'\n') out += u'\r';
    out += static_cast<char16_t>(c.unicode());
  }
  return out;
}

QString ToEditBox(const std::u16string& text) {
  QString out;
  for (char16_t c : text) {
    if (c != u'\r') out += QChar(c);
  }
  return out;
}

QImage PreviewImage(const Picture& picture) {
  QImage image(picture.width, picture.height, QImage::Format_Mono);
  image.setColor(0, qRgb(0, 0, 0));
  image.setColor(1, qRgb(255, 255, 255));
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) image.setPixel(x, y, picture.at(x, y) == kWhite);
  }
  return image;
}

}  // namespace

QrPageWidget::QrPageWidget(QrPage& page, Language language, QWidget* parent)
    : QWidget(parent), page_(page) {
  previewBox_ = new QGroupBox(Text(120, language), this);
  preview_ = new QLabel(previewBox_);
  preview_->setAccessibleName(QStringLiteral("QR preview"));
  preview_->setFixedSize(96 * kPreviewScale, 96 * kPreviewScale);
  auto* previewLayout = new QVBoxLayout(previewBox_);
  previewLayout->addWidget(preview_, 0, Qt::AlignCenter);

  modeLabel_ = new QLabel(Text(58116, language), this);
  modeLabel_->setToolTip(Text(1830, language));
  fourDots_ = new QRadioButton(Text(106, language), this);
  oneDot_ = new QRadioButton(Text(107, language), this);
  fourDots_->setAccessibleName(fourDots_->text());
  oneDot_->setAccessibleName(oneDot_->text());
  cellSizes_ = new QButtonGroup(this);
  cellSizes_->addButton(fourDots_, 0);
  cellSizes_->addButton(oneDot_, 1);

  levelLabel_ = new QLabel(Text(58117, language), this);
  levelLabel_->setToolTip(Text(1831, language));
  levels_ = new QComboBox(this);
  for (int id = 108; id <= 111; ++id) levels_->addItem(Text(id, language));
  levels_->setAccessibleName(QStringLiteral("Error correction"));
  levels_->setAccessibleDescription(QStringLiteral("Error correction"));

  text_ = new QPlainTextEdit(this);
  text_->setToolTip(Text(1832, language));
  text_->setAccessibleName(QStringLiteral("QR text"));
  text_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  message_ = new QLabel(this);
  message_->setAccessibleName(QStringLiteral("QR message"));
  message_->setWordWrap(true);

  auto* settings = new QGridLayout;
  settings->addWidget(modeLabel_, 0, 0);
  settings->addWidget(fourDots_, 0, 1);
  settings->addWidget(oneDot_, 0, 2);
  settings->addWidget(levelLabel_, 1, 0);
  settings->addWidget(levels_, 1, 1, 1, 2);
  auto* right = new QVBoxLayout;
  right->addLayout(settings);
  right->addWidget(text_, 1);
  right->addWidget(message_);
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(previewBox_);
  layout->addLayout(right, 1);

  connect(text_, &QPlainTextEdit::textChanged, this, &QrPageWidget::OnTextChanged);
  connect(cellSizes_, &QButtonGroup::idClicked, this, &QrPageWidget::OnCellSizeClicked);
  connect(levels_, &QComboBox::activated, this, &QrPageWidget::OnLevelChosen);
  Refresh();
}

void QrPageWidget::Refresh() {
  refreshing_ = true;
  const bool enabled = page_.enabled();
  for (QWidget* control : std::initializer_list<QWidget*>{
           previewBox_, fourDots_, oneDot_, modeLabel_, levelLabel_, message_, text_, levels_}) {
    control->setEnabled(enabled);
  }
  (page_.cellSizeIndex() == 0 ? fourDots_ : oneDot_)->setChecked(true);
  levels_->setCurrentIndex(page_.levelIndex());
  const QString shown = ToEditBox(page_.qrInput());
  if (text_->toPlainText() != shown) {
    const QSignalBlocker block(text_);
    text_->setPlainText(shown);
    text_->moveCursor(QTextCursor::End);
  }
  message_->setText(ToQString(page_.messageLine()));
  message_->setStyleSheet(page_.messageIsError() ? QStringLiteral("color: rgb(255, 0, 0);")
                                                 : QString());
  ShowPreview();
  refreshing_ = false;
}

void QrPageWidget::ShowPreview() {
  const Picture& picture = page_.PreviewPicture();
  if (!shownPreview_.Changed(picture, preview_->size())) return;
  preview_->setPixmap(QPixmap::fromImage(PreviewImage(picture))
                          .scaled(preview_->size(), Qt::KeepAspectRatio, Qt::FastTransformation));
}

void QrPageWidget::OnTextChanged() {
  if (refreshing_) return;
  const QTextCursor cursor = text_->textCursor();
  const int position = cursor.position();
  if (page_.TextChanged(FromEditBox(text_->toPlainText()))) {
    Refresh();
    QTextCursor end = text_->textCursor();
    end.setPosition(std::min(position, static_cast<int>(text_->toPlainText().size())));
    text_->setTextCursor(end);
  } else {
    Refresh();
  }
  text_->ensureCursorVisible();
}

void QrPageWidget::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    Refresh();
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}

void QrPageWidget::OnCellSizeClicked(int index) {
  page_.SelectCellSize(index);
  Refresh();
}

void QrPageWidget::OnLevelChosen(int index) {
  page_.SelectLevel(index);
  Refresh();
}

}  // namespace kuv
