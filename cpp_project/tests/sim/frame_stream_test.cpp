#include "vexa_sim/frame_stream.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "sim_test_util.h"
#include "vexa_sim/message_codec.h"

namespace vexa_sim {
namespace {

using std::chrono::microseconds;
using vexa_sim_test::Bytes;
using Clock = std::chrono::steady_clock;

const Clock::time_point kT0{};

StartRequest request(float rate, std::vector<StreamSource> sources) {
  StartRequest r;
  r.baseRate = rate;
  r.sources = std::move(sources);
  return r;
}

struct Expected {
  int64_t firstTick;
  uint16_t seq;
  Bytes payload;
};

void expectFrames(FrameStream& stream, const std::vector<Expected>& want, const char* name) {
  for (const Expected& w : want) {
    DataFrame f = stream.takeFrame();
    EXPECT_EQ(f.firstTick, w.firstTick) << name;
    EXPECT_EQ(f.seq, w.seq) << name << " at " << w.firstTick;
    EXPECT_EQ(f.payload, w.payload) << name << " at " << w.firstTick;
  }
}

// Values from samplePattern (see its pinned test), written little-endian.
TEST(FrameStreamTest, HandComputedFrames) {
  struct Case {
    const char* name;
    std::vector<StreamSource> sources;
    int ticksPerFrame;
    std::vector<Expected> frames;
  };
  const Case cases[] = {
      {"divisors 1 and 2, 16-bit: the second source only at even ticks",
       {{1, 16, 1, 0x01}, {2, 16, 2, 0x01}},
       2,
       {{0, 0, {0x00, 0x00, 0x4F, 0xEB, 0x15, 0x7C}},
        {2, 2, {0x2A, 0xF8, 0x79, 0xE3, 0x3F, 0x74}}}},
      {"24-bit, two channels, negative values in two's complement",
       {{1, 24, 1, 0x03}},
       2,
       {{0, 0, {0x00, 0x00, 0x00, 0xF9, 0x79, 0x37, 0x15, 0x7C, 0x4A, 0x0E, 0xF6, 0x81}}}},
      {"8-bit, the channel number picks the value",
       {{1, 8, 1, 0x02}},
       1,
       {{0, 0, {0xF9}}, {1, 1, {0x0E}}}},
      {"divisor 4 over 3-tick frames: idle ticks take no bytes and never start a frame",
       {{1, 8, 4, 0x01}},
       3,
       {{0, 0, {0x00}}, {4, 4, {84}}, {8, 8, {168}}}},
  };
  for (const auto& c : cases) {
    FrameStream stream(request(1000, c.sources), c.ticksPerFrame, kT0);
    expectFrames(stream, c.frames, c.name);
  }
}

TEST(FrameStreamTest, SequenceWrapsFrom32767ToZeroWhileTicksGoOn) {
  FrameStream stream(request(1000, {{1, 16, 1, 0x01}}), 1, kT0);
  stream.skipTicks(32766);
  expectFrames(stream,
               {{32766, 0x7FFE, {0xD6, 0x87}},
                {32767, 0x7FFF, {0xEB, 0x03}},
                {32768, 0x0000, {0x00, 0x80}},
                {32769, 0x0001, {0x15, 0xFC}}},
               "wrap");
}

TEST(FrameStreamTest, FrameIsDueWhenItsLastTickIs) {
  // 2000 Hz: tick k at k * 500 us; 4 ticks per frame.
  FrameStream stream(request(2000, {{1, 8, 1, 0x01}}), 4, kT0);
  EXPECT_EQ(stream.nextDue(), kT0 + microseconds(1500));
  stream.takeFrame();
  EXPECT_EQ(stream.nextDue(), kT0 + microseconds(3500));
  stream.skipTicks(10);  // ticks 4 to 13 are never sent but take their time
  EXPECT_EQ(stream.nextDue(), kT0 + microseconds(8500));
  EXPECT_EQ(stream.takeFrame().seq, 14);
  EXPECT_EQ(stream.nextTick(), 18);
  // Divisor 8: the next frame waits for tick 8 to begin.
  FrameStream sparse(request(2000, {{1, 8, 8, 0x01}}), 4, kT0);
  sparse.takeFrame();
  EXPECT_EQ(sparse.nextDue(), kT0 + microseconds(5500));
}

TEST(FrameStreamTest, TicksPerFrameKeepPayloadsShort) {
  struct Case {
    const char* name;
    float rate;
    std::vector<StreamSource> sources;
    int configured;
    int want;
  };
  const Case cases[] = {
      {"1000 Hz: 10 ms", 1000, {{1, 16, 1, 0x01}}, 0, 10},
      {"8 channels of 16 bits at 10 kHz: 15 ticks of 16 bytes fit 254",
       10000,
       {{1, 16, 1, 0xFF}},
       0,
       15},
      {"divisor 10 counts one sample per 10 ticks", 10000, {{1, 16, 10, 0xFF}}, 0, 100},
      {"configured value lowered to fit one message", 1000, {{1, 16, 1, 0xFFFF}}, 100000, 1562},
  };
  for (const auto& c : cases) {
    FrameStream stream(request(c.rate, c.sources), c.configured, kT0);
    EXPECT_EQ(stream.ticksPerFrame(), c.want) << c.name;
    EXPECT_LE(stream.takeFrame().payload.size(), kMaxMessagePayload) << c.name;
  }
  // One tick of 288 bytes: still one tick per frame, in the long-length form.
  std::vector<StreamSource> wide(6, StreamSource{1, 24, 1, 0xFFFF});
  EXPECT_EQ(FrameStream(request(1000, wide), 0, kT0).ticksPerFrame(), 1);
  EXPECT_THROW(FrameStream(request(1000, {{1, 8, 1, 1}}), -1, kT0), std::invalid_argument);
}

}  // namespace
}  // namespace vexa_sim
