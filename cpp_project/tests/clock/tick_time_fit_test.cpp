// The time fit against synthetic arrivals whose truth is known: a device
// clock off by some ppm, messages late by a floor plus jitter, stalls that
// release bursts, lost ticks, restarts and a fixed delay.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <thread>

#include "vexa/tick_time_fit.h"

namespace {

using Vexa::TickTimeFit;

// One acquisition's messages: ticksPerMessage ticks each, the last one's
// arrival = truth + floor + a uniform delay of up to jitter, held to the
// end of a stall every 2 s, never before the previous arrival.
struct Stream {
  double rate;
  double ppm;
  double jitter;
  double stall;
  int ticksPerMessage;
  double t0 = 1000.25;  // host time of tick 0
  double floor = 0.4e-3;
  uint64_t random = 0x9E3779B97F4A7C15ull;
  double lastArrival = 0;

  double truth(int64_t tick) const { return t0 + tick / (rate * (1 + ppm * 1e-6)); }
  double uniform() {
    random = random * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<double>(random >> 11) * 0x1.0p-53;
  }
  double arrival(int64_t tick) {
    double a = truth(tick) + floor + jitter * uniform();
    const double sinceStart = a - t0;
    const double stallStart = t0 + std::floor(sinceStart / 2.0) * 2.0;
    if (sinceStart >= 2.0 && a < stallStart + stall) a = stallStart + stall;
    lastArrival = std::max(lastArrival, a);
    return lastArrival;
  }
};

struct Case {
  const char* name;
  Stream stream;
  double seconds;
  // Of the times after 5 s, and of the drift measured at the end (negative:
  // the drift may also still be hidden, as 0).
  double bound, driftBound;
  double fixedDelay = 0;
  // Ticks [gapFrom, gapFrom + gapTicks) are lost.
  int64_t gapFrom = -1, gapTicks = 0;
  // The device counts anew from 0 at this tick, at restartRate (0: the
  // same rate, without a start()).
  int64_t restartAt = -1;
  double restartRate = 0;
};

TEST(TickTimeFitTest, FollowsTheLowerEdgeOfArrivals) {
  const Case cases[] = {
      {"no jitter, fast clock", {1000, 200, 0, 0, 10}, 12, 1e-6, 0.1},
      // Early arrivals are rare here (each message waits for the ones
      // before): the upper edge gives the slope.
      {"30 ms jitter and bursts, fast clock", {1000, 200, 30e-3, 30e-3, 10}, 15, 0.5e-3, 20},
      {"30 ms jitter and bursts, slow clock, 10 kHz", {10000, -200, 30e-3, 30e-3, 63}, 15, 1e-3, 20},
      {"5 ms jitter, 3 s of ticks lost", {1000, 150, 5e-3, 5e-3, 10}, 15, 40e-6, 20, 0, 7000, 3000},
      {"fixed delay taken off", {2000, -80, 5e-3, 0, 20}, 10, 40e-6, 20, 0.4e-3},
      {"restart at another rate", {500, 120, 10e-3, 10e-3, 5}, 16, 1e-3, 50, 0, -1, 0, 4000, 250},
      {"device counts anew without a start", {1000, -150, 10e-3, 0, 10}, 16, 1e-3, 50, 0, -1, 0, 5000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Stream s = c.stream;
    TickTimeFit fit;
    EXPECT_TRUE(std::isnan(fit.timeOf(0)));
    fit.start(s.rate);
    fit.setFixedDelay(c.fixedDelay);
    const double seconds = c.restartAt >= 0 ? c.restartAt / s.rate + c.seconds : c.seconds;
    const int64_t last = static_cast<int64_t>(seconds * s.rate);
    int64_t offset = 0;  // device tick = tick - offset after a restart
    bool restarted = false;
    double worst = 0, worstTick = 0;
    double worstShownDrift = 0;
    for (int64_t tick = s.ticksPerMessage - 1; tick < last; tick += s.ticksPerMessage) {
      if (tick >= c.gapFrom && tick < c.gapFrom + c.gapTicks) continue;
      if (c.restartAt >= 0 && tick >= c.restartAt && !restarted) {
        restarted = true;
        // The new acquisition's tick 0 is due where the old count's was.
        offset = tick - s.ticksPerMessage + 1;
        s.t0 = s.truth(offset);
        if (c.restartRate > 0) {
          s.rate = c.restartRate;
          fit.start(s.rate);
        }
      }
      const int64_t deviceTick = tick - offset;
      fit.addArrival(deviceTick, s.arrival(deviceTick));
      // The drift is either not shown yet or right.
      const double drift = fit.health().driftPpm;
      if (drift != 0) worstShownDrift = std::max(worstShownDrift, std::abs(drift - s.ppm));
      // Settled: 5 s into the acquisition.
      if (deviceTick < 5 * s.rate) continue;
      const double expected = s.truth(deviceTick) + s.floor - c.fixedDelay;
      worst = std::max(worst, std::abs(fit.timeOf(deviceTick) - expected));
      worstTick = std::max(worstTick, std::abs(fit.tickAt(expected) - static_cast<double>(deviceTick)));
      // A lost tick's time follows the line too.
      if (tick == c.gapFrom + c.gapTicks + 99) {
        const int64_t lost = c.gapFrom + c.gapTicks / 2;
        EXPECT_NEAR(fit.timeOf(lost), s.truth(lost) + s.floor, c.bound);
      }
    }
    EXPECT_LT(worst, c.bound);
    EXPECT_LT(worstTick, c.bound * s.rate);
    EXPECT_LT(worstShownDrift, 60);
    const TickTimeFit::Health h = fit.health();
    if (c.driftBound > 0 || h.driftPpm != 0) { EXPECT_NEAR(h.driftPpm, s.ppm, std::abs(c.driftBound)); }
    EXPECT_GE(h.jitterSeconds, 0.8 * s.jitter);
    EXPECT_LE(h.jitterSeconds, 2 * std::max(s.jitter, s.stall) + 1e-3);
  }
}

TEST(TickTimeFitTest, RefusesWhatIsNoRateOrDelay) {
  TickTimeFit fit;
  fit.addArrival(10, 5.0);  // before any start: ignored
  EXPECT_TRUE(std::isnan(fit.timeOf(10)));
  for (double rate : {0.0, -1.0, double(NAN), double(INFINITY)}) EXPECT_THROW(fit.start(rate), std::invalid_argument);
  EXPECT_THROW(fit.setFixedDelay(NAN), std::invalid_argument);
}

// Readers on other threads never see half of an update: a line whose
// anchor tick and anchor time come from two different fits errs by whole
// blocks of ticks.
TEST(TickTimeFitTest, ReadersOnOtherThreadsSeeWholeLines) {
  Stream s{1000, 100, 20e-3, 0, 1};
  TickTimeFit fit;
  fit.start(s.rate);
  for (int64_t tick = 0; tick < 2000; ++tick) fit.addArrival(tick, s.arrival(tick));
  std::atomic<bool> done{false};
  std::atomic<double> worst{0};
  std::thread reader([&] {
    double w = 0;
    while (!done.load()) w = std::max(w, std::abs(fit.timeOf(1500) - s.truth(1500)));
    worst = w;
  });
  for (int64_t tick = 2000; tick < 200000; ++tick) fit.addArrival(tick, s.arrival(tick));
  done = true;
  reader.join();
  EXPECT_LT(worst.load(), 25e-3);
}

}  // namespace
