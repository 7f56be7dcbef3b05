#include "panelsvc/fair_share.h"

#include <gtest/gtest.h>

#include <vector>

namespace kuv::svc {
namespace {

struct CloseCase {
  const char* what;
  UserId newcomer;
  std::vector<Holding> open;
  std::optional<std::size_t> closed;
};

TEST(FairShare, TheUserHoldingTheMostMakesRoom) {
  const std::vector<CloseCase> cases = {
      {"the user holding the most loses its oldest owing connection",
       1,
       {{2, false, 0}, {2, true, 1}, {2, true, 2}, {1, true, 3}},
       1},
      {"the newcomer's own user when it holds the most",
       1,
       {{1, true, 0}, {2, true, 1}, {1, true, 2}},
       0},
      {"the newcomer counts with its user and wins a tie",
       1,
       {{2, true, 0}, {2, true, 1}, {1, true, 2}},
       2},
      {"a tie between others goes to the older connection",
       3,
       {{2, true, 5}, {4, true, 1}, {2, true, 6}, {4, true, 7}},
       1},
      {"the newcomer goes when its user holds the most and owes nothing else",
       1,
       {{1, false, 0}, {1, false, 1}, {2, true, 2}},
       std::nullopt},
      {"users owing nothing are passed over; a tie with the newcomer drops it",
       3,
       {{2, false, 0}, {2, false, 1}, {2, false, 2}, {4, true, 3}},
       std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ConnectionToClose(c.newcomer, c.open), c.closed) << c.what;
  }
}

TEST(FairShare, TheUserServedLongestAgoGoesFirstThenTheEarlierRecord) {
  const std::vector<Waiting> waiting = {{1, 10}, {2, 11}, {1, 5}, {3, 12}};
  EXPECT_EQ(NextToServe(waiting, {{1, 20}, {2, 30}, {3, 25}}), 2u);
  EXPECT_EQ(NextToServe(waiting, {{1, 20}, {2, 3}, {3, 25}}), 1u);
  // Never served comes before anyone served.
  EXPECT_EQ(NextToServe(waiting, {{1, 20}, {2, 30}}), 3u);
  EXPECT_EQ(NextToServe({}, {}), std::nullopt);
}

}  // namespace
}  // namespace kuv::svc
