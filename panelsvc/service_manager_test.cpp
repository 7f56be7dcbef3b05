#include "panelsvc/service_manager.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "panelio/env_test_support.h"
#include "panelio/unique_fd.h"

namespace kuv::svc {
namespace {

// A datagram socket bound where $NOTIFY_SOCKET will name it, as the service manager's is.
class Listener {
 public:
  explicit Listener(const std::string& name)
      : fd_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.data(), name.size());
    auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
    if (name.front() == '@') {
      address.sun_path[0] = '\0';
    } else {
      ++length;
    }
    bound_ = ::bind(fd_.get(), reinterpret_cast<sockaddr*>(&address), length) == 0;
  }
  bool bound() const { return bound_; }
  std::string Receive() {
    char buffer[512];
    ssize_t n = ::recv(fd_.get(), buffer, sizeof buffer, MSG_DONTWAIT);
    return n < 0 ? "<nothing>" : std::string(buffer, static_cast<std::size_t>(n));
  }

 private:
  UniqueFd fd_;
  bool bound_ = false;
};

class NotifyTest : public ::testing::Test {
 protected:
  void TearDown() override { ::unsetenv("NOTIFY_SOCKET"); }
  devtest::TempDir dir_;
};

TEST_F(NotifyTest, ReachesAPathOrAnAbstractAddress) {
  for (const std::string& name :
       {dir_.path() + "/notify", "@kuvlcd-notify-test-" + std::to_string(::getpid())}) {
    Listener listener(name);
    ASSERT_TRUE(listener.bound()) << name;
    ::setenv("NOTIFY_SOCKET", name.c_str(), 1);
    EXPECT_TRUE(NotifyServiceManager("READY=1\nSTATUS=Serving")) << name;
    EXPECT_EQ(listener.Receive(), "READY=1\nSTATUS=Serving") << name;
  }
}

TEST_F(NotifyTest, WithoutAUsableAddressNothingIsSent) {
  Listener listener(dir_.path() + "/notify");
  ASSERT_TRUE(listener.bound());
  ::unsetenv("NOTIFY_SOCKET");
  EXPECT_FALSE(NotifyServiceManager("READY=1"));
  for (const std::string& name : {std::string(), std::string("relative/notify"),
                                  dir_.path() + "/missing", "/" + std::string(200, 'a')}) {
    ::setenv("NOTIFY_SOCKET", name.c_str(), 1);
    EXPECT_FALSE(NotifyServiceManager("READY=1")) << name;
  }
  EXPECT_EQ(listener.Receive(), "<nothing>");
}

}  // namespace
}  // namespace kuv::svc
