// Instant times and markers against the truth the simulator's clock signal
// carries: port 1's first two channels hold the low and high 16 bits of the
// microseconds of host time at which each instant was due on the simulated
// device's drifting clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <atomic>
#include <cmath>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host.h"
#include "support/eventually.h"
#include "record/read_back.h"
#include "vexa_unity_interface.h"

namespace vexa_unity_test {
namespace {

// The instant's due time in seconds, the one nearest `near` among those the
// 32-bit microsecond count (wrapping every 71.6 minutes) can mean.
double truthOf(int low, int high, double near) {
  const double wrap = 4294967296e-6;
  const double carried = (static_cast<uint32_t>(high) << 16 | static_cast<uint32_t>(low)) * 1e-6;
  return carried + wrap * std::round((near - carried) / wrap);
}

constexpr int kRate = 1000, kTicks = 3000, kSettledTicks = 1000;
std::atomic<int> delivered{0}, mismatched{0}, late{0};
std::vector<double> errors;  // loop thread only, until it ends

// Drains the ring on the loop's thread, so that the fit stands still: the
// last instant read is the one being handed, with the same time.
void timingHandler(int nSeq, const int* samples, int) {
  long long ticks[64];
  double times[64];
  int block[64 * 2], channels = 0;
  int n = 0;
  for (int got; (got = VexaExtReadBlock(0, ticks, times, 64, block, 128, &channels, nullptr)) > 0;) n = got;
  if (n == 0 || static_cast<int>(ticks[n - 1]) != nSeq || times[n - 1] != VexaExtGetInstantTime()) ++mismatched;
  const double truth = truthOf(samples[0], samples[1], VexaExtGetHostTime());
  if (++delivered > kSettledTicks) errors.push_back(VexaExtGetInstantTime() - truth);
  // An instant the loop hands over long after it was due would make the
  // stamp of a marker below meaningless.
  if (VexaExtGetHostTime() - truth > 0.1) ++late;
}

using Clock = HostTest;

// Through a drifting, jittered simulated device: every instant's time from
// the fit lands on its due time (after the first second), the handler's and
// the block read's agree, a marker from another thread lands on the instant
// due nearest its call, and the link delay moves every time by itself.
TEST_F(Clock, InstantTimesMarkersAndLinkDelayAgainstTheSimulatedClock) {
  SetOnRawDataHandler(timingHandler);
  EXPECT_TRUE(std::isnan(VexaExtGetInstantTime()));
  VexaExtEnableSampleRing(0);
  VexaDevUnity("SIM:current --clock-ppm 150 --jitter-ms 5 --pattern clock");
  const VexaSource clockPort[] = {{1, 1, 16, 0x3}};
  StartAcquisitionBySources(kRate, clockPort, 1);
  const std::string path = vexa_test::tempPath("clock.csv");
  ASSERT_EQ(VexaExtStartRecording(path.c_str()), 0) << VexaExtGetLastErrorDetail();
  std::thread loop([] { StartLoop(); });
  ASSERT_TRUE(vexa_test::eventually([] { return delivered >= kTicks / 2; }));
  InterruptAcquisition();
  loop.join();
  // Markers from this thread while the loop is held: they must land where
  // the device was at their time, well after the last instant delivered.
  ASSERT_TRUE(vexa_test::eventually([] { return VexaExtGetHostTime() > VexaExtGetInstantTime() + 0.03; }));
  const double stamp = VexaExtGetHostTime();
  EXPECT_EQ(VexaExtAddMarker("now"), 0) << VexaExtGetLastErrorDetail();
  EXPECT_EQ(VexaExtAddMarkerAt("later", stamp + 0.2), 0) << VexaExtGetLastErrorDetail();
  loop = std::thread([] { StartLoop(); });
  EXPECT_TRUE(vexa_test::eventually([] { return delivered >= kTicks; }));
  InterruptAcquisition();
  loop.join();
  ASSERT_EQ(VexaExtStopRecording(), 0) << VexaExtGetLastErrorDetail();

  EXPECT_EQ(mismatched, 0);
  EXPECT_EQ(late, 0);
  ASSERT_FALSE(errors.empty());
  std::sort(errors.begin(), errors.end());
  const double p99 = std::max(-errors.front(), errors[errors.size() * 99 / 100]);
  EXPECT_LT(p99, 0.003) << "median " << errors[errors.size() / 2];

  // A marked row's own clock signal says when its instant was due; its
  // host_time column is the fitted time.
  const std::string text = vexa_test::slurp(path);
  EXPECT_EQ(text.rfind("tick,seconds,host_time,", 0), 0u) << text.substr(0, 80);
  for (const auto& marker : {std::make_pair("now", stamp), std::make_pair("later", stamp + 0.2)}) {
    std::istringstream csv(text);
    std::string row, marked;
    while (std::getline(csv, row)) {
      if (row.find(marker.first) != std::string::npos) marked = row;
    }
    long long tick = 0;
    int low = 0, high = 0;
    double seconds = 0, hostTime = 0;
    char c;
    std::istringstream fields(marked);
    ASSERT_TRUE(fields >> tick >> c >> seconds >> c >> hostTime >> c >> low >> c >> high) << marked;
    EXPECT_NEAR(truthOf(low, high, marker.second), marker.second, 0.0025) << marked;
    EXPECT_NEAR(hostTime, marker.second, 0.0025) << marked;
  }

  // Refused values leave the delay as it was; an accepted one moves every
  // time back by itself.
  const double before = VexaExtGetInstantTime();
  for (double bad : {-0.001, std::nan(""), double{INFINITY}}) EXPECT_EQ(VexaExtSetLinkDelay(bad), VEXA_EXT_ERR_ARGUMENT);
  EXPECT_EQ(VexaExtGetInstantTime(), before);
  EXPECT_EQ(VexaExtSetLinkDelay(0.25), 0);
  EXPECT_NEAR(before - VexaExtGetInstantTime(), 0.25, 1e-9);
  EXPECT_EQ(VexaExtSetLinkDelay(0), 0);
  std::remove(path.c_str());
}

// The legacy families time their instants too: one message per instant,
// each fed to the fit before it is delivered.
TEST_F(Clock, LegacyFamiliesTimeTheirInstants) {
  for (const char* path : {"SIM:cadrium", "SIM:quillbox"}) {
    VexaExtEnableSampleRing(0);
    VexaDevUnity(path);
    StartAcquisitionByNbr(1000, 0b1, 12);
    std::thread loop([] { StartLoop(); });
    std::vector<long long> ticks(64);
    std::vector<double> times(64);
    std::vector<int> samples(64 * 2);
    int n = 0;
    EXPECT_TRUE(vexa_test::eventually([&] {
      n = VexaExtReadBlock(0, ticks.data(), times.data(), 64, samples.data(), 128, nullptr, nullptr);
      return n >= 2 && ticks[n - 1] > 500;
    })) << path;
    InterruptAcquisition();
    loop.join();
    StopAcquisition();
    ASSERT_GE(n, 2) << path;
    // About a millisecond a tick (the device's rate is nominal here), all before now.
    const double perTick = (times[n - 1] - times[0]) / static_cast<double>(ticks[n - 1] - ticks[0]);
    EXPECT_NEAR(perTick, 0.001, 0.0002) << path;
    EXPECT_LT(times[n - 1], VexaExtGetHostTime()) << path;
  }
}

}  // namespace
}  // namespace vexa_unity_test
