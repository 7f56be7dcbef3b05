#pragma once
// File operations done for a client are checked by the system as that client's, so a folder the
// client owns cannot be swapped for a link that lets the service write or delete elsewhere.

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kuv::svc {

// Whose share a connection and its log lines count against: the uid here; on Windows the number
// the service gave the client's account (one per account it has seen).
using UserId = std::uint32_t;
using GroupId = std::uint32_t;

// The process at the other end of a connection. Here: pid, uid and gid from SO_PEERCRED, the
// supplementary groups from SO_PEERGROUPS (what the client holds, not what the password database
// says it might). On Windows: the client's process id, and the access token its pipe gave when
// its record came (a HANDLE, closed with the last copy), under which its file work is done.
struct Peer {
  pid_t pid = 0;
  UserId uid = 0;
  GroupId gid = 0;
  std::vector<GroupId> groups = {};
  std::shared_ptr<void> token = {};
};

// How log lines name the peer: "pid 12 uid 1000" here, "pid 12 user S-1-5-21-..." on Windows.
std::string Describe(const Peer& peer);

// Reads the peer of a connected Unix socket; false when the kernel gave no whole answer.
bool ReadPeer(int socketFd, Peer* peer);

// Windows: the process id and account (a SID string) of the client connected on pipe (a HANDLE),
// as its process tells before the client has sent anything; 0 and empty when it cannot be asked.
// Only what a connection counts against depends on it.
struct PipeClient {
  pid_t pid = 0;
  std::string account;
};
PipeClient AskPipeClient(void* pipe);

// Windows: the access token the client gave its pipe (the system lends it once a record has
// been read from the pipe), closed with its last copy; null when it cannot be taken.
std::shared_ptr<void> TakePipeClientToken(void* pipe);

// Windows: the account a token belongs to, as a SID string; empty when it cannot be read.
std::string TokenAccount(void* token);

// While alive, this thread acts as the peer: here its file-system uid, gid and supplementary
// groups are the peer's (nothing changes when the service does not run as root or the peer is
// root); on Windows the thread impersonates the peer's token.
class ScopedPeerIdentity {
 public:
  explicit ScopedPeerIdentity(const Peer& peer);
  ScopedPeerIdentity(const ScopedPeerIdentity&) = delete;
  ScopedPeerIdentity& operator=(const ScopedPeerIdentity&) = delete;
  ~ScopedPeerIdentity();

  // False when the switch failed; the caller must not go on with the service's own rights.
  bool active() const { return active_; }

 private:
  bool switched_ = false;
  bool active_ = false;
  UserId savedFsuid_ = 0;
  GroupId savedFsgid_ = 0;
  std::vector<GroupId> savedGroups_;
};

}  // namespace kuv::svc
