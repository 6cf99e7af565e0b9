// The simulated device's clock: its options, the drift of its ticks, the
// clock signal that carries their due times, and the jitter and stalls of
// its delivery.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "hand_built.h"
#include "vexa/host_clock.h"
#include "vexa_sim/cli_options.h"
#include "vexa_sim/current_device_model.h"
#include "vexa_sim/sample_pattern.h"

namespace vexa_sim {
namespace {

using Bytes = std::vector<uint8_t>;
using Clock = DeviceModel::Clock;

TEST(SimClockOptionsTest, AcceptedAndRefusedForms) {
  const CurrentDeviceConfig c =
      parseCliOptions({"--clock-ppm=-10000", "--jitter-ms", "0.25", "--seed", "7", "--pattern", "standard"}).current;
  EXPECT_EQ(std::make_tuple(c.clockPpm, c.jitterMs, c.seed.value_or(0), c.signal),
            std::make_tuple(-10000.0, 0.25, uint64_t{7}, SignalKind::kPattern));
  test::expectRefusals<std::vector<std::string>>({
      {{"--clock-ppm", "10001"}, "--clock-ppm must lie within -10000 to 10000, got 10001"},
      {{"--clock-ppm", "1e3"}, "--clock-ppm needs a decimal number, got '1e3'"},
      {{"--jitter-ms", "-1"}, "--jitter-ms must lie within 0 to 1000, got -1"},
      {{"--pattern", "sine"}, "--pattern must be standard or clock, got 'sine'"},
      {{"--family", "quillbox", "--jitter-ms", "5"}, "--jitter-ms applies only to --family current"},
      {{"--replay", "x.bdf", "--pattern", "clock"}, "--pattern does not apply with --replay"},
  }, [](const std::vector<std::string>& args) { parseCliOptions(args); });
}

// The microseconds of hostTime() that the clock signal gives for t.
uint32_t hostMicros(Clock::time_point t) {
  const double hostMinusSteady =
      Vexa::hostTime() - std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
  return static_cast<uint32_t>(
      std::llround((hostMinusSteady + std::chrono::duration<double>(t.time_since_epoch()).count()) * 1e6));
}

struct Delivered {
  int ms;            // when it came out, after the start
  int64_t lastTick;  // of the frame
  uint32_t micros;   // the clock signal of its last tick
};

// Runs a model of `options` for `ms` milliseconds of explicit time, waking
// it every millisecond, and collects the data frames it writes.
std::vector<Delivered> run(std::vector<std::string> options, int ms, Clock::time_point t0) {
  std::unique_ptr<DeviceModel> m = makeModel(parseCliOptions(options));
  // At 1000 Hz, port 1, 16-bit, channels 0 and 1 (the clock signal), and
  // port 2, 8-bit, channel 0 (the standard pattern).
  const Bytes start = test::command(test::startPayload(1000, {{0x81, 1, 0x03}, {0x02, 1, 0x01}}));
  m->onHostBytes(start.data(), start.size(), t0);
  std::vector<Delivered> out;
  for (int now = 0; now <= ms; ++now) {
    m->onWake(t0 + std::chrono::milliseconds(now));
    const Bytes b = m->takeOutput();
    for (size_t i = 0; i < b.size();) {
      const bool frame = b[i] & 0x80;
      const size_t header = frame ? 3 : 2, len = b[i + header - 1];
      if (frame) {
        // Five bytes a tick: the clock's two 16-bit words, port 2's byte.
        const int64_t first = (b[i] & 0x7F) << 8 | b[i + 1];
        const int64_t lastTick = first + static_cast<int64_t>(len) / 5 - 1;
        const uint8_t* last = &b[i + header + len - 5];
        EXPECT_EQ(last[4], samplePattern(lastTick, 1, 0, 8));
        out.push_back({now, lastTick, static_cast<uint32_t>(last[0] | last[1] << 8 | last[2] << 16 | last[3] << 24)});
      }
      i += header + len + 1;
    }
  }
  return out;
}

// Tick k of a clock 150 ppm fast is due k / 1000.15 s after the start and
// says so in microseconds of hostTime(); every frame waits 0 to 30 ms from
// then, in order, except in the 30 ms stalls every 2 s, after which what
// waited comes at once. The seed makes all of that repeatable.
TEST(SimClockTest, DriftingTicksCarryTheirDueTimesThroughJitterAndStalls) {
  const Clock::time_point t0 = Clock::now();
  const std::vector<std::string> options = {"--clock-ppm", "150",   "--jitter-ms",       "30", "--seed",
                                            "5",           "--pattern", "clock", "--ticks-per-frame", "10"};
  const std::vector<Delivered> frames = run(options, 4500, t0);
  ASSERT_GT(frames.size(), 400u);
  double minDelay = 1e9, maxDelay = 0;
  for (size_t i = 0; i < frames.size(); ++i) {
    const Delivered& f = frames[i];
    SCOPED_TRACE(f.lastTick);
    const double dueMs = f.lastTick / 1000.15 * 1000;
    // On the host's clock (up to the reading of two clocks), and exactly
    // spaced.
    const auto due = t0 + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(dueMs));
    EXPECT_NEAR(static_cast<int32_t>(f.micros - hostMicros(due)), 0, 1000);
    const double sinceFirst = (dueMs - frames[0].lastTick / 1000.15 * 1000) * 1000;
    EXPECT_NEAR(static_cast<int32_t>(f.micros - frames[0].micros), sinceFirst, 1.01);
    if (i > 0) {
      EXPECT_EQ(f.lastTick, frames[i - 1].lastTick + 10);  // none lost or reordered
    }
    const bool inStall = f.ms % 2000 < 30 && f.ms >= 2000;
    EXPECT_FALSE(inStall) << f.ms;
    const double delay = f.ms - dueMs;
    EXPECT_GE(delay, 0);
    if (f.ms % 2000 != 30) {
      EXPECT_LE(delay, 31);
      minDelay = std::min(minDelay, delay);
      maxDelay = std::max(maxDelay, delay);
    }
  }
  EXPECT_LT(minDelay, 5);
  EXPECT_GT(maxDelay, 25);
  for (int stallEnd : {2030, 4030}) {
    EXPECT_GE(std::count_if(frames.begin(), frames.end(), [&](const Delivered& f) { return f.ms == stallEnd; }), 3)
        << stallEnd;
  }
  // When each frame of the first second came out.
  auto firstSecond = [](const std::vector<Delivered>& v) {
    std::vector<int> ms;
    for (const Delivered& f : v) {
      if (f.ms <= 1000) ms.push_back(f.ms);
    }
    return ms;
  };
  EXPECT_EQ(firstSecond(run(options, 1000, t0)), firstSecond(frames));
  std::vector<std::string> reseeded = options;
  reseeded[5] = "6";
  EXPECT_NE(firstSecond(run(reseeded, 1000, t0)), firstSecond(frames));
}

}  // namespace
}  // namespace vexa_sim
