// The current generation's start command and the data frames built from
// the sample pattern, against hand-computed bytes.
#include "vexa_sim/frame_stream.h"

#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>
#include <string>
#include <tuple>

#include "sim_test_util.h"
#include "vexa_sim/sample_pattern.h"
#include "vexa_sim/start_request.h"

namespace vexa_sim::test {
namespace {

// The sources of a start payload as (port, width, divisor, mask).
using Sources = std::vector<std::tuple<int, int, int, int>>;
Sources sourcesOf(const Bytes& payload) {
  Sources out;
  for (const StreamSource& s : parseStartCommand(payload).sources)
    out.emplace_back(s.port, s.nBits, s.divisor, s.chMask);
  return out;
}

TEST(StartRequestTest, AcceptedStarts) {
  EXPECT_EQ(sourcesOf(startPayload(500, {{0x40 | 63, 1, 1}})), (Sources{{63, 24, 1, 1}}));
  // Both width bits: 16-bit.
  EXPECT_EQ(sourcesOf(startPayload(500, {{0xC0 | 7, 1, 1}})), (Sources{{7, 16, 1, 1}}));
  EXPECT_EQ(sourcesOf(startPayload(500, {{0x81, 1, 0x0100}}, 2)), (Sources{{1, 16, 1, 0x0100}}));
  EXPECT_EQ(parseStartCommand(startPayload(kMaxBaseRate, {{1, 1, 1}})).baseRate, kMaxBaseRate);
}

TEST(StartRequestTest, RefusesMalformedStartsWithAReason) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  Bytes shortByOne = startPayload(500, {{0x01, 1, 1}});
  shortByOne.pop_back();
  Bytes format3 = startPayload(500, {{0x01, 1, 1}});
  format3[1] = 3;
  Bytes format2Entries = startPayload(500, {{0x01, 1, 1}}, 2);
  format2Entries[1] = 1;  // 9-byte entries announced as format 1
  const std::pair<Bytes, const char*> cases[] = {
      {{0x07, 0x01}, "22 bytes"},
      {format3, "format 3"},
      {startPayload(500, {}), "no source"},
      {shortByOne, "29 bytes for 1 sources"},
      {format2Entries, "31 bytes for 1 sources of format 1"},
      {startPayload(0, {{0x01, 1, 1}}), "rate"},
      {startPayload(nan, {{0x01, 1, 1}}), "rate"},
      {startPayload(kMaxBaseRate * 2, {{0x01, 1, 1}}), "rate"},
      {startPayload(500, {{0x01, 1, 1}, {0x02, 0, 1}}), "source 1: frequency divisor 0"},
      {startPayload(500, {{0x01, 1, 0}}), "source 0: no channel"},
      {startPayload(500, {{0x01, 1, 1}, {0x81, 1, 2}}), "port 1 given twice"},  // other width
  };
  for (const auto& [payload, mentions] : cases) {
    try {
      parseStartCommand(payload);
      ADD_FAILURE() << "accepted, should mention " << mentions;
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(mentions), std::string::npos) << e.what();
    }
  }
}

const TickClock::TimePoint kStart{};

FrameStream stream(float rate, std::vector<StreamSource> sources, int ticksPerFrame) {
  StartRequest r;
  r.baseRate = rate;
  r.sources = std::move(sources);
  return FrameStream(r, ticksPerFrame, kStart);
}

// The next n frames of a 1000 Hz stream, after skipping some ticks.
using Frames = std::vector<std::tuple<int64_t, int, Bytes>>;  // first tick, sequence, payload
Frames take(std::vector<StreamSource> sources, int ticksPerFrame, size_t n, int64_t skip = 0) {
  FrameStream s = stream(1000, std::move(sources), ticksPerFrame);
  s.skipTicks(skip);
  Frames out;
  while (out.size() < n) {
    DataFrame f = s.takeFrame();
    out.emplace_back(f.firstTick, f.seq, f.payload);
  }
  return out;
}

TEST(SamplePatternTest, SignedAt24BitsAndNoOtherWidthAbove16) {
  EXPECT_EQ(samplePattern(1, 0, 1, 24), -8260082);
  for (int nBits : {0, 17, 23, 32}) {
    EXPECT_THROW(samplePattern(0, 0, 0, nBits), std::invalid_argument) << nBits;
  }
}

// Values from samplePattern, written little-endian: pinned here so that
// recorded streams and hand-computed frames elsewhere stay valid.
TEST(FrameStreamTest, HandComputedFrames) {
  // Divisors 1 and 2, 16-bit: the second source only at even ticks.
  EXPECT_EQ(take({{1, 16, 1, 0x01}, {2, 16, 2, 0x01}}, 2, 2),
            (Frames{{0, 0, {0x00, 0x00, 0x4F, 0xEB, 0x15, 0x7C}},
                    {2, 2, {0x2A, 0xF8, 0x79, 0xE3, 0x3F, 0x74}}}));
  // 24-bit, two channels, negative values in two's complement.
  EXPECT_EQ(take({{1, 24, 1, 0x03}}, 2, 1),
            (Frames{{0, 0, {0, 0, 0, 0xF9, 0x79, 0x37, 0x15, 0x7C, 0x4A, 0x0E, 0xF6, 0x81}}}));
  // 8-bit: the channel number picks the value.
  EXPECT_EQ(take({{1, 8, 1, 0x02}}, 1, 2), (Frames{{0, 0, {0xF9}}, {1, 1, {0x0E}}}));
  // Divisor 4 over 3-tick frames: idle ticks take no bytes, never start a frame.
  EXPECT_EQ(take({{1, 8, 4, 0x01}}, 3, 3), (Frames{{0, 0, {0}}, {4, 4, {84}}, {8, 8, {168}}}));
  // The sequence wraps from 32767 to 0 while the ticks go on.
  EXPECT_EQ(take({{1, 16, 1, 0x01}}, 1, 4, 32766), (Frames{{32766, 0x7FFE, {0xD6, 0x87}},
                                                           {32767, 0x7FFF, {0xEB, 0x03}},
                                                           {32768, 0, {0x00, 0x80}},
                                                           {32769, 1, {0x15, 0xFC}}}));
}

TEST(FrameStreamTest, TicksPerFrameKeepPayloadsShort) {
  auto ticks = [](float rate, std::vector<StreamSource> sources, int configured) {
    return stream(rate, std::move(sources), configured).ticksPerFrame();
  };
  EXPECT_EQ(ticks(1000, {{1, 16, 1, 0x01}}, 0), 10);           // about 10 ms
  EXPECT_EQ(ticks(10000, {{1, 16, 1, 0xFF}}, 0), 15);          // 15 ticks of 16 bytes fit 254
  EXPECT_EQ(ticks(10000, {{1, 16, 10, 0xFF}}, 0), 100);        // divisor 10: a sample per 10 ticks
  EXPECT_EQ(ticks(1000, {{1, 16, 1, 0xFFFF}}, 100000), 1562);  // lowered to fit one message
  // One tick of 288 bytes: still one tick per frame, in the long-length form.
  EXPECT_EQ(ticks(1000, std::vector<StreamSource>(6, {1, 24, 1, 0xFFFF}), 0), 1);
  EXPECT_THROW(ticks(1000, {{1, 8, 1, 1}}, -1), std::invalid_argument);
}

}  // namespace
}  // namespace vexa_sim::test
