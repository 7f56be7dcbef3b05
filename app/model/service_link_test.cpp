// One unreachable request ends its pass; each thread has its own pass; the quiet retries of a
// service found gone take a single try.
#include "app/model/service_link.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace kuv {
namespace {

// Requests of one pass, each answered or not when made: which of them are made.
TEST(ServicePass, RequestsAfterTheFirstUnreachableOneAreNotMade) {
  struct Case {
    const char* name;
    std::vector<bool> answers;  // of the requests that are made, in order
    std::vector<bool> made;     // of five requests in a row
  };
  const Case cases[] = {
      {"all answered", {true, true, true, true, true}, {true, true, true, true, true}},
      {"first unreachable", {false}, {true, false, false, false, false}},
      {"third unreachable", {true, true, false}, {true, true, true, false, false}},
      {"last unreachable", {true, true, true, true, false}, {true, true, true, true, true}},
  };
  for (const Case& c : cases) {
    ServiceLink link;
    ServicePass pass(link);
    std::vector<bool> made;
    std::size_t answered = 0;
    for (int i = 0; i < 5; ++i) {
      made.push_back(link.MayAsk());
      if (made.back()) link.Record(c.answers.at(answered++));
    }
    EXPECT_EQ(made, c.made) << c.name;
    EXPECT_EQ(pass.unreachable(), !c.answers.back()) << c.name;
  }
}

TEST(ServicePass, ANestedPassJoinsTheOuterOneAndTheNextPassAsksAgain) {
  ServiceLink link;
  {
    ServicePass outer(link);
    {
      ServicePass inner(link);
      link.Record(false);
      EXPECT_TRUE(inner.unreachable());
    }
    EXPECT_TRUE(outer.unreachable()) << "the flow that called another is the same pass";
    EXPECT_FALSE(link.MayAsk());
  }
  {
    ServicePass next(link);
    EXPECT_FALSE(next.unreachable());
    EXPECT_TRUE(link.MayAsk()) << "the next pass is the retry";
  }
  // Outside any pass every request is made.
  link.Record(false);
  EXPECT_TRUE(link.MayAsk());
}

TEST(ServicePass, AnotherThreadsPassIsNotEndedByThisOne) {
  ServiceLink link;
  ServicePass pass(link);
  link.Record(false);
  ASSERT_FALSE(link.MayAsk());
  bool workerMayAsk = false;
  std::thread([&] {
    ServicePass scan(link);
    workerMayAsk = link.MayAsk();
  }).join();
  EXPECT_TRUE(workerMayAsk);
}

TEST(ServiceLink, TriesAreTheClientsUntilTheServiceIsFoundGoneThenOneUntilItAnswers) {
  ServiceLink link;
  EXPECT_TRUE(link.reachable());
  EXPECT_EQ(link.Attempts(10), 10);
  link.Record(false);
  EXPECT_FALSE(link.reachable());
  EXPECT_EQ(link.Attempts(10), 1);
  link.Record(false);
  EXPECT_EQ(link.Attempts(10), 1);
  link.Record(true);
  EXPECT_TRUE(link.reachable());
  EXPECT_EQ(link.Attempts(10), 10);
}

}  // namespace
}  // namespace kuv
