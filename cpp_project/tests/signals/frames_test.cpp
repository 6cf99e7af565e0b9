#include <gtest/gtest.h>

#include "support/scripted_device.h"

namespace vexa_test {
namespace {

class Frames : public ScriptedDeviceTest {
 protected:
  bool frame(uint16_t seq, Bytes payload) {
    return sig().dispatchFrames(seq, payload.data(), static_cast<uint16_t>(payload.size()));
  }
};

TEST_F(Frames, DivisorsKeepUnsampledValues) {
  sig().setUp({{1, 16, 1}, {2, 16, 1}});
  EXPECT_FALSE(frame(0, {0x01, 0x00, 0x02, 0x00, 0x03, 0x00}));
  EXPECT_EQ(dev->ticks, (std::vector<Tick>{{0, {1, 2}}, {1, {3, 2}}}));
}

TEST_F(Frames, LeadingIdleTicksAreDelivered) {
  sig().setUp({{2, 8, 1}, {4, 8, 1}});
  EXPECT_FALSE(frame(0, {7, 8}));  // tick 0: both sources
  EXPECT_EQ(sig().counter, 1);
  EXPECT_FALSE(frame(2, {9}));  // tick 1 is idle, tick 2 samples the first
  EXPECT_EQ(dev->ticks, (std::vector<Tick>{{0, {7, 8}}, {1, {7, 8}}, {2, {9, 8}}}));
}

TEST_F(Frames, SampleWidths) {
  sig().setUp({{1, 24, 2}, {1, 16, 1}, {1, 8, 2}});
  EXPECT_FALSE(frame(0, {0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0x80, 0x01}));
  ASSERT_EQ(dev->ticks.size(), 1u);
  EXPECT_EQ(dev->ticks[0].samples, (std::vector<int>{8388607, -8388608, 65535, 128, 1}));
}

TEST_F(Frames, SequenceJumpsWithinLimits) {
  struct Row {
    int counter;
    uint16_t seq;
    bool ok;
    int firstTick;
  } rows[] = {
      {0, 1000, true, 1000},      {0, 1001, false, 0},   {5, 4, false, 0},
      {32767, 0, true, 32768},    {32768 + 100, 50, false, 0},
      {32767, 999, true, 33767},  {65535, 0x7FFF, true, 65535},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.counter);
    dev->ticks.clear();
    sig().setUp({{1, 16, 1}});
    sig().counter = row.counter;
    if (!row.ok) {
      EXPECT_THROW(frame(row.seq, {1, 0}), Vexa::Notification::ContactingDevice);
      EXPECT_TRUE(dev->ticks.empty());
      continue;
    }
    frame(row.seq, {1, 0, 2, 0});
    EXPECT_EQ(dev->tickNumbers(), (std::vector<int>{row.firstTick, row.firstTick + 1}));
  }
}

TEST_F(Frames, PayloadEndingInsideATick) {
  sig().setUp({{1, 16, 2}});
  EXPECT_THROW(frame(0, {1, 0, 2, 0, 3, 0, 4}), Vexa::Notification::ContactingDevice);
  EXPECT_EQ(dev->ticks, (std::vector<Tick>{{0, {1, 2}}}));
  EXPECT_EQ(sig().counter, 1);
}

TEST_F(Frames, StopRequestedMidFrameDeliversTheRest) {
  sig().setUp({{1, 8, 1}});
  dev->stopOnFrame = [](int nSeq) { return nSeq == 1; };
  EXPECT_TRUE(frame(0, {10, 11, 12, 13}));
  EXPECT_EQ(dev->tickNumbers(), (std::vector<int>{0, 1, 2, 3}));
}

// A handler that ends the loop on a tick no channel samples leaves the
// frame to be decoded again, from the tick reached, ahead of what already
// waited behind it.
TEST_F(Frames, StopDuringLeadingIdleTicksPutsTheFrameBackFirst) {
  sig().setUp({{3, 8, 1}});
  x().pending = {{0x8000, {0x5C}}, {0x8003, {0xA7}}, {13, {1}}};
  dev->stopOnFrame = [](int nSeq) { return nSeq == 1; };
  dev->loop();
  EXPECT_EQ(dev->order, (std::vector<std::string>{"t0", "t1"}));
  dev->stopOnFrame = nullptr;
  dev->stopOnEvent = [](const Vexa::Event&) { return true; };
  dev->loop();
  EXPECT_EQ(dev->order, (std::vector<std::string>{"t0", "t1", "t2", "t3", "e13"}));
  EXPECT_EQ(dev->ticks, (std::vector<Tick>{{0, {0x5C}}, {1, {0x5C}}, {2, {0x5C}}, {3, {0xA7}}}));
}

TEST_F(Frames, StopFromInsideACallbackEndsDecodingSafely) {
  sig().setUp({{1, 16, 4}});
  dev->stopOnFrame = [this](int) {
    dev->stop();  // releases the layout the decoder walks
    return false;
  };
  EXPECT_FALSE(frame(0, Bytes(8 * 4, 1)));
  EXPECT_EQ(dev->ticks.size(), 1u);
  EXPECT_EQ(sig().nSources, 0);
}

TEST_F(Frames, SourcesWithoutChannelsCannotCarryBytes) {
  sig().setUp({{1, 16, 0}});
  EXPECT_FALSE(frame(0, {}));
  EXPECT_THROW(frame(0, {1, 2}), Vexa::Notification::ContactingDevice);
}

}  // namespace
}  // namespace vexa_test
