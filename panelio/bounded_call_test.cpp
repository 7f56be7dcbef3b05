// Size queries of mounts that may hang: one worker for a whole batch, answers in order, a hung
// mount costs its own answer and those queued behind it, never the caller's time beyond the limit.
#include "panelio/bounded_call.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <future>
#include <thread>

namespace kuv {
namespace {

using namespace std::chrono_literals;

SpaceQuery Answering(const std::string& key, std::uint64_t total, std::atomic<int>* runs) {
  return {key, [total, runs]() -> Result<SpaceInfo> {
            ++*runs;
            return SpaceInfo{total, total / 2};
          }};
}

TEST(BoundedSpaceQueries, OneWorkerAnswersInOrderAndAKeyAskedTwiceRunsOnce) {
  std::atomic<int> runs{0};
  std::vector<SpaceQuery> batch;
  batch.push_back(Answering("order a", 100, &runs));
  batch.push_back(Answering("order b", 200, &runs));
  batch.push_back(Answering("order a", 100, &runs));
  const std::vector<Result<SpaceInfo>> spaces = BoundedSpaceQueries(std::move(batch), 5s);
  ASSERT_EQ(spaces.size(), 3u);
  EXPECT_EQ(spaces[0]->totalBytes, 100u);
  EXPECT_EQ(spaces[1]->totalBytes, 200u);
  EXPECT_EQ(spaces[2]->totalBytes, 100u);
  EXPECT_EQ(runs.load(), 2);
}

TEST(BoundedSpaceQueries, AHungMountCostsOnlyItselfAndWhatWaitedBehindIt) {
  std::promise<void> unplug;
  std::shared_future<void> answered = unplug.get_future().share();
  std::atomic<int> runs{0};
  std::vector<SpaceQuery> batch;
  batch.push_back(Answering("hang first", 1, &runs));
  batch.push_back({"hang stuck", [answered]() -> Result<SpaceInfo> {
                     answered.wait();
                     return SpaceInfo{2, 1};
                   }});
  batch.push_back(Answering("hang behind", 3, &runs));
  const auto started = std::chrono::steady_clock::now();
  std::vector<Result<SpaceInfo>> spaces = BoundedSpaceQueries(std::move(batch), 100ms);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
  ASSERT_EQ(spaces.size(), 3u);
  EXPECT_TRUE(spaces[0].ok());
  EXPECT_EQ(spaces[1].status().code(), ETIMEDOUT);
  EXPECT_EQ(spaces[2].status().code(), ETIMEDOUT);

  // While the mount still hangs it is not asked again, and the one behind it is free.
  std::vector<SpaceQuery> next;
  next.push_back({"hang stuck", [] () -> Result<SpaceInfo> { return SpaceInfo{2, 1}; }});
  next.push_back(Answering("hang behind", 3, &runs));
  spaces = BoundedSpaceQueries(std::move(next), 5s);
  EXPECT_EQ(spaces[0].status().code(), ETIMEDOUT);
  EXPECT_TRUE(spaces[1].ok());

  // Once it answers, the worker drops what it had not started, and the mount is asked again.
  unplug.set_value();
  for (int i = 0; i < 500; ++i) {
    spaces = BoundedSpaceQueries({{"hang stuck", [] () -> Result<SpaceInfo> {
                                     return SpaceInfo{2, 1};
                                   }}});
    if (spaces[0].ok()) break;
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_TRUE(spaces[0].ok());
  EXPECT_EQ(runs.load(), 2) << "the query queued behind the hung one ran after all";
}

}  // namespace
}  // namespace kuv
