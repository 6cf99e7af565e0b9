// Acquisitions of the current generation: the start command and its
// refusals, the stop, and the decoding of data frames into ticks.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

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

// The whole command for each entry format and both forms of the start.
TEST(Start, CommandBytes) {
  const Bytes header = Bytes{0x07, 0x01, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0} + floatBytes(1000.0f);
  // what, product, sources, or else ports (16 bits), the command from the source count on, channels
  const std::tuple<const char*, uint16_t, std::vector<Source>, std::vector<int>, Bytes, int> rows[] = {
      {"8-byte entries", 0x0201, {{1, 1, 16, 0x03}, {2, 10, 8, 0x01}}, {},
       {0x02, 0x81, 0x01, 0x00, 0x03, 0, 0, 0, 0, 0x02, 0x0A, 0x00, 0x01, 0, 0, 0, 0, 0x00}, 3},
      {"9-byte entries: a 16-bit mask", 517, {{3, 65537, 24, 0x100}}, {},
       {0x01, 0x43, 0x01, 0x00, 0x00, 0x01, 0, 0, 0, 0, 0x00}, 1},
      {"ports", 0x0201, {}, {1, 3},
       {0x02, 0x81, 0x01, 0x00, 0x01, 0, 0, 0, 0, 0x83, 0x01, 0x00, 0x01, 0, 0, 0, 0, 0x00}, 2},
  };
  for (const auto& [name, productId, sources, ports, entries, channels] : rows) {
    SCOPED_TRACE(name);
    auto s = device(productId);
    ports.empty() ? s->dev->start(1000.0f, sources) : s->dev->start(1000.0f, ports, 16);
    Bytes expected = header + entries;
    expected[1] = productId == 517 ? 2 : 1;
    EXPECT_EQ(s->commands, std::vector<Bytes>{expected});
    auto& sig = *s->dev->impl()->sigX;
    EXPECT_EQ(sig.totalChannels, channels);
    EXPECT_EQ(sig.samples.size(), static_cast<size_t>(channels));
    EXPECT_EQ(sig.nSources, entries[0]);
    EXPECT_EQ(sig.layouts[0].divisor, sources.empty() ? 1 : sources[0].freqDivisor);
  }
}

std::vector<Source> many(int n, int32_t chMask) {
  std::vector<Source> sources;
  for (int i = 0; i < n; ++i) sources.push_back({i, 1, 8, chMask});
  return sources;
}

TEST(Start, Refusals) {
  // what, product, firmware, rate, sources, taken
  const std::tuple<const char*, uint16_t, uint16_t, float, std::vector<Source>, bool> rows[] = {
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
      {"16-bit mask on 0x0201", 0x0201, 0x0300, 100, {{3, 1, 16, 0x100}}, false},
      {"same port twice", 0x0201, 0x0300, 100, {{1, 1, 8, 1}, {1, 1, 8, 2}}, false},
      {"zero rate", 0x0201, 0x0300, 0, {{1, 1, 8, 1}}, false},
      {"negative rate", 0x0201, 0x0300, -5, {{1, 1, 8, 1}}, false},
      {"no source", 0x0201, 0x0300, 100, {}, false},
      // Against the payload limit: 8-byte entries, then 9-byte ones.
      {"29 sources", 0x0201, 0x0300, 100, many(29, 1), true},
      {"30 sources", 0x0201, 0x0300, 100, many(30, 1), false},
      {"32 sources", 0x0201, 0x0300, 100, many(32, 1), false},
      {"33 sources", 0x0201, 0x0300, 100, many(33, 1), false},
      {"25 wide sources", 517, 0x0300, 100, many(25, 0x101), true},
      {"26 wide sources", 517, 0x0300, 100, many(26, 0x101), false},
  };
  for (const auto& [name, productId, fwVersion, freq, sources, ok] : rows) {
    SCOPED_TRACE(name);
    auto s = device(productId, fwVersion);
    if (ok) {
      EXPECT_NO_THROW(s->dev->start(freq, sources));
    } else {
      EXPECT_THROW(s->dev->start(freq, sources), Vexa::Error::InvalidParameter);
    }
    EXPECT_EQ(s->commands.size(), ok ? 1u : 0u);
    EXPECT_EQ(s->dev->impl()->sigX->nSources, ok ? static_cast<int>(sources.size()) : 0);
  }
}

// A start drops the frames queued before it and refuses while running; the
// stop is sent by stop(), then by the destructor, which survives a stop that
// is never acknowledged.
TEST(Stop, SendsTheStopAndReleases) {
  auto s = device(0x0201);
  auto& x = *s->dev->impl();
  EXPECT_THROW(s->dev->stop(), Vexa::Error::InvalidOperation);
  x.pending = {{0x8005, {1}}, {13, {1}}};
  s->dev->start(100.0f, std::vector<int>{1}, 16);
  ASSERT_EQ(x.pending.size(), 1u);
  EXPECT_EQ(x.pending.front().code, 13);
  EXPECT_THROW(s->dev->start(100.0f, std::vector<int>{2}, 16), Vexa::Error::InvalidOperation);
  s->dev->stop();
  EXPECT_EQ(s->commands.back(), (Bytes{0x09, 0x00}));
  EXPECT_EQ(x.sigX->nSources + x.sigX->totalChannels, 0);
  EXPECT_THROW(s->dev->stop(), Vexa::Error::InvalidOperation);
  s->dev->start(100.0f, std::vector<int>{1}, 16);
  s->dev.reset();
  EXPECT_EQ(s->commands.size(), 4u);
  EXPECT_EQ(s->commands.back(), (Bytes{0x09, 0x00}));

  auto broken = device(0x0201);
  broken->dev->start(100.0f, std::vector<int>{1}, 16);
  broken->io->onSend = nullptr;
  broken->dev.reset();
}

class Frames : public ScriptedDeviceTest {
 protected:
  bool frame(uint16_t seq, Bytes payload) {
    return sig().dispatchFrames(seq, payload.data(), static_cast<uint16_t>(payload.size()));
  }
};

// Frames decoded in turn into ticks; the last one of a row may fail.
TEST_F(Frames, Decoding) {
  // what, layouts, frames (sequence, payload), whether the last one fails, the ticks delivered
  const std::tuple<const char*, std::vector<Vexa::SourceLayout>, std::vector<std::pair<uint16_t, Bytes>>, bool,
                   std::vector<Tick>>
      rows[] = {
          {"divisors keep unsampled values", {{1, 16, 1}, {2, 16, 1}}, {{0, {0x01, 0x00, 0x02, 0x00, 0x03, 0x00}}},
           false, {{0, {1, 2}}, {1, {3, 2}}}},
          // Tick 1 is idle; tick 2 samples the first source.
          {"leading idle ticks delivered", {{2, 8, 1}, {4, 8, 1}}, {{0, {7, 8}}, {2, {9}}}, false,
           {{0, {7, 8}}, {1, {7, 8}}, {2, {9, 8}}}},
          {"sample widths", {{1, 24, 2}, {1, 16, 1}, {1, 8, 2}},
           {{0, {0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0x80, 0x01}}}, false,
           {{0, {8388607, -8388608, 65535, 128, 1}}}},
          {"payload ending inside a tick", {{1, 16, 2}}, {{0, {1, 0, 2, 0, 3, 0, 4}}}, true, {{0, {1, 2}}}},
          {"a source without channels carries no bytes", {{1, 16, 0}}, {{0, {}}, {0, {1, 2}}}, true, {}},
      };
  for (const auto& [name, layouts, frames, lastFails, ticks] : rows) {
    SCOPED_TRACE(name);
    dev->ticks.clear();
    sig().setUp(layouts);
    for (size_t i = 0; i < frames.size(); ++i) {
      if (lastFails && i + 1 == frames.size()) {
        EXPECT_THROW(frame(frames[i].first, frames[i].second), Vexa::Notification::ContactingDevice);
      } else {
        EXPECT_FALSE(frame(frames[i].first, frames[i].second));
      }
    }
    EXPECT_EQ(dev->ticks, ticks);
    if (!ticks.empty()) {
      EXPECT_EQ(sig().counter, static_cast<int>(ticks.size()));
    }
  }
}

TEST_F(Frames, SequenceJumpsWithinLimits) {
  // counter, sequence, taken, first tick
  const std::tuple<int, uint16_t, bool, int> rows[] = {
      {0, 1000, true, 1000},      {0, 1001, false, 0},   {5, 4, false, 0},
      {32767, 0, true, 32768},    {32768 + 100, 50, false, 0},
      {32767, 999, true, 33767},  {65535, 0x7FFF, true, 65535},
  };
  for (const auto& [counter, seq, ok, firstTick] : rows) {
    SCOPED_TRACE(counter);
    dev->ticks.clear();
    sig().setUp({{1, 16, 1}});
    sig().counter = counter;
    if (!ok) {
      EXPECT_THROW(frame(seq, {1, 0}), Vexa::Notification::ContactingDevice);
      EXPECT_TRUE(dev->ticks.empty());
      continue;
    }
    frame(seq, {1, 0, 2, 0});
    EXPECT_EQ(dev->tickNumbers(), (std::vector<int>{firstTick, firstTick + 1}));
  }
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

}  // namespace
}  // namespace vexa_test
