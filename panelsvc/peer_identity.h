#pragma once
// File operations done for a client are checked by the kernel as that client's, so a folder the
// client owns cannot be swapped for a link that lets root write or delete elsewhere.

#include <sys/types.h>

#include <vector>

namespace kuv::svc {

// The process at the other end of a connection: pid, uid and gid from SO_PEERCRED, the
// supplementary groups from SO_PEERGROUPS (what the client holds, not what the password database
// says it might).
struct Peer {
  pid_t pid = 0;
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups = {};
};

// Reads the peer of a connected Unix socket; false when the kernel gave no whole answer.
bool ReadPeer(int socketFd, Peer* peer);

// While alive, this thread's file-system uid, gid and supplementary groups are the peer's. Does
// nothing (and is active()) when the service does not run as root or the peer is root.
class ScopedPeerIdentity {
 public:
  explicit ScopedPeerIdentity(const Peer& peer);
  ScopedPeerIdentity(const ScopedPeerIdentity&) = delete;
  ScopedPeerIdentity& operator=(const ScopedPeerIdentity&) = delete;
  ~ScopedPeerIdentity();

  // False when the switch failed; the caller must not go on as root.
  bool active() const { return active_; }

 private:
  bool switched_ = false;
  bool active_ = false;
  uid_t savedFsuid_ = 0;
  gid_t savedFsgid_ = 0;
  std::vector<gid_t> savedGroups_;
};

}  // namespace kuv::svc
