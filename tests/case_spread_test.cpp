// The sanitizer build runs a spread of the longest tables: a spread that
// always skipped one command, one fault or one position of a nested table
// would leave that case unchecked under the sanitizers for good.
#include <gtest/gtest.h>

#include <set>

#include "tests/support/case_spread.h"

namespace kartex::test {
namespace {

TEST(CaseSpread, KeepsAThirdAndEveryValueOfEveryDimension) {
  struct Case {
    std::size_t outer, middle, inner, stride;
  };
  for (const Case& c : {Case{6, 5, 3, 3}, Case{8, 1, 2, 3}, Case{12, 1, 1, 3}, Case{4, 4, 4, 3}, Case{3, 3, 2, 1}}) {
    SCOPED_TRACE(std::to_string(c.outer) + "x" + std::to_string(c.middle) + "x" + std::to_string(c.inner));
    const std::size_t count = c.outer * c.middle * c.inner;
    const CaseSpread spread(count, c.stride);
    std::set<std::size_t> outer, middle, inner;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < count; ++i) {
      if (!spread.runs(i)) continue;
      ++kept;
      outer.insert(i / (c.middle * c.inner));
      middle.insert(i / c.inner % c.middle);
      inner.insert(i % c.inner);
    }
    EXPECT_EQ(kept, (count + c.stride - 1) / c.stride);
    EXPECT_EQ(inner.size(), c.inner);
    EXPECT_EQ(middle.size(), c.middle);
    EXPECT_EQ(outer.size(), std::min(c.outer, kept));
  }
}

TEST(CaseSpread, ATableShorterThanTheStrideStillRunsOneCase) {
  for (std::size_t count : {1u, 2u}) {
    const CaseSpread spread(count, 3);
    EXPECT_EQ(spread.kept(), 1u) << count;
    EXPECT_TRUE(spread.runs(0)) << count;
  }
  const int pair[] = {7, 8};
  EXPECT_EQ(spread_of(pair).size(), KARTEX_CASE_STRIDE == 1 ? 2u : 1u);
}

}  // namespace
}  // namespace kartex::test
