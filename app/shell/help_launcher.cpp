#include "app/shell/help_launcher.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QUrl>

#include "app/model/help_page.h"

namespace kuv {

std::optional<std::filesystem::path> FindHelpPage(Language language) {
  return HelpPagePath(language, QCoreApplication::applicationDirPath().toStdString(),
                      HelpSourceDir());
}

bool OpenInBrowser(const std::filesystem::path& page) {
  // The page opens in the user's browser, which we neither own nor can find again, so choosing
  // Help twice simply opens it twice and Exit has no help window to ask about closing.
  return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(page.string())));
}

}  // namespace kuv
