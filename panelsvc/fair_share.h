#pragma once
// How the service shares itself among users, whatever carries the records (a Unix socket, or the
// pipe's instances on Windows): who makes room when every place is taken, and whose record is
// served next.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>

#include "panelsvc/peer_identity.h"

namespace kuv::svc {

// An open connection as the rules see it.
struct Holding {
  UserId uid;
  bool owing;           // its record is not whole yet
  std::uint64_t order;  // arrival, for those owing
};

// Which of open (in arrival order) to close so that a newcomer of `newcomer` fits when every
// place is taken: the oldest connection still owing its record, of the user holding the most
// (the newcomer counted with its own user, which is first among equals), so no group of users can
// lock out the rest. nullopt when that is the newcomer's own user and none of its other
// connections owes a record: the newcomer is then the one to go.
std::optional<std::size_t> ConnectionToClose(UserId newcomer, std::span<const Holding> open);

// A whole record waiting to be served.
struct Waiting {
  UserId uid;
  std::uint64_t order;  // when its record became whole
};

// Which of waiting to serve next: the user served longest ago (lastServed holds when each user
// was last served, on the same clock as order; a user not in it was never served) first, then
// the record that was whole first. nullopt when nothing waits.
std::optional<std::size_t> NextToServe(std::span<const Waiting> waiting,
                                       const std::map<UserId, std::uint64_t>& lastServed);

}  // namespace kuv::svc
