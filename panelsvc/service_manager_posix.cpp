#include "panelsvc/service_manager.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "panelio/unique_fd.h"

namespace kuv::svc {

bool NotifyServiceManager(std::string_view state) {
  const char* variable = std::getenv("NOTIFY_SOCKET");
  if (!variable) return false;
  const std::string_view name(variable);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  // A path needs its NUL inside the field; an abstract name is counted by length alone.
  const bool abstract = !name.empty() && name.front() == '@';
  if (name.empty() || (!abstract && name.front() != '/') ||
      name.size() + (abstract ? 0 : 1) > sizeof address.sun_path) {
    return false;
  }
  std::memcpy(address.sun_path, name.data(), name.size());
  if (abstract) address.sun_path[0] = '\0';
  const auto length =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size() + (abstract ? 0 : 1));
  UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return false;
  ssize_t sent;
  do {
    sent = ::sendto(fd.get(), state.data(), state.size(), MSG_NOSIGNAL,
                    reinterpret_cast<const sockaddr*>(&address), length);
  } while (sent < 0 && errno == EINTR);
  return sent == static_cast<ssize_t>(state.size());
}

}  // namespace kuv::svc
