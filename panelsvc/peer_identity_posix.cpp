#include "panelsvc/peer_identity.h"

#include <sys/fsuid.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <type_traits>

namespace kuv::svc {

static_assert(std::is_same_v<uid_t, UserId> && std::is_same_v<gid_t, GroupId>);

namespace {

// The raw system call changes the groups of this thread only; glibc's wrapper would change them
// for every thread of the process.
int SetThreadGroups(const std::vector<gid_t>& groups) {
  return static_cast<int>(::syscall(SYS_setgroups, groups.size(), groups.data()));
}

}  // namespace

std::string Describe(const Peer& peer) {
  return "pid " + std::to_string(peer.pid) + " uid " + std::to_string(peer.uid);
}

bool ReadPeer(int socketFd, Peer* peer) {
  ucred credentials{};
  socklen_t length = sizeof credentials;
  if (::getsockopt(socketFd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
      length != sizeof credentials) {
    return false;
  }
  peer->pid = credentials.pid;
  peer->uid = credentials.uid;
  peer->gid = credentials.gid;
  // The kernel answers ERANGE with the size it needs when the buffer is short.
  std::vector<gid_t> groups(16);
  while (true) {
    length = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
    if (::getsockopt(socketFd, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &length) == 0) break;
    if (errno != ERANGE || length <= groups.size() * sizeof(gid_t)) return false;
    groups.resize(length / sizeof(gid_t));
  }
  if (length % sizeof(gid_t) != 0) return false;
  groups.resize(length / sizeof(gid_t));
  peer->groups = std::move(groups);
  return true;
}

ScopedPeerIdentity::ScopedPeerIdentity(const Peer& peer) {
  if (::geteuid() != 0 || peer.uid == 0) {
    active_ = true;
    return;
  }
  int count = ::getgroups(0, nullptr);
  if (count < 0) return;
  savedGroups_.resize(static_cast<std::size_t>(count));
  if (::getgroups(count, savedGroups_.data()) < 0) return;
  switched_ = true;
  if (SetThreadGroups(peer.groups) != 0) return;
  savedFsgid_ = static_cast<gid_t>(::setfsgid(peer.gid));
  savedFsuid_ = static_cast<uid_t>(::setfsuid(peer.uid));
  // setfsuid and setfsgid report no errors; asking again tells whether they took.
  active_ = static_cast<uid_t>(::setfsuid(static_cast<uid_t>(-1))) == peer.uid &&
            static_cast<gid_t>(::setfsgid(static_cast<gid_t>(-1))) == peer.gid;
}

ScopedPeerIdentity::~ScopedPeerIdentity() {
  if (!switched_) return;
  ::setfsuid(savedFsuid_);
  ::setfsgid(savedFsgid_);
  SetThreadGroups(savedGroups_);
}

}  // namespace kuv::svc
