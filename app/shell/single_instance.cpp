#include "app/shell/single_instance.h"

#include <QLocalSocket>
#include <QPointer>
#include <cstdio>

#include "app/model/user_folders.h"

namespace kuv {
namespace {

// The folder is the user's own, so a short name does; a socket's whole path must fit in 107 bytes.
constexpr char kSocketName[] = "KuvLcdManager.socket";
constexpr int kConnectMs = 500;

}  // namespace

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {
  connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::ReadRequests);
}

QString SingleInstance::ServerName(std::string& error) {
  const std::optional<std::string> runtime = UserRuntimeFolder(error);
  if (!runtime) return QString();
  return QString::fromStdString(*runtime + "/" + kSocketName);
}

bool SingleInstance::Claim() {
  error_.clear();
  const QString name = ServerName(error_);
  if (name.isEmpty()) {
    // Without a private folder another user could take the name first; better not to start.
    std::fprintf(stderr, "KuvLcdManager: %s\n", error_.c_str());
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
  if (server_.listen(name)) return true;
  error_ = "cannot listen on " + name.toStdString() + ": " + server_.errorString().toStdString();
  std::fprintf(stderr, "KuvLcdManager: %s\n", error_.c_str());
  return false;
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
