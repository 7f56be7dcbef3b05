#include "app/shell/single_instance.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QLocalServer>

#include "app/model/test_fakes.h"

namespace kuv {
namespace {

// Without a runtime directory the socket once had a fixed name in the temporary folder: another
// user who listened there first made every start of this user's program end at once.
TEST(SingleInstance, AnotherUsersSocketInTheTemporaryFolderIsNeverAsked) {
  testing::TempDir dir;
  testing::ScopedEnv runtime("XDG_RUNTIME_DIR", std::nullopt);
  testing::ScopedEnv cache("XDG_CACHE_HOME", dir.path() + "/cache");
  testing::ScopedEnv tmpdir("TMPDIR", dir.path());
  ASSERT_EQ(QDir::tempPath().toStdString(), dir.path());
  QLocalServer squatter;
  squatter.setSocketOptions(QLocalServer::WorldAccessOption);
  // The name the program once used there.
  const QString squatted =
      QStringLiteral("%1/KuvLcdManager-72D5B9F2-BEB5-4266-B65D-68188277905C-%2")
          .arg(QDir::tempPath())
          .arg(::getuid());
  ASSERT_TRUE(squatter.listen(squatted)) << squatter.errorString().toStdString();
  if (::geteuid() == 0) {
    ASSERT_EQ(::lchown(squatted.toLocal8Bit().constData(), ::geteuid() + 4242, 0), 0);
  }

  SingleInstance instance;
  EXPECT_TRUE(instance.Claim()) << instance.error();
  std::string error;
  EXPECT_TRUE(
      SingleInstance::ServerName(error).startsWith(QString::fromStdString(dir.path() + "/cache/")));
  EXPECT_FALSE(squatter.hasPendingConnections());
}

// A home deep enough for the runtime folder's path to leave no room for a socket's name is
// reported, not mistaken for a copy already running.
TEST(SingleInstance, ASocketItCannotMakeIsReported) {
  testing::TempDir dir;
  testing::ScopedEnv runtime("XDG_RUNTIME_DIR", std::nullopt);
  testing::ScopedEnv cache("XDG_CACHE_HOME", dir.path() + "/" + std::string(100, 'c'));
  SingleInstance instance;
  EXPECT_FALSE(instance.Claim());
  EXPECT_NE(instance.error().find("cannot listen"), std::string::npos) << instance.error();
}

}  // namespace
}  // namespace kuv
