#pragma once
// One copy of the program per user: the first copy listens on a local socket named from the
// instance GUID and the uid; a second copy asks it to show its window and put its tray icon back.

#include <QLocalServer>
#include <QObject>
#include <QString>

namespace kuv {

class SingleInstance : public QObject {
  Q_OBJECT
 public:
  explicit SingleInstance(QObject* parent = nullptr);

  // The socket name of this user's copy: a path in $XDG_RUNTIME_DIR (private to the user) when
  // there is one, else a name that carries the uid.
  static QString ServerName();

  // True when this process is now the one copy. False when another copy answered; it has then
  // been told "show" and "tray" already.
  bool Claim();

 signals:
  void showRequested();
  void trayRequested();

 private:
  void ReadRequests();
  QLocalServer server_;
};

}  // namespace kuv
