#include "app/health/smart_page_widget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/pages/qt_columns.h"

namespace kuv {
namespace {

QString Text(int id, Language language) {
  const std::u16string_view text = String(id, language);
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

QString Q(const std::u16string& text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

// The columns' widths as the page first shows them; the attribute name takes the rest.
constexpr int kColumnWidths[kSmartColumns] = {20, 30, 0, 55, 55, 40, 110};

QLabel* ValueLabel(QWidget* parent) {
  auto* label = new QLabel(u"-"_qs, parent);
  QFont font = label->font();
  font.setPixelSize(20);
  font.setBold(true);
  label->setFont(font);
  label->setAlignment(Qt::AlignCenter);
  label->setAutoFillBackground(true);
  // The coloured field keeps some room around its text.
  label->setContentsMargins(6, 0, 6, 0);
  return label;
}

void Paint(QLabel* label, const std::optional<Rgb>& colour) {
  QPalette palette = label->parentWidget() ? label->parentWidget()->palette() : QPalette();
  if (colour) palette.setColor(QPalette::Window, QColor(colour->red, colour->green, colour->blue));
  label->setPalette(palette);
}

}  // namespace

SmartPageWidget::SmartPageWidget(SmartPage& page, Language language, QWidget* parent)
    : QWidget(parent), page_(page), language_(language) {
  healthLabel_ = new QLabel(Text(114, language_), this);
  health_ = ValueLabel(this);
  health_->setAccessibleName(u"Health"_qs);
  temperatureLabel_ = new QLabel(Text(565, language_), this);
  temperature_ = ValueLabel(this);
  temperature_->setAccessibleName(u"Temperature"_qs);

  auto* group = new QGroupBox(Text(567, language_), this);
  warning_ = new QCheckBox(Text(564, language_), group);
  warning_->setAccessibleName(u"Warning"_qs);
  warningTemp_ = new QComboBox(group);
  for (int t = kFirstWarningTemp; t <= kLastWarningTemp; ++t)
    warningTemp_->addItem(QString::number(t));
  warningTemp_->setAccessibleName(u"Warning temperature"_qs);
  warningTemp_->setAccessibleDescription(u"Warning temperature"_qs);
  unit_ = new QLabel(Text(566, language_), group);
  auto* groupLayout = new QHBoxLayout(group);
  groupLayout->addWidget(warning_);
  groupLayout->addWidget(warningTemp_);
  groupLayout->addWidget(unit_);
  groupLayout->addStretch();

  autoUpdate_ = new QCheckBox(Text(568, language_), this);
  autoUpdate_->setAccessibleName(u"Auto update"_qs);

  list_ = new QTableWidget(0, kSmartColumns, this);
  list_->setAccessibleName(u"S.M.A.R.T. attributes"_qs);
  list_->setHorizontalHeaderLabels({QString(), Text(558, language_), Text(559, language_),
                                    Text(560, language_), Text(561, language_),
                                    Text(562, language_), Text(563, language_)});
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setShowGrid(true);
  list_->verticalHeader()->hide();
  for (int c = 0; c < kSmartColumns; ++c) {
    if (kColumnWidths[c] > 0) list_->setColumnWidth(c, kColumnWidths[c]);
  }
  list_->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
  FitColumns(*list_, *list_->horizontalHeader(), kColumnWidths);

  health_->setToolTip(Text(1850, language_));
  healthLabel_->setToolTip(Text(1850, language_));
  temperature_->setToolTip(Text(1851, language_));
  temperatureLabel_->setToolTip(Text(1851, language_));
  warning_->setToolTip(Text(1852, language_));
  warningTemp_->setToolTip(Text(1853, language_));
  list_->setToolTip(Text(1854, language_));
  autoUpdate_->setToolTip(Text(1855, language_));

  auto* top = new QGridLayout;
  top->addWidget(healthLabel_, 0, 0);
  top->addWidget(health_, 1, 0);
  top->addWidget(temperatureLabel_, 0, 1);
  top->addWidget(temperature_, 1, 1);
  top->addWidget(group, 0, 2, 2, 1);
  top->addWidget(autoUpdate_, 0, 3, 2, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(list_);

  connect(warning_, &QCheckBox::clicked, this, [this] { OnWarningChanged(); });
  connect(warningTemp_, &QComboBox::activated, this, [this] { OnWarningChanged(); });
  connect(autoUpdate_, &QCheckBox::clicked, this, [this](bool checked) {
    page_.AutoUpdateClicked(checked);
    Refresh();
  });
  connect(list_, &QTableWidget::itemChanged, this,
          [this](QTableWidgetItem* item) { OnItemChanged(item); });
  connect(list_, &QTableWidget::cellClicked, this, [this](int row, int) { page_.RowClicked(row); });
  Refresh();
}

void SmartPageWidget::OnWarningChanged() {
  if (refreshing_) return;
  page_.WarningChanged(warning_->isChecked(), warningTemp_->currentIndex());
  Refresh();
}

void SmartPageWidget::OnItemChanged(QTableWidgetItem* item) {
  if (refreshing_ || item->column() != 0) return;
  page_.RowCheckChanged(item->row(), item->checkState() == Qt::Checked);
  Refresh();
}

void SmartPageWidget::Refresh() {
  refreshing_ = true;
  const SmartPageView& v = page_.view();
  health_->setText(Q(v.healthText));
  Paint(health_, v.healthColour);
  temperature_->setText(Q(v.temperatureText));
  Paint(temperature_, v.temperatureColour);
  warning_->setChecked(v.warningChecked);
  warningTemp_->setCurrentIndex(v.warningIndex);
  autoUpdate_->setChecked(v.autoUpdate);

  // Rows are rewritten in place, so the selection and scroll position stay where the user left
  // them.
  const int rows = static_cast<int>(v.rows.size());
  const bool newRows = list_->rowCount() != rows;
  if (newRows) list_->setRowCount(rows);
  for (int r = 0; r < rows; ++r) {
    const SmartRow& row = v.rows[static_cast<std::size_t>(r)];
    const QColor background(row.background.red, row.background.green, row.background.blue);
    for (int c = 0; c < kSmartColumns; ++c) {
      QTableWidgetItem* item = list_->item(r, c);
      if (!item) {
        item = new QTableWidgetItem;
        list_->setItem(r, c, item);
      }
      item->setText(Q(row.texts[static_cast<std::size_t>(c)]));
      item->setBackground(background);
      item->setForeground(QColor(Qt::black));
      if (c == 0) {
        Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
        if (v.checkBoxes) {
          item->setFlags(flags | Qt::ItemIsUserCheckable);
          item->setCheckState(row.checked ? Qt::Checked : Qt::Unchecked);
        } else {
          item->setFlags(flags);
          item->setData(Qt::CheckStateRole, QVariant());
        }
      }
    }
  }

  if (newRows) FitColumns(*list_, *list_->horizontalHeader(), kColumnWidths);

  healthLabel_->setEnabled(v.healthEnabled);
  health_->setEnabled(v.healthEnabled);
  temperatureLabel_->setEnabled(v.temperatureLabelEnabled);
  temperature_->setEnabled(v.temperatureEnabled);
  warning_->setEnabled(v.warningEnabled);
  warningTemp_->setEnabled(v.warningListEnabled);
  unit_->setEnabled(v.warningListEnabled);
  list_->setEnabled(v.listEnabled);
  refreshing_ = false;
}

}  // namespace kuv
