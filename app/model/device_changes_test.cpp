#include "app/model/device_changes.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "app/model/test_fakes.h"

namespace kuv {
namespace {

TEST(DeviceChanges, WhichUdevEventsCount) {
  struct Case {
    DeviceEvent event;
    bool counts;
  };
  const Case cases[] = {
      {{"add", "block", "sdb", false}, true},
      {{"add", "block", "sdb1", false}, true},
      {{"remove", "block", "sdaa", false}, true},
      {{"add", "hidraw", "hidraw3", false}, true},
      {{"remove", "hidraw", "hidraw3", false}, true},
      // What closing a disk opened for writing makes udev send: the service's own requests.
      {{"change", "block", "sdb", false}, false},
      {{"change", "block", "sdb", true}, true},  // a medium went in or out
      {{"change", "hidraw", "hidraw3", false}, false},
      {{"add", "block", "loop7", false}, false},
      {{"add", "block", "dm-0", false}, false},
      {{"add", "usb", "1-2", false}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.event.action + " " + c.event.sysname);
    EXPECT_EQ(CountsAsDeviceChange(c.event), c.counts);
  }
}

// A burst is drained whole: any event that counts, or any lost to an overflowing receive buffer,
// makes the burst count, wherever it falls in the burst.
TEST(DeviceChanges, ABurstCountsWhenAnyOfItCounts) {
  const DeviceEvent counts{"add", "block", "sdb1", false};
  const DeviceEvent closeOfAWriter{"change", "block", "sdb", false};
  const ReceivedEvent yes{counts, 0}, no{closeOfAWriter, 0}, lost{std::nullopt, ENOBUFS},
      interrupted{std::nullopt, EINTR};
  struct Case {
    const char* what;
    std::vector<ReceivedEvent> burst;
    bool counts;
    std::size_t received;  // the burst is read to its end
  };
  const Case cases[] = {
      {"nothing", {}, false, 1},
      {"only what the service's closes cause", {no, no}, false, 3},
      {"the last does not count", {yes, no}, true, 3},
      {"the first does not count", {no, yes}, true, 3},
      {"events lost to an overflow", {no, lost, no}, true, 4},
      {"an interrupted receive", {no, interrupted, yes}, true, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::size_t next = 0;
    bool counted = DrainDeviceEvents([&] {
      return next < c.burst.size() ? c.burst[next++]
                                   : (++next, ReceivedEvent{std::nullopt, EAGAIN});
    });
    EXPECT_EQ(counted, c.counts);
    EXPECT_EQ(next, c.received);
  }
}

bool Readable(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, timeoutMs) == 1;
}

TEST(DeviceChanges, TheWorldWatcherSeesWorldJsonReplacedButNotTheStateFiles) {
  testing::TempDir dir;
  std::filesystem::create_directories(dir.path() + "/state");
  std::string error;
  auto source = OpenWorldChanges(dir.path(), error);
  ASSERT_TRUE(source) << error;
  EXPECT_FALSE(source->TakeChanges());

  std::ofstream(dir.path() + "/state/panel.json") << "{}";
  std::ofstream(dir.path() + "/notes.txt") << "x";
  EXPECT_FALSE(source->TakeChanges());

  std::ofstream(dir.path() + "/world.json.tmp") << "{}";
  std::filesystem::rename(dir.path() + "/world.json.tmp", dir.path() + "/world.json");
  ASSERT_TRUE(Readable(source->fd(), 1000));
  EXPECT_TRUE(source->TakeChanges());
  EXPECT_FALSE(source->TakeChanges()) << "drained";
  EXPECT_FALSE(Readable(source->fd(), 0));
}

TEST(DeviceChanges, AMissingWorldIsAnError) {
  std::string error;
  EXPECT_FALSE(OpenWorldChanges("/nonexistent/world", error));
  EXPECT_NE(error.find("/nonexistent/world"), std::string::npos);
}

}  // namespace
}  // namespace kuv
