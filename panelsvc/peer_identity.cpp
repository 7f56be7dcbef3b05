#include "panelsvc/peer_identity.h"

#include <grp.h>
#include <pwd.h>
#include <sys/fsuid.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kuv::svc {

namespace {

// The raw system call changes the groups of this thread only; glibc's wrapper would change them
// for every thread of the process.
int SetThreadGroups(const std::vector<gid_t>& groups) {
  return static_cast<int>(::syscall(SYS_setgroups, groups.size(), groups.data()));
}

std::vector<gid_t> GroupsOf(const Peer& peer) {
  std::vector<gid_t> groups{peer.gid};
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(peer.uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) {
    return groups;
  }
  int count = 64;
  std::vector<gid_t> list(static_cast<std::size_t>(count));
  if (::getgrouplist(found->pw_name, peer.gid, list.data(), &count) < 0) {
    list.resize(static_cast<std::size_t>(count));
    if (::getgrouplist(found->pw_name, peer.gid, list.data(), &count) < 0) return groups;
  }
  list.resize(static_cast<std::size_t>(count));
  return list;
}

}  // namespace

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
  if (SetThreadGroups(GroupsOf(peer)) != 0) return;
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
