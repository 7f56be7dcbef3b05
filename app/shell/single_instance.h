#pragma once
// One copy of the program per user: the first copy listens on a local socket named from the
// instance GUID and the uid; a second copy asks it to show its window and put its tray icon back.

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <string>

namespace kuv {

class SingleInstance : public QObject {
  Q_OBJECT
 public:
  explicit SingleInstance(QObject* parent = nullptr);

  // The socket of this user's copy in the user's private runtime folder; empty with error set
  // when the user has no such folder.
  static QString ServerName(std::string& error);

  // True when this process is now the one copy. False when another copy answered (it has then
  // been told "show" and "tray" already) or, with error() set and printed, when this copy could
  // not claim its socket.
  bool Claim();
  const std::string& error() const { return error_; }

 signals:
  void showRequested();
  void trayRequested();

 private:
  void ReadRequests();
  QLocalServer server_;
  std::string error_;
};

}  // namespace kuv
