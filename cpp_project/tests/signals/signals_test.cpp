// Acquisitions of the current generation: the start command and its
// refusals, the stop, and the decoding of data frames into ticks.
#include <gtest/gtest.h>

#include <cstring>

#include "support/scripted_device.h"

namespace vexa_test {
namespace {

using Vexa::Source;

struct Started {
  DeviceScript script;  // its commands outlive dev, whose destructor may still send
  std::vector<Bytes>& commands = *script.commands;
  FakeIO* io = nullptr;
  std::unique_ptr<RecordingDev> dev;
};

// A device of the given product, recording the commands sent after the
// handshake.
std::unique_ptr<Started> device(uint16_t productId, uint16_t fwVersion = 0x0300) {
  auto s = std::make_unique<Started>();
  s->script.productId = productId;
  s->script.fwVersion = fwVersion;
  s->dev = connectScripted(s->script, &s->io);
  s->commands.clear();
  return s;
}

Bytes floatBytes(float f) {
  uint8_t b[4];
  std::memcpy(b, &f, 4);
  return Bytes(b, b + 4);
}

TEST(Start, CommandBytes) {
  auto s = device(0x0201);
  s->dev->start(1000.0f, std::vector<Source>{{1, 1, 16, 0x03}, {2, 10, 8, 0x01}});
  Bytes expected = {0x07, 0x01, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0};
  expected = expected + floatBytes(1000.0f) + Bytes{0x02} + Bytes{0x81, 0x01, 0x00, 0x03, 0, 0, 0, 0} +
             Bytes{0x02, 0x0A, 0x00, 0x01, 0, 0, 0, 0} + Bytes{0x00};
  ASSERT_EQ(s->commands.size(), 1u);
  EXPECT_EQ(s->commands[0], expected);
  EXPECT_EQ(s->commands[0].size(), 38u);
  auto& sig = *s->dev->impl()->sigX;
  EXPECT_EQ(sig.totalChannels, 3);
  EXPECT_EQ(sig.nSources, 2);
  EXPECT_EQ(sig.samples.size(), 3u);
}

TEST(Start, WideMasksAndWidths) {
  auto s = device(517);
  s->dev->start(500.0f, std::vector<Source>{{3, 65537, 24, 0x100}});
  const Bytes& cmd = s->commands.at(0);
  EXPECT_EQ(cmd[1], 2);
  EXPECT_EQ(Bytes(cmd.begin() + 21, cmd.end()), (Bytes{0x43, 0x01, 0x00, 0x00, 0x01, 0, 0, 0, 0, 0x00}));
  EXPECT_EQ(s->dev->impl()->sigX->layouts[0].divisor, 65537);
  EXPECT_EQ(s->dev->impl()->sigX->layouts[0].nChannels, 1);

  auto narrow = device(0x0201);
  EXPECT_THROW(narrow->dev->start(500.0f, std::vector<Source>{{3, 1, 16, 0x100}}), Vexa::Error::InvalidParameter);
  EXPECT_TRUE(narrow->commands.empty());
}

TEST(Start, SourceCountsAgainstThePayloadLimit) {
  struct Row {
    uint16_t productId;
    int32_t chMask;
    int count;
    bool sent;
  } rows[] = {{0x0201, 1, 29, true}, {0x0201, 1, 30, false}, {0x0201, 1, 32, false},
              {517, 0x101, 25, true}, {517, 0x101, 26, false}, {0x0201, 1, 33, false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.count);
    auto s = device(row.productId);
    std::vector<Source> sources;
    for (int i = 0; i < row.count; ++i) sources.push_back({i, 1, 8, row.chMask});
    if (row.sent) {
      s->dev->start(100.0f, sources);
      EXPECT_EQ(s->commands.size(), 1u);
    } else {
      EXPECT_THROW(s->dev->start(100.0f, sources), Vexa::Error::InvalidParameter);
      EXPECT_TRUE(s->commands.empty());
      EXPECT_EQ(s->dev->impl()->sigX->nSources, 0);
    }
  }
}

TEST(Start, Refusals) {
  struct Row {
    const char* name;
    uint16_t productId, fwVersion;
    float freq;
    std::vector<Source> sources;
    bool ok;
  } rows[] = {
      {"port 0", 0x0201, 0x0300, 100, {{0, 1, 8, 1}}, true},
      {"port 63", 0x0201, 0x0300, 100, {{63, 1, 8, 1}}, true},
      {"port 64", 0x0201, 0x0300, 100, {{64, 1, 8, 1}}, false},
      {"negative port", 0x0201, 0x0300, 100, {{-1, 1, 8, 1}}, false},
      {"divisor 0", 0x0201, 0x0300, 100, {{1, 0, 8, 1}}, false},
      {"12 bits", 0x0201, 0x0300, 100, {{1, 1, 12, 1}}, false},
      {"24 bits on 513 fw 3.7", 513, 0x0307, 100, {{1, 1, 24, 1}}, true},
      {"24 bits on 513 fw 3.6", 513, 0x0306, 100, {{1, 1, 24, 1}}, false},
      {"24 bits on 542", 542, 0x0100, 100, {{1, 1, 24, 1}}, true},
      {"16-bit mask on 542", 542, 0x0100, 100, {{1, 1, 24, 0x100}}, false},
      {"same port twice", 0x0201, 0x0300, 100, {{1, 1, 8, 1}, {1, 1, 8, 2}}, false},
      {"zero rate", 0x0201, 0x0300, 0, {{1, 1, 8, 1}}, false},
      {"negative rate", 0x0201, 0x0300, -5, {{1, 1, 8, 1}}, false},
      {"no source", 0x0201, 0x0300, 100, {}, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto s = device(row.productId, row.fwVersion);
    if (row.ok) {
      EXPECT_NO_THROW(s->dev->start(row.freq, row.sources));
    } else {
      EXPECT_THROW(s->dev->start(row.freq, row.sources), Vexa::Error::InvalidParameter);
      EXPECT_TRUE(s->commands.empty());
    }
  }
}

TEST(Start, RunningAcquisitionAndPurge) {
  auto s = device(0x0201);
  auto& x = *s->dev->impl();
  x.pending.push_back({0x8005, {1}});
  x.pending.push_back({13, {1}});
  s->dev->start(100.0f, std::vector<int>{1, 3}, 16);
  EXPECT_EQ(s->commands.at(0)[20], 2);
  EXPECT_EQ(Bytes(s->commands[0].begin() + 21, s->commands[0].begin() + 25), (Bytes{0x81, 0x01, 0x00, 0x01}));
  ASSERT_EQ(x.pending.size(), 1u);
  EXPECT_EQ(x.pending.front().code, 13);
  EXPECT_THROW(s->dev->start(100.0f, std::vector<int>{2}, 16), Vexa::Error::InvalidOperation);
}

TEST(Stop, SendsTheStopAndReleases) {
  auto s = device(0x0201);
  EXPECT_THROW(s->dev->stop(), Vexa::Error::InvalidOperation);
  s->dev->start(100.0f, std::vector<int>{1}, 16);
  s->dev->stop();
  EXPECT_EQ(s->commands.back(), (Bytes{0x09, 0x00}));
  EXPECT_EQ(s->dev->impl()->sigX->nSources, 0);
  EXPECT_EQ(s->dev->impl()->sigX->totalChannels, 0);
  EXPECT_THROW(s->dev->stop(), Vexa::Error::InvalidOperation);
}

TEST(Stop, DestructorStopsAndSurvivesAFailingStop) {
  auto s = device(0x0201);
  s->dev->start(100.0f, std::vector<int>{1}, 16);
  s->dev.reset();
  EXPECT_EQ(s->commands.back(), (Bytes{0x09, 0x00}));

  auto broken = device(0x0201);
  broken->dev->start(100.0f, std::vector<int>{1}, 16);
  broken->io->onSend = nullptr;  // the stop is never acknowledged
  broken->dev.reset();
  SUCCEED();
}

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
