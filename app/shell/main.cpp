// KuvLcdManager: one copy per user, living in the notification area.
#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include "app/shell/main_window.h"
#include "app/shell/single_instance.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("TAVIO"));
  QApplication::setApplicationName(QStringLiteral("KuvLcdManager"));
  QApplication::setQuitOnLastWindowClosed(false);
  // Qt's own texts (message box buttons, the file dialog, the edit boxes' menu) in the language
  // of ours; without the translations installed they stay English.
  QTranslator qtTexts;
  if (kuv::SystemLanguage() == kuv::Language::kJapanese &&
      qtTexts.load(QStringLiteral("qtbase_ja"),
                   QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QApplication::installTranslator(&qtTexts);
  }

  kuv::SingleInstance instance;
  if (!instance.Claim()) return instance.error().empty() ? 0 : 1;

  kuv::MainWindow window;
  QObject::connect(&instance, &kuv::SingleInstance::showRequested, &window,
                   &kuv::MainWindow::ShowFromTray);
  QObject::connect(&instance, &kuv::SingleInstance::trayRequested, &window,
                   &kuv::MainWindow::RestoreTrayIcon);
  if (!window.Initialise()) return 1;
  return QApplication::exec();
}
