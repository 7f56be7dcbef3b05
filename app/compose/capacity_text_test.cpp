#include <gtest/gtest.h>

#include "app/compose/line_items.h"

namespace kuv {
namespace {

constexpr std::uint32_t GiB(std::uint32_t n) { return n * 1024; }

TEST(FormatCapacityText, EveryBranch) {
  struct Case {
    std::uint32_t freeMB, totalMB;
    std::u16string text;
  };
  const Case cases[] = {
      {0, 0, u"-/- GB"},
      {500, 1023, u"-/- GB"},
      {0, 1024, u"0/1GB"},
      {GiB(120), GiB(931), u"120/931GB"},
      {GiB(998), GiB(998), u"998/998GB"},
      {GiB(500), GiB(2000), u"0.5/2.0TB"},
      {GiB(50), GiB(2000), u"0.0/2.0TB"},
      {GiB(998), GiB(999), u"0.9/0.9TB"},
      {GiB(999), GiB(999), u"0.9/0.9TB"},
      {GiB(1500), GiB(9999), u"1.5/9.9TB"},
      {GiB(1500), GiB(12000), u"1.5/12TB"},
      {GiB(9999), GiB(10000), u"9.9/10TB"},
      {GiB(12000), GiB(12000), u"12/12TB"},
      {GiB(10000), GiB(3000), u"10/3TB"},  // free above total still formats
      {0xFFFFFFFFu, 0xFFFFFFFFu, u"4194/4194TB"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatCapacityText(c.freeMB, c.totalMB), c.text)
        << c.freeMB << " MiB free of " << c.totalMB;
  }
}

}  // namespace
}  // namespace kuv
