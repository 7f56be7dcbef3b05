#include "panelsvc/fair_share.h"

#include <utility>

namespace kuv::svc {

std::optional<std::size_t> ConnectionToClose(UserId newcomer, std::span<const Holding> open) {
  std::map<UserId, int> held{{newcomer, 1}};
  // open is in arrival order, so the first one owing its record is a user's oldest.
  std::map<UserId, std::size_t> oldestOwing;
  for (std::size_t i = 0; i < open.size(); ++i) {
    ++held[open[i].uid];
    if (open[i].owing) oldestOwing.try_emplace(open[i].uid, i);
  }
  std::optional<UserId> chosen;
  for (const auto& [uid, count] : held) {
    const auto it = oldestOwing.find(uid);
    // The newcomer owes its record too, so its own user is always a candidate.
    if (it == oldestOwing.end() && uid != newcomer) continue;
    if (!chosen) {
      chosen = uid;
      continue;
    }
    const int best = held[*chosen];
    if (count != best) {
      if (count > best) chosen = uid;
    } else if (*chosen != newcomer &&
               (uid == newcomer || open[it->second].order < open[oldestOwing[*chosen]].order)) {
      chosen = uid;
    }
  }
  const auto it = oldestOwing.find(*chosen);
  if (it == oldestOwing.end()) return std::nullopt;
  return it->second;
}

std::optional<std::size_t> NextToServe(std::span<const Waiting> waiting,
                                       const std::map<UserId, std::uint64_t>& lastServed) {
  std::optional<std::size_t> next;
  std::pair<std::uint64_t, std::uint64_t> best{};
  for (std::size_t i = 0; i < waiting.size(); ++i) {
    const auto it = lastServed.find(waiting[i].uid);
    const std::pair<std::uint64_t, std::uint64_t> key{it == lastServed.end() ? 0 : it->second,
                                                      waiting[i].order};
    if (!next || key < best) {
      next = i;
      best = key;
    }
  }
  return next;
}

}  // namespace kuv::svc
