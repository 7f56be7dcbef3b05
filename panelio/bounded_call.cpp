#include "panelio/bounded_call.h"

#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace kuv {
namespace {

// Keys whose query is still running; a process-wide set, since a mount hangs for every caller.
std::mutex& BusyMutex() {
  static std::mutex* m = new std::mutex;  // never destroyed: workers may outlive main
  return *m;
}
std::set<std::string>& BusyKeys() {
  static auto* keys = new std::set<std::string>;
  return *keys;
}

struct Shared {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  Result<SpaceInfo> result = Status(ETIMEDOUT, "not answered");
};

}  // namespace

Result<SpaceInfo> BoundedSpaceQuery(const std::string& key,
                                    std::function<Result<SpaceInfo>()> query,
                                    std::chrono::milliseconds limit) {
  {
    std::lock_guard<std::mutex> lock(BusyMutex());
    if (!BusyKeys().insert(key).second)
      return PosixError(key + " has not answered an earlier query", ETIMEDOUT);
  }
  auto shared = std::make_shared<Shared>();
  try {
    std::thread([shared, key, query = std::move(query)] {
      Result<SpaceInfo> r = query();
      {
        std::lock_guard<std::mutex> lock(BusyMutex());
        BusyKeys().erase(key);
      }
      {
        std::lock_guard<std::mutex> lock(shared->mutex);
        shared->result = std::move(r);
        shared->finished = true;
      }
      // Notified after the unlock, so the waiter does not wake only to block on the mutex again.
      shared->done.notify_all();
    }).detach();
  } catch (const std::system_error& e) {
    std::lock_guard<std::mutex> lock(BusyMutex());
    BusyKeys().erase(key);
    return PosixError("thread for " + key, e.code().value() ? e.code().value() : EAGAIN);
  }
  std::unique_lock<std::mutex> lock(shared->mutex);
  if (!shared->done.wait_for(lock, limit, [&] { return shared->finished; }))
    return PosixError(key + " did not answer in time", ETIMEDOUT);
  return shared->result;
}

}  // namespace kuv
