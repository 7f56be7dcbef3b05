#pragma once
// The S.M.A.R.T. page as a widget: it shows SmartPage's view and hands every click to it. Every
// rule (colours, which row stays checked, what is enabled) lives in the page model.

#include <QWidget>

#include "app/model/smart_page.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QTableWidget;
class QTableWidgetItem;

namespace kuv {

class SmartPageWidget : public QWidget {
  Q_OBJECT

 public:
  explicit SmartPageWidget(SmartPage& page, Language language = SystemLanguage(),
                           QWidget* parent = nullptr);

  // Re-reads everything the page model shows.
  void Refresh();

 private:
  void OnWarningChanged();
  void OnItemChanged(QTableWidgetItem* item);

  SmartPage& page_;
  Language language_;
  bool refreshing_ = false;
  QLabel* healthLabel_;
  QLabel* health_;
  QLabel* temperatureLabel_;
  QLabel* temperature_;
  QCheckBox* warning_;
  QComboBox* warningTemp_;
  QLabel* unit_;
  QCheckBox* autoUpdate_;
  QTableWidget* list_;
};

}  // namespace kuv
