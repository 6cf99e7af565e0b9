#include <gtest/gtest.h>

#include <tuple>

#include "support/legacy_device.h"

namespace vexa_test {
namespace {

constexpr char kCadrium2[] = "Cadrium 2 v.3.1\n";
constexpr char kCadriumEmg[] = "Cadrium EMG v.1.5\n";

TEST(OldestFamily, StartCommands) {
  // version line, rate, mask, bits, what is sent (null: refused)
  const std::tuple<const char*, float, int, int, const char*> rows[] = {
      {kCadrium2, 1000, 0x0F, 12, "@START,1000,0F,12;"}, {kCadrium2, 36, 0xFF, 8, "@START,0036,FF,08;"},
      {kCadrium2, 8000, 1, 8, "@START,8000,01,08;"},     {kCadrium2, 1000.5f, 0x0F, 12, nullptr},
      {kCadrium2, 35, 0x0F, 12, nullptr},                {kCadrium2, 8001, 0x0F, 12, nullptr},
      {kCadrium2, 1000, 0, 12, nullptr},                 {kCadrium2, 1000, 256, 12, nullptr},
      {kCadrium2, 1000, 1, 16, nullptr},                 {kCadriumEmg, 1000, 255, 12, "Z"},
      {kCadriumEmg, 500, 255, 12, nullptr},              {kCadriumEmg, 1000, 0x7F, 12, nullptr},
      {kCadriumEmg, 1000, 255, 8, nullptr},
  };
  for (const auto& [line, freq, mask, nBits, sent] : rows) {
    SCOPED_TRACE(std::string(line) + " " + std::to_string(freq));
    FakeIO* io = nullptr;
    auto dev = connectLegacy(line, &io);
    auto& sig = *dev->impl()->sigX;
    if (sent == nullptr) {
      EXPECT_THROW(sig.startOld(freq, mask, nBits), Vexa::Error::InvalidParameter);
      EXPECT_TRUE(io->sent.empty());
      continue;
    }
    sig.startOld(freq, mask, nBits);
    EXPECT_EQ(io->sent, text(sent));
    EXPECT_EQ(sig.nSources, 1);
    EXPECT_THROW(sig.startOld(freq, mask, nBits), Vexa::Error::InvalidOperation);
  }
}

using OldLoop = LegacyDeviceTest;

// 8-bit frames with input changes; 12-bit samples packed in pairs, an odd
// one alone in two bytes.
TEST_F(OldLoop, FramesAndInputEvents) {
  // ports, bits, frames, ticks, input events
  const std::tuple<std::vector<int>, int, Bytes, std::vector<Tick>, std::vector<std::string>> rows[] = {
      {{1, 2}, 8, oldFrame(1, 5, {10, 20}) + oldFrame(1, 6, {11, 21}) + oldFrame(0, 7, {12, 22}),
       {{5, {10, 20}}, {6, {11, 21}}, {7, {12, 22}}}, {"0=1@2:5", "0=0@2:7"}},
      {{1, 2, 3}, 12, oldFrame(0, 1, {0x34, 0x12, 0xAB, 0xFF, 0x0F}), {{1, {0x234, 0xAB1, 0xFFF}}}, {}},
  };
  for (const auto& [ports, nBits, frames, ticks, inputs] : rows) {
    connect(kCadrium2);
    dev->start(1000.0f, ports, nBits);
    io->feed(frames);
    dev->loop();
    EXPECT_EQ(dev->ticks, ticks);
    EXPECT_EQ(dev->inputs, inputs);
  }
}

TEST_F(OldLoop, ZStartAlternatesFrameSizes) {
  connect(kCadriumEmg);
  sig().startOld(1000.0f, 255, 12);
  Bytes stream;
  for (int seq = 0; seq < 10; ++seq) {
    const int n = seq % 8 == 0 ? 8 : 6;
    Bytes packed(static_cast<size_t>(n + (n + 1) / 2), static_cast<uint8_t>(seq));
    stream = stream + oldFrame(0, seq, packed);
  }
  io->feed(stream);
  dev->loop();
  ASSERT_EQ(dev->ticks.size(), 10u);
  EXPECT_EQ(dev->ticks[1].samples[6], dev->ticks[0].samples[6]);  // six-channel frames leave 6 and 7
  EXPECT_NE(dev->ticks[8].samples[6], dev->ticks[7].samples[6]);
  EXPECT_TRUE(io->inbox.empty());
}

TEST_F(OldLoop, BadFramesAndDataWhileIdleEndTheLoop) {
  Bytes badCrc = oldFrame(0, 3, {1});
  badCrc.back() ^= 1;
  const std::pair<const char*, Bytes> rows[] = {
      {"wrong CRC", badCrc},
      {"sequence skips ahead", oldFrame(0, 3, {1}) + oldFrame(0, 5, {1})},
      {"stray byte first", Bytes{0x42} + oldFrame(0, 3, {1})},
      {"data while idle", {0x01}},
  };
  for (const auto& [name, stream] : rows) {
    SCOPED_TRACE(name);
    connect(kCadrium2);
    if (stream.size() > 1) dev->start(1000.0f, std::vector<int>{1}, 8);
    io->feed(stream);
    EXPECT_THROW(dev->loop(), Vexa::Notification::ContactingDevice);
    EXPECT_EQ(dev->impl()->state, Vexa::kIdle);
  }
}

TEST_F(OldLoop, StopSendsRVAndSkipsToTheBannerOrGivesUp) {
  connect(kCadrium2);
  dev->start(1000.0f, std::vector<int>{1}, 8);
  io->sent.clear();
  io->feed(oldFrame(0, 9, {1}) + text("junk Cadrium 2 v.3.1\n") + Bytes{0x55});
  dev->stop();
  EXPECT_EQ(io->sent, text("RV"));
  EXPECT_EQ(io->inbox, std::deque<uint8_t>{0x55});
  EXPECT_EQ(sig().nSources, 0);
  // A device that never sends its banner.
  dev->start(1000.0f, std::vector<int>{1}, 8);
  io->inbox.clear();
  io->feed(Bytes(size_t{1} << 20, 'C') + text(kCadrium2));
  EXPECT_THROW(dev->stop(), Vexa::Notification::ContactingDevice);
}

TEST_F(OldLoop, PortsFormAndNotSupportedQueries) {
  connect(kCadrium2);
  for (const std::vector<int>& ports : {std::vector<int>{0}, {9}, {2, 2}}) {
    EXPECT_THROW(dev->start(1000.0f, ports, 8), Vexa::Error::InvalidParameter);
  }
  EXPECT_THROW(dev->start(1000.0f, std::vector<Vexa::Source>{{1, 1, 8, 1}}), Vexa::Error::NotSupported);
  EXPECT_THROW(dev->getBattery(), Vexa::Error::NotSupported);
  EXPECT_THROW(dev->setParameter(1, 1, nullptr, 0), Vexa::Error::NotSupported);
  EXPECT_TRUE(io->sent.empty());
  dev->start(1000.0f, std::vector<int>{8, 1}, 8);
  EXPECT_EQ(io->sent, text("@START,1000,81,08;"));
}

}  // namespace
}  // namespace vexa_test
