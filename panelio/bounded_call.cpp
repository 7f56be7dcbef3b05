#include "panelio/bounded_call.h"

#include <cerrno>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>

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

void Release(const std::string& key) {
  std::lock_guard<std::mutex> lock(BusyMutex());
  BusyKeys().erase(key);
}

// What the worker and the waiter share; the worker may outlive the wait.
struct Batch {
  std::vector<SpaceQuery> queries;
  std::mutex mutex;
  std::condition_variable done;
  std::size_t started = 0;  // queries the worker has begun
  std::size_t answered = 0;
  bool abandoned = false;
  std::vector<std::optional<Result<SpaceInfo>>> results;
};

void Work(const std::shared_ptr<Batch>& batch) {
  for (std::size_t i = 0; i < batch->queries.size(); ++i) {
    {
      // The waiter released the keys of the queries not started when it gave up.
      std::lock_guard<std::mutex> lock(batch->mutex);
      if (batch->abandoned) return;
      batch->started = i + 1;
    }
    Result<SpaceInfo> r = batch->queries[i].query();
    Release(batch->queries[i].key);
    {
      std::lock_guard<std::mutex> lock(batch->mutex);
      batch->results[i] = std::move(r);
      ++batch->answered;
    }
  }
  // Notified after the unlock, so the waiter does not wake only to block on the mutex again.
  batch->done.notify_all();
}

}  // namespace

std::vector<Result<SpaceInfo>> BoundedSpaceQueries(std::vector<SpaceQuery> queries,
                                                   std::chrono::milliseconds limit) {
  std::vector<Result<SpaceInfo>> out;
  auto batch = std::make_shared<Batch>();
  // (place in out, query of the batch); a key asked twice in one batch is run once.
  std::vector<std::pair<std::size_t, std::size_t>> slots;
  std::map<std::string, std::size_t> batched;
  {
    std::lock_guard<std::mutex> lock(BusyMutex());
    for (SpaceQuery& q : queries) {
      auto same = batched.find(q.key);
      if (same == batched.end() && !BusyKeys().insert(q.key).second) {
        out.push_back(PosixError(q.key + " has not answered an earlier query", ETIMEDOUT));
        continue;
      }
      if (same == batched.end()) {
        same = batched.emplace(q.key, batch->queries.size()).first;
        batch->queries.push_back(std::move(q));
      }
      slots.emplace_back(out.size(), same->second);
      out.push_back(PosixError(same->first + " did not answer in time", ETIMEDOUT));
    }
  }
  if (batch->queries.empty()) return out;
  batch->results.resize(batch->queries.size());
  try {
    std::thread([batch] { Work(batch); }).detach();
  } catch (const std::system_error& e) {
    const int err = e.code().value() ? e.code().value() : EAGAIN;
    for (const SpaceQuery& q : batch->queries) Release(q.key);
    for (const auto& [place, query] : slots)
      out[place] = PosixError("thread for " + batch->queries[query].key, err);
    return out;
  }
  std::unique_lock<std::mutex> lock(batch->mutex);
  batch->done.wait_for(lock, limit, [&] { return batch->answered == batch->queries.size(); });
  batch->abandoned = true;
  for (std::size_t i = batch->started; i < batch->queries.size(); ++i)
    Release(batch->queries[i].key);
  for (const auto& [place, query] : slots) {
    if (batch->results[query]) out[place] = *batch->results[query];
  }
  return out;
}

Result<SpaceInfo> BoundedSpaceQuery(const std::string& key,
                                    std::function<Result<SpaceInfo>()> query,
                                    std::chrono::milliseconds limit) {
  std::vector<SpaceQuery> one;
  one.push_back({key, std::move(query)});
  return std::move(BoundedSpaceQueries(std::move(one), limit).front());
}

}  // namespace kuv
