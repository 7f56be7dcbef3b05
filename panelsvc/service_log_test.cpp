#include "panelsvc/service_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kuv::svc {
namespace {

TEST(EscapeForLog, NothingAClientSendsCanShapeTheLog) {
  struct Case {
    std::string in;
    std::string out;
  };
  const std::vector<Case> cases = {
      {"/media/ann/My Disk/TAVIO_LCDMANAGER", "/media/ann/My Disk/TAVIO_LCDMANAGER"},
      {"/x\npanelsvc: created /etc", "/x\\x0Apanelsvc: created /etc"},
      {"a\rb\tc", "a\\x0Db\\x09c"},
      {"\x1b[2J\x1b]0;title\x07", "\\x1B[2J\\x1B]0;title\\x07"},
      {"back\\x0A", "back\\\\x0A"},  // a literal escape cannot pass for one we made
      {"del\x7f", "del\\x7F"},
      {"c1 \xc2\x9b", "c1 \\x9B"},
      {"not utf-8 \xff\xc3", "not utf-8 \\xFF\\xC3"},
      {"overlong \xc0\xaf", "overlong \\xC0\\xAF"},
      {"bidi \xe2\x80\xaetxt.exe", "bidi \\u{202E}txt.exe"},
      {"line \xe2\x80\xa8sep", "line \\u{2028}sep"},
      {"日本語のディスク", "日本語のディスク"},
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeForLog(c.in), c.out) << c.in;
}

TEST(EscapeForLog, LongTextIsCutOnACharacterWithAMark) {
  EXPECT_EQ(EscapeForLog(std::string(10, 'a'), 10), std::string(10, 'a'));
  EXPECT_EQ(EscapeForLog(std::string(11, 'a'), 10), "aaaaaaa...");
  // Escapes count at their escaped size and are never split.
  EXPECT_EQ(EscapeForLog("ab\n\n\n\n", 10), "ab\\x0A...");
  // Three-byte characters are not split either.
  EXPECT_EQ(EscapeForLog("日本語のディスク", 10), "日本...");
  const std::string flood(100000, '\n');
  EXPECT_LE(EscapeForLog(flood).size(), kMaxLogLine);
}

class RateLimitedLogTest : public ::testing::Test {
 protected:
  RateLimitedLog::Clock::time_point now_{};
  std::vector<std::string> lines_;
  RateLimitedLog log_{[this](const std::string& line) { lines_.push_back(line); },
                      [this] { return now_; }, 3, std::chrono::seconds(10)};
};

TEST_F(RateLimitedLogTest, EachUserHasAShareAndHearsWhatWasSuppressed) {
  for (int i = 0; i < 100; ++i) log_.Write(1000, LogKind::kRefusal, "flood " + std::to_string(i));
  log_.Write(1000, LogKind::kError, "dropped");
  log_.Write(1001, LogKind::kError, "other user\n");
  ASSERT_EQ(lines_.size(), 4u);
  EXPECT_EQ(lines_[2], "flood 2");
  EXPECT_EQ(lines_[3], "other user\\x0A");
  ASSERT_TRUE(log_.NextFlush());
  EXPECT_EQ(*log_.NextFlush(), now_ + std::chrono::seconds(10));

  now_ += std::chrono::seconds(9);
  log_.Flush();
  EXPECT_EQ(lines_.size(), 4u);
  now_ += std::chrono::seconds(1);
  log_.Flush();
  ASSERT_EQ(lines_.size(), 5u);
  EXPECT_EQ(lines_[4], "suppressed 97 refusals and 1 client error from uid 1000");
  EXPECT_FALSE(log_.NextFlush());

  log_.Write(1000, LogKind::kRefusal, "a new window");
  EXPECT_EQ(lines_.back(), "a new window");
}

TEST_F(RateLimitedLogTest, ChangesAreNeverSuppressedNorSpendTheShare) {
  for (int i = 0; i < 20; ++i) log_.Write(7, LogKind::kRefusal, "junk");
  log_.Write(7, LogKind::kChange, "registered the automatic start\n");
  ASSERT_EQ(lines_.size(), 4u);
  EXPECT_EQ(lines_.back(), "registered the automatic start\\x0A") << "escaped all the same";

  for (int i = 0; i < 5; ++i) log_.Write(8, LogKind::kChange, "created " + std::to_string(i));
  log_.Write(8, LogKind::kError, "dropped");
  EXPECT_EQ(lines_.back(), "dropped");
  EXPECT_EQ(lines_.size(), 10u);
}

TEST_F(RateLimitedLogTest, TheSummaryComesBeforeTheNextWindowsLines) {
  for (int i = 0; i < 5; ++i) log_.Write(7, LogKind::kError, "x");
  now_ += std::chrono::seconds(11);
  log_.Write(7, LogKind::kRefusal, "y");
  ASSERT_EQ(lines_.size(), 5u);
  EXPECT_EQ(lines_[3], "suppressed 2 client errors from uid 7");
  EXPECT_EQ(lines_[4], "y");
}

}  // namespace
}  // namespace kuv::svc
