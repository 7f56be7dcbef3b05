#pragma once
// File-system queries that a hung mount (an unplugged disk, a dead network share) can block for
// minutes: each runs on a worker thread and is given up after a short time, so one unanswering
// disk cannot stall a whole scan.

#include <chrono>
#include <functional>
#include <string>

#include "panelio/env.h"

namespace kuv {

// How long a scan waits for one volume's sizes.
inline constexpr std::chrono::milliseconds kVolumeQueryLimit{1000};

// Runs query on a worker thread and waits at most limit for it. ETIMEDOUT when it has not
// answered by then; the worker finishes on its own later. While an earlier query of the same key
// is still hanging, a new one is not started and fails with ETIMEDOUT at once, so a hung mount
// holds at most one thread.
Result<SpaceInfo> BoundedSpaceQuery(const std::string& key,
                                    std::function<Result<SpaceInfo>()> query,
                                    std::chrono::milliseconds limit = kVolumeQueryLimit);

}  // namespace kuv
