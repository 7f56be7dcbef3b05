#include "app/shell/help_launcher.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QUrl>

#include "app/model/help_page.h"

namespace kuv {

bool OpenHelpPage(Language language) {
  const std::optional<std::filesystem::path> page =
      HelpPagePath(language, QCoreApplication::applicationDirPath().toStdString(), HelpSourceDir());
  if (!page) return false;
  // The page opens in the user's browser, which we neither own nor can find again, so choosing
  // Help twice simply opens it twice and Exit has no help window to ask about closing.
  return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(page->string())));
}

}  // namespace kuv
