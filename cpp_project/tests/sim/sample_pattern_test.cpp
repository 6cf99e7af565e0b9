#include "vexa_sim/sample_pattern.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace vexa_sim {
namespace {

// Pinned so that recorded streams and hand-computed frames stay valid.
TEST(SamplePatternTest, KnownValues) {
  struct Case {
    int64_t tick;
    int source, channel, nBits;
    int32_t value;
  };
  const Case cases[] = {
      {0, 0, 0, 8, 0},        {1, 0, 0, 8, 21},        {0, 0, 1, 8, 249},
      {0, 1, 0, 16, 60239},   {1, 0, 0, 16, 31765},    {32768, 0, 0, 16, 32768},
      {0, 0, 1, 24, 3635705}, {1, 0, 1, 24, -8260082}, {2, 1, 1, 24, -6201998},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(samplePattern(c.tick, c.source, c.channel, c.nBits), c.value)
        << c.tick << "/" << c.source << "/" << c.channel << "/" << c.nBits;
  }
}

TEST(SamplePatternTest, EveryValueOfAWidthOncePerCycle) {
  for (int nBits : {1, 6, 8, 10, 12, 16}) {
    const int64_t span = int64_t{1} << nBits;
    std::vector<int> seen(static_cast<size_t>(span));
    for (int64_t t = 1000; t < 1000 + span; ++t) {
      int32_t v = samplePattern(t, 3, 5, nBits);
      ASSERT_GE(v, 0) << nBits;
      ASSERT_LT(v, span) << nBits;
      ++seen[static_cast<size_t>(v)];
    }
    for (int64_t v = 0; v < span; ++v)
      ASSERT_EQ(seen[static_cast<size_t>(v)], 1) << nBits << ": " << v;
  }
}

TEST(SamplePatternTest, TwentyFourBitValuesAreSignedOtherWidthsRefused) {
  int32_t low = 0, high = 0;
  for (int64_t t = 0; t < 200; ++t) {
    int32_t v = samplePattern(t, 0, 0, 24);
    ASSERT_GE(v, -8388608);
    ASSERT_LE(v, 8388607);
    low = std::min(low, v);
    high = std::max(high, v);
  }
  EXPECT_LT(low, -4000000);
  EXPECT_GT(high, 4000000);
  for (int nBits : {0, 17, 23, 32}) {
    EXPECT_THROW(samplePattern(0, 0, 0, nBits), std::invalid_argument) << nBits;
  }
}

}  // namespace
}  // namespace vexa_sim
