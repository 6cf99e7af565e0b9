#include <gtest/gtest.h>

#include "signals/signals_x.h"
#include "support/legacy_device.h"

namespace vexa_test {
namespace {

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST(OldestFamily, StartCommands) {
  struct Row {
    const char* line;
    float freq;
    int mask, nBits;
    const char* sent;  // null: refused
  } rows[] = {
      {"Cadrium 2 v.3.1\n", 1000, 0x0F, 12, "@START,1000,0F,12;"},
      {"Cadrium 2 v.3.1\n", 36, 0xFF, 8, "@START,0036,FF,08;"},
      {"Cadrium 2 v.3.1\n", 8000, 1, 8, "@START,8000,01,08;"},
      {"Cadrium 2 v.3.1\n", 1000.5f, 0x0F, 12, nullptr},
      {"Cadrium 2 v.3.1\n", 35, 0x0F, 12, nullptr},
      {"Cadrium 2 v.3.1\n", 8001, 0x0F, 12, nullptr},
      {"Cadrium 2 v.3.1\n", 1000, 0, 12, nullptr},
      {"Cadrium 2 v.3.1\n", 1000, 256, 12, nullptr},
      {"Cadrium 2 v.3.1\n", 1000, 1, 16, nullptr},
      {"Cadrium EMG v.1.5\n", 1000, 255, 12, "Z"},
      {"Cadrium EMG v.1.5\n", 500, 255, 12, nullptr},
      {"Cadrium EMG v.1.5\n", 1000, 0x7F, 12, nullptr},
      {"Cadrium EMG v.1.5\n", 1000, 255, 8, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.line) + " " + std::to_string(row.freq));
    FakeIO* io = nullptr;
    auto dev = connectLegacy(row.line, &io);
    auto& sig = *dev->impl()->sigX;
    if (row.sent == nullptr) {
      EXPECT_THROW(sig.startOld(row.freq, row.mask, row.nBits), Vexa::Error::InvalidParameter);
      EXPECT_TRUE(io->sent.empty());
      continue;
    }
    sig.startOld(row.freq, row.mask, row.nBits);
    EXPECT_EQ(io->sent, text(row.sent));
    EXPECT_EQ(sig.nSources, 1);
    EXPECT_THROW(sig.startOld(row.freq, row.mask, row.nBits), Vexa::Error::InvalidOperation);
  }
}

class OldLoop : public ::testing::Test {
 protected:
  void connect(const char* line = "Cadrium 2 v.3.1\n") {
    dev = connectLegacy(line, &io);
    dev->setTimeout(100);
  }
  // Runs the loop until the device goes quiet.
  void run() { dev->loop(); }

  FakeIO* io = nullptr;
  std::unique_ptr<RecordingDev> dev;
};

TEST_F(OldLoop, EightBitFramesAndInputEvents) {
  connect();
  dev->start(1000.0f, std::vector<int>{1, 2}, 8);  // mask 0x03: 4-byte frames
  io->feed(oldFrame(1, 5, {10, 20}) + oldFrame(1, 6, {11, 21}) + oldFrame(0, 7, {12, 22}));
  run();
  EXPECT_EQ(dev->ticks, (std::vector<Tick>{{5, {10, 20}}, {6, {11, 21}}, {7, {12, 22}}}));
  ASSERT_EQ(dev->digitalInputs.size(), 2u);
  EXPECT_EQ(dev->digitalInputs[0].clockSource, 2);
  EXPECT_EQ(dev->digitalInputs[0].clockValue, 5u);
  EXPECT_EQ(dev->digitalInputs[0].input, 0);
  EXPECT_TRUE(dev->digitalInputs[0].state);
  EXPECT_EQ(dev->digitalInputs[1].clockValue, 7u);
  EXPECT_FALSE(dev->digitalInputs[1].state);
}

TEST_F(OldLoop, TwelveBitPacking) {
  connect();
  dev->start(1000.0f, std::vector<int>{1, 2, 3}, 12);  // odd count: 3 + 2 bytes
  io->feed(oldFrame(0, 1, {0x34, 0x12, 0xAB, 0xFF, 0x0F}));
  run();
  ASSERT_EQ(dev->ticks.size(), 1u);
  EXPECT_EQ(dev->ticks[0].samples, (std::vector<int>{0x234, 0xAB1, 0xFFF}));
}

TEST_F(OldLoop, ZStartAlternatesFrameSizes) {
  connect("Cadrium EMG v.1.5\n");
  dev->impl()->sigX->startOld(1000.0f, 255, 12);
  Bytes stream;
  for (int seq = 0; seq < 10; ++seq) {
    const int n = seq % 8 == 0 ? 8 : 6;
    Bytes packed(static_cast<size_t>(n + (n + 1) / 2), static_cast<uint8_t>(seq));
    stream = stream + oldFrame(0, seq, packed);
  }
  io->feed(stream);
  run();
  ASSERT_EQ(dev->ticks.size(), 10u);
  EXPECT_EQ(dev->ticks[1].samples[6], dev->ticks[0].samples[6]);  // six-channel frames leave 6 and 7
  EXPECT_NE(dev->ticks[8].samples[6], dev->ticks[7].samples[6]);
  EXPECT_TRUE(io->inbox.empty());
}

TEST_F(OldLoop, BadFramesEndTheLoop) {
  struct Row {
    const char* name;
    Bytes stream;
  } rows[] = {
      {"wrong CRC", [] {
         Bytes f = oldFrame(0, 3, {1});
         f.back() ^= 1;
         return f;
       }()},
      {"sequence skips ahead", oldFrame(0, 3, {1}) + oldFrame(0, 5, {1})},
      {"stray byte first", Bytes{0x42} + oldFrame(0, 3, {1})},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    connect();
    dev->start(1000.0f, std::vector<int>{1}, 8);
    io->feed(row.stream);
    EXPECT_THROW(run(), Vexa::Notification::ContactingDevice);
    EXPECT_EQ(dev->impl()->state, Vexa::kIdle);
  }
}

TEST_F(OldLoop, StopSendsRVAndSkipsToTheBanner) {
  connect();
  dev->start(1000.0f, std::vector<int>{1}, 8);
  io->sent.clear();
  io->feed(oldFrame(0, 9, {1}) + text("junk Cadrium 2 v.3.1\n") + Bytes{0x55});
  dev->stop();
  EXPECT_EQ(io->sent, text("RV"));
  EXPECT_EQ(io->inbox, std::deque<uint8_t>{0x55});
  EXPECT_EQ(dev->impl()->sigX->nSources, 0);
}

TEST_F(OldLoop, StopGivesUpOnADeviceThatNeverSendsItsBanner) {
  connect();
  dev->start(1000.0f, std::vector<int>{1}, 8);
  io->feed(Bytes(size_t{1} << 20, 'C') + text("Cadrium 2 v.3.1\n"));
  EXPECT_THROW(dev->stop(), Vexa::Notification::ContactingDevice);
}

TEST_F(OldLoop, InterruptWhileIdleConsumesTheBanner) {
  connect();
  io->beforeRecv = [this](FakeIO& self) {
    if (self.recvCalls == 1) dev->interrupt(nullptr);
  };
  io->onSend = [](const Bytes& chunk, FakeIO& self) {
    if (chunk == Bytes{'V'}) self.feed(text("Cadrium 2 v.3.1\n"));
  };
  run();
  EXPECT_EQ(io->sent, Bytes{'V'});
  EXPECT_EQ(dev->interrupts.size(), 1u);
  EXPECT_TRUE(io->inbox.empty());
}

TEST_F(OldLoop, DataWhileIdleIsALostDevice) {
  connect();
  io->feed({0x01});
  EXPECT_THROW(run(), Vexa::Notification::ContactingDevice);
}

TEST_F(OldLoop, PortsFormAndNotSupportedQueries) {
  connect();
  EXPECT_THROW(dev->start(1000.0f, std::vector<int>{0}, 8), Vexa::Error::InvalidParameter);
  EXPECT_THROW(dev->start(1000.0f, std::vector<int>{9}, 8), Vexa::Error::InvalidParameter);
  EXPECT_THROW(dev->start(1000.0f, std::vector<int>{2, 2}, 8), Vexa::Error::InvalidParameter);
  EXPECT_THROW(dev->start(1000.0f, std::vector<Vexa::Source>{{1, 1, 8, 1}}), Vexa::Error::NotSupported);
  EXPECT_THROW(dev->getBattery(), Vexa::Error::NotSupported);
  EXPECT_THROW(dev->setParameter(1, 1, nullptr, 0), Vexa::Error::NotSupported);
  EXPECT_TRUE(io->sent.empty());
  dev->start(1000.0f, std::vector<int>{8, 1}, 8);
  EXPECT_EQ(io->sent, text("@START,1000,81,08;"));
}

}  // namespace
}  // namespace vexa_test
