// Decoding a stream of frames must not allocate per frame: the receive
// buffer and the sample array are reused. Global operator new is counted, so
// this test has an executable of its own.
#include <gtest/gtest.h>

#include "support/alloc_count.h"
#include "support/scripted_device.h"

namespace vexa_test {
namespace {

// Counts ticks without storing them, and ends the loop after the last one.
class CountingDev : public Vexa::SignalsDev {
 public:
  using SignalsDev::SignalsDev;
  using BaseDev::impl;
  bool onRawFrame(int nSeq, const int data[]) override {
    sum += data[0];
    return ++ticks == stopAfter;
  }
  long sum = 0;
  int ticks = 0;
  int stopAfter = 0;
};

TEST(DecodeAllocations, NoneOncePerFrame) {
  FakeIO* raw = nullptr;
  auto owned = connectScripted<CountingDev>({}, &raw);
  CountingDev& dev = *owned;
  dev.impl()->sigX->setUp({{1, 16, 8}, {2, 24, 4}});

  // 2000 frames of 10 ticks each, queued up front.
  const int kFrames = 2000, kTicksPerFrame = 10;
  for (int f = 0; f < kFrames; ++f) {
    Bytes payload;
    for (int t = 0; t < kTicksPerFrame; ++t) {
      payload.insert(payload.end(), 16, static_cast<uint8_t>(t));
      if (t % 2 == 0) payload.insert(payload.end(), 12, 0x80);
    }
    raw->feed(message(static_cast<uint16_t>(0x8000 | (f * kTicksPerFrame & 0x7FFF)), payload));
  }
  raw->timeouts.reserve(4 * kFrames);  // the fake records every time-out set
  dev.stopAfter = kTicksPerFrame;  // first frame: warms the receive buffer
  dev.loop();
  long before = allocationsOnThisThread();
  dev.stopAfter = kFrames * kTicksPerFrame;
  dev.loop();
  EXPECT_EQ(allocationsOnThisThread() - before, 0);
  EXPECT_EQ(dev.ticks, kFrames * kTicksPerFrame);
}

}  // namespace
}  // namespace vexa_test
