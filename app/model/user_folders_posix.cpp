// The user's folders on POSIX systems, after the XDG base directory rules.

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/model/user_folders.h"
#include "panelio/unique_fd.h"

namespace kuv {
namespace {

// An environment variable naming a folder; relative values are invalid by the base-directory
// rules and are ignored.
std::string AbsoluteFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  std::string path = value && value[0] == '/' ? value : "";
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string HomeFolder() {
  std::string home = AbsoluteFromEnvironment("HOME");
  if (!home.empty()) return home;
  if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/') {
    return pw->pw_dir;
  }
  return "";
}

// A real folder (not a link) of the user's that nobody else may enter.
bool IsPrivateFolder(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
         (st.st_mode & 077) == 0;
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  std::string host(name);
  for (char& c : host) {
    if (c == '/') c = '_';
  }
  return host;
}

}  // namespace

std::string TemporaryFolder() {
  std::string folder = AbsoluteFromEnvironment("TMPDIR");
  if (folder.empty()) folder = "/tmp";
  if (folder.back() != '/') folder += '/';
  return folder;
}

std::string UserDataHome() {
  std::string data = AbsoluteFromEnvironment("XDG_DATA_HOME");
  if (!data.empty()) return data;
  const std::string home = HomeFolder();
  return home.empty() ? std::string() : home + "/.local/share";
}

std::string LoginName() {
  std::vector<char> buffer(16384);
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
      !found->pw_name) {
    return {};
  }
  return found->pw_name;
}

void MakePrivateFolders(const std::string& path) {
  for (std::size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
    const std::string prefix = path.substr(0, at);
    if (!prefix.empty()) ::mkdir(prefix.c_str(), 0700);
    if (at == std::string::npos) return;
  }
}

std::optional<std::string> UserRuntimeFolder(std::string& error) {
  const std::string runtime = AbsoluteFromEnvironment("XDG_RUNTIME_DIR");
  if (!runtime.empty() && IsPrivateFolder(runtime)) return runtime;
  // The cache folder is the user's alone, and the host's name keeps machines that share a home
  // from taking each other's locks.
  std::string cache = AbsoluteFromEnvironment("XDG_CACHE_HOME");
  if (cache.empty()) {
    const std::string home = HomeFolder();
    if (home.empty()) {
      error = "no runtime folder: neither XDG_RUNTIME_DIR nor a home folder is set";
      return std::nullopt;
    }
    cache = home + "/.cache";
  }
  const std::string parent = cache + "/TAVIO/KuvLcdManager";
  const std::string folder = parent + "/run-" + HostName();
  MakePrivateFolders(parent);
  ::mkdir(folder.c_str(), 0700);
  UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st {};
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
    error = "cannot open the runtime folder " + folder + ": " + std::strerror(errno);
    return std::nullopt;
  }
  if (st.st_uid != ::geteuid()) {
    error = "the runtime folder " + folder + " is not this user's";
    return std::nullopt;
  }
  if ((st.st_mode & 077) != 0 && ::fchmod(fd.get(), 0700) != 0) {
    error = "cannot close the runtime folder " + folder + " to others: " + std::strerror(errno);
    return std::nullopt;
  }
  return folder;
}

}  // namespace kuv
