#pragma once
// File-system queries that a hung mount (an unplugged disk, a dead network share) can block for
// minutes: they run on a worker thread and are given up after a short time, so one unanswering
// disk cannot stall a whole scan.

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "panelio/env.h"

namespace kuv {

// How long a scan waits for its volumes' sizes.
inline constexpr std::chrono::milliseconds kVolumeQueryLimit{1000};

struct SpaceQuery {
  std::string key;  // names the mount: one query of a key runs at a time
  std::function<Result<SpaceInfo>()> query;
};

// Runs the queries one after another on one worker thread, so that asking for every volume
// costs one thread and one wait, and waits at most limit for them all. Answers in order; a query
// not answered by then gives ETIMEDOUT, and the worker drops those it has not started. While an
// earlier query of a key is still hanging, a new one is not started and fails with ETIMEDOUT at
// once, so a hung mount holds at most one thread.
std::vector<Result<SpaceInfo>> BoundedSpaceQueries(std::vector<SpaceQuery> queries,
                                                   std::chrono::milliseconds limit =
                                                       kVolumeQueryLimit);

// One query alone.
Result<SpaceInfo> BoundedSpaceQuery(const std::string& key,
                                    std::function<Result<SpaceInfo>()> query,
                                    std::chrono::milliseconds limit = kVolumeQueryLimit);

}  // namespace kuv
