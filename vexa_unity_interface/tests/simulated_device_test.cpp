// The sample ring that the host pulls the data from, fed by the built-in
// simulated device behind "SIM".
#include <algorithm>
#include <thread>

#include "host.h"
#include "support/eventually.h"
#include "support/pattern_check.h"

namespace vexa_unity_test {
namespace {

class SampleRing : public HostTest {
 protected:
  void TearDown() override {
    VexaExtDisableSampleRing();
    HostTest::TearDown();
  }
  size_t frameCount() {
    std::lock_guard<std::mutex> l(seen().lock);
    return seen().frames.size();
  }
  int reportCount(int code) {
    const auto all = reports();
    return static_cast<int>(std::count_if(all.begin(), all.end(), [code](const Report& r) { return r.code == code; }));
  }
};

TEST_F(SampleRing, DeliversEveryInstantInBatches) {
  // Mixed widths, divisors and masks: 5 samples per instant. The ring wraps
  // several times, and the reads end inside it at varied places.
  const std::vector<Vexa::Source> sources = {{1, 2, 24, 0x0103}, {5, 1, 16, 0x9}};
  const VexaSource wire[] = {{1, 2, 24, 0x0103}, {5, 1, 16, 0x9}};
  constexpr int kChannels = 5, kTicks = 6000;
  VexaExtEnableSampleRing(2000);
  VexaDevUnity("SIM:current --product 0x0205");
  StartAcquisitionBySources(2000, wire, 2);
  ASSERT_EQ(VexaExtGetSampleRingChannels(), kChannels);
  std::thread loop([] { StartLoop(); });

  // {maxInstants, maxSamples}: each read is bounded by the smaller.
  const std::pair<int, int> reads[] = {{1, kChannels}, {37, 38 * kChannels - 1}, {250, 3 * kChannels + 2}, {900, 900 * kChannels}};
  std::vector<int> ticks(900), samples(900 * kChannels);
  vexa_test::PatternChecker checker(sources);
  const auto pull = [&](const std::pair<int, int>& read) {
    const int n = VexaExtReadSamples(ticks.data(), read.first, samples.data(), read.second);
    EXPECT_LE(n, std::min(read.first, read.second / kChannels));
    for (int i = 0; i < n; ++i) checker.check(ticks[i], &samples[i * kChannels], kChannels);
    return n;
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (int i = 0; checker.ticks() < kTicks && std::chrono::steady_clock::now() < deadline; ++i) {
    if (pull(reads[i % 4]) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  InterruptAcquisition();
  loop.join();
  while (pull(reads[3]) > 0) {
  }
  EXPECT_GE(checker.ticks(), kTicks);
  EXPECT_EQ(checker.firstTick(), 0);
  EXPECT_EQ(checker.badTicks(), 0) << checker.firstError();
  EXPECT_EQ(checker.lost(), 0);
  // The raw-data handler still saw every instant.
  EXPECT_EQ(static_cast<int64_t>(frameCount()), checker.ticks());
  EXPECT_EQ(VexaExtGetSampleRingOverflow(), 0);
  EXPECT_TRUE(reports().empty());
}

TEST_F(SampleRing, OverflowKeepsTheOldestCountsAndReportsOnce) {
  VexaExtEnableSampleRing(8);
  VexaDevUnity("SIM");
  StartAcquisitionByNbr(1000, 0b110, 16);
  std::thread loop([] { StartLoop(); });
  EXPECT_TRUE(vexa_test::eventually([this] { return reportCount(100) > 0; }));
  ASSERT_FALSE(reports().empty());
  EXPECT_EQ(reports()[0].message, "The sample ring overflowed: sample instants were dropped.");
  EXPECT_GT(VexaExtGetSampleRingOverflow(), 0);

  int ticks[20], samples[40];
  ASSERT_EQ(VexaExtReadSamples(ticks, 20, samples, 40), 8);
  vexa_test::PatternChecker checker({{2, 1, 16, 1}, {3, 1, 16, 1}});
  for (int i = 0; i < 8; ++i) checker.check(ticks[i], &samples[i * 2], 2);
  EXPECT_EQ(checker.firstTick(), 0);
  EXPECT_EQ(checker.lastTick(), 7);
  EXPECT_EQ(checker.badTicks(), 0) << checker.firstError();

  // The freed room fills and overflows again: counted, not reported again.
  const long long dropped = VexaExtGetSampleRingOverflow();
  EXPECT_TRUE(vexa_test::eventually([dropped] { return VexaExtGetSampleRingOverflow() > dropped + 8; }));
  InterruptAcquisition();
  loop.join();
  EXPECT_EQ(reportCount(100), 1);
  EXPECT_EQ(reports().size(), 1u);
  // Every instant the handler saw was read (8), waits in the full ring (8)
  // or was counted as dropped.
  EXPECT_EQ(static_cast<long long>(frameCount()), 16 + VexaExtGetSampleRingOverflow());

  // A new start empties the ring and takes its channel count.
  StopAcquisition();
  StartAcquisition(1000, "1", 16);
  EXPECT_EQ(VexaExtGetSampleRingChannels(), 1);
  EXPECT_EQ(VexaExtGetSampleRingOverflow(), 0);
  EXPECT_EQ(VexaExtReadSamples(ticks, 20, samples, 40), 0);
}

TEST_F(SampleRing, RefusesBadArguments) {
  int ticks[4], samples[8];
  const struct {
    int* ticks;
    int maxInstants;
    int* samples;
    int maxSamples;
    int result;
  } rows[] = {
      {nullptr, 4, samples, 8, -1}, {ticks, 4, nullptr, 8, -1}, {ticks, -1, samples, 8, -1},
      {ticks, 4, samples, -3, -1},  {ticks, 4, samples, 8, 0},  {ticks, 0, samples, 0, 0},
  };
  VexaExtEnableSampleRing(0);
  for (const auto& row : rows) {
    EXPECT_EQ(VexaExtReadSamples(row.ticks, row.maxInstants, row.samples, row.maxSamples), row.result)
        << row.maxInstants << " " << row.maxSamples;
  }
}

}  // namespace
}  // namespace vexa_unity_test
