#include "app/shell/single_instance.h"

#include <unistd.h>

#include <QLocalSocket>
#include <QPointer>
#include <cstdio>

#include "app/model/user_folders.h"

namespace kuv {
namespace {

constexpr char kInstanceGuid[] = "72D5B9F2-BEB5-4266-B65D-68188277905C";
constexpr int kConnectMs = 500;

}  // namespace

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {
  connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::ReadRequests);
}

QString SingleInstance::ServerName(std::string& error) {
  const std::optional<std::string> runtime = UserRuntimeFolder(error);
  if (!runtime) return QString();
  return QString::fromStdString(*runtime) +
         QStringLiteral("/KuvLcdManager-%1-%2").arg(kInstanceGuid).arg(::getuid());
}

bool SingleInstance::Claim() {
  std::string error;
  const QString name = ServerName(error);
  if (name.isEmpty()) {
    // Without a private folder another user could take the name first; better not to start.
    std::fprintf(stderr, "KuvLcdManager: %s\n", error.c_str());
    return false;
  }
  QLocalSocket peer;
  peer.connectToServer(name);
  if (peer.waitForConnected(kConnectMs)) {
    // The same pair of requests the tray icon's double click and a lost icon would give.
    peer.write("show\ntray\n");
    peer.waitForBytesWritten(kConnectMs);
    peer.disconnectFromServer();
    return false;
  }
  // Nobody answered: a socket left by a crashed copy is stale.
  QLocalServer::removeServer(name);
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  return server_.listen(name);
}

void SingleInstance::ReadRequests() {
  while (QLocalSocket* client = server_.nextPendingConnection()) {
    QPointer<QLocalSocket> guard(client);
    connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
    connect(client, &QLocalSocket::readyRead, this, [this, guard] {
      if (!guard) return;
      while (guard->canReadLine()) {
        const QByteArray line = guard->readLine(64).trimmed();
        if (line == "show") emit showRequested();
        if (line == "tray") emit trayRequested();
      }
      // A peer that sends more than two short requests is not one of ours.
      if (guard->bytesAvailable() > 256) guard->abort();
    });
  }
}

}  // namespace kuv
