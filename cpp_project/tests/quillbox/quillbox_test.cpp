#include <gtest/gtest.h>

#include <chrono>

#include "support/legacy_device.h"
#include "vexa/quillbox_dev.h"

namespace vexa_test {
namespace {

constexpr char kBoard5[] = "Quillbox_v5.1\n";
constexpr char kBoard4[] = "Quillbox_v4.2\n";

using Board = LegacyDeviceTest;

TEST_F(Board, StartBytesAndRefusals) {
  connect(kBoard5);
  EXPECT_THROW(sig().startBit(1000, 0, 16), Vexa::Error::InvalidParameter);
  EXPECT_THROW(sig().startBit(500, 64, 16), Vexa::Error::InvalidParameter);  // mask checked first
  EXPECT_THROW(sig().startBit(500, 1, 16), Vexa::Error::InvalidParameter);
  EXPECT_THROW(dev->start(1000, std::vector<int>{1, 7}, 16), Vexa::Error::InvalidParameter);
  EXPECT_TRUE(io->sent.empty());
  for (float rate : {1.0f, 10.0f, 100.0f}) {
    sig().startBit(rate, 1, 8);
    sig().release();
  }
  EXPECT_EQ(io->sent, (Bytes{0x03, 0x05, 0x43, 0x05, 0x83, 0x05}));
  io->sent.clear();
  dev->start(1000, std::vector<int>{1, 2, 3, 4, 5, 6}, 16);
  EXPECT_EQ(io->sent, (Bytes{0xC3, 0xFD}));
  EXPECT_THROW(sig().startBit(1000, 1, 8), Vexa::Error::InvalidOperation);
}

TEST_F(Board, FirstRevisionPausesBetweenCommands) {
  connect(kBoard4);
  auto began = std::chrono::steady_clock::now();
  sig().startBit(1000, 0x3F, 16);
  EXPECT_GE(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(1000));
  EXPECT_EQ(io->sent, (Bytes{0xC3, 0xFD}));
}

TEST_F(Board, TheDocumentedFrameAndTheFirstFrameAtTickZero) {
  connect(kBoard5);
  dev->start(1000, std::vector<int>{1}, 16);
  io->feed({0xB4, 0x5F, 0x7E});
  dev->loop();
  EXPECT_EQ(dev->ticks, (std::vector<Tick>{{7, {1005}}}));
  // Inputs 0, 1, 0, 1: the two that differ from the idle state are
  // reported, stamped with the frame's tick, before the frame.
  EXPECT_EQ(dev->inputs, (std::vector<std::string>{"1=1@2:7", "3=1@2:7"}));
  EXPECT_EQ(dev->order.front(), "e3");
  // At tick 0 every input is reported.
  connect(kBoard5);
  dev->start(1000, std::vector<int>{1}, 16);
  io->feed(bitFrame({1}, 0x0, 0));
  dev->loop();
  EXPECT_EQ(dev->inputs, (std::vector<std::string>{"0=0@2:0", "1=0@2:0", "2=0@2:0", "3=0@2:0"}));
}

TEST_F(Board, FrameSizesForOneToSixChannels) {
  const std::vector<int> values = {1023, 0, 512, 77, 63, 21};
  for (int n = 1; n <= 6; ++n) {
    SCOPED_TRACE(n);
    connect(kBoard5);
    std::vector<int> ports;
    for (int p = 1; p <= n; ++p) ports.push_back(p);
    dev->start(1000, ports, 8);
    std::vector<int> v(values.begin(), values.begin() + n);
    Bytes frames = bitFrame(v, 0x9, 0) + bitFrame(v, 0x9, 1);
    io->feed(frames);
    dev->loop();
    EXPECT_EQ(dev->ticks, (std::vector<Tick>{{0, v}, {1, v}}));
  }
}

TEST_F(Board, SlidesOverStrayBytesSkipsLostFramesAndWrapsForward) {
  connect(kBoard5);
  dev->start(1000, std::vector<int>{1, 2}, 16);
  io->feed(Bytes{0x13} + bitFrame({5, 6}, 0, 3) + bitFrame({7, 8}, 0, 6) + bitFrame({1, 2}, 0, 15) +
           bitFrame({3, 4}, 0, 1) + Bytes{0xB4, 0x5F, 0x7F});
  dev->loop();
  EXPECT_EQ(dev->tickNumbers(), (std::vector<int>{3, 6, 15, 17}));
  EXPECT_EQ(dev->ticks[1].samples, (std::vector<int>{7, 8}));
}

TEST_F(Board, StopResynchronisesOnTheBanner) {
  connect(kBoard5);
  dev->start(1000, std::vector<int>{1}, 16);
  io->sent.clear();
  io->feed(bitFrame({1}, 0, 1) + text(kBoard5));
  dev->stop();
  EXPECT_EQ(io->sent, (Bytes{0x00, 0x07}));
  EXPECT_TRUE(io->inbox.empty());
}

TEST_F(Board, StateAndBattery) {
  connect(kBoard5);
  Bytes reply = {1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 0xFF, 0x03, 0x20, 0x03, 9, 0xA0};
  io->onSend = [&reply](const Bytes& c, FakeIO& self) {
    if (c == Bytes{0x0B}) self.feed(reply);
  };
  const Vexa::QuillboxDev::State state = Vexa::QuillboxDev::getState(*dev->impl());
  EXPECT_EQ(std::vector<unsigned>(std::begin(state.analog), std::end(state.analog)),
            (std::vector<unsigned>{1, 2, 3, 4, 5, 1023}));
  EXPECT_EQ((std::vector<int>{state.battery, state.aux}), (std::vector<int>{800, 9}));
  EXPECT_EQ(std::vector<bool>(std::begin(state.digital), std::end(state.digital)),
            (std::vector<bool>{true, false, true, false}));

  for (const auto& [raw, percent] : {std::pair<int, float>{600, 61.2f}, {620, 82.68f}}) {
    reply[12] = raw & 0xFF;
    reply[13] = static_cast<uint8_t>(raw >> 8);
    EXPECT_NEAR(dev->getBattery(), percent, 0.05) << raw;
  }

  dev->start(1000, std::vector<int>{1}, 16);
  EXPECT_THROW(Vexa::QuillboxDev::getState(*dev->impl()), Vexa::Error::InvalidOperation);
  connect(kBoard4);
  EXPECT_THROW(Vexa::QuillboxDev::getState(*dev->impl()), Vexa::Error::NotSupported);
}

// Over a packet link: the handshake's answer is one packet, as is the
// interrupt's after a stray byte.
class PacketBoard : public LegacyDeviceTest {
 protected:
  void SetUp() override {
    auto owned = std::make_unique<FakeIO>();
    io = owned.get();
    io->onSend = [](const Bytes& c, FakeIO& self) {
      if (c == Bytes{0x07} && self.sends.size() <= 2)
        self.feedPacket(text(self.sends.size() == 1 ? "Quillbox_v5.1\r\n" : "\x13Quillbox_v5.1\n"));
    };
    dev = std::make_unique<RecordingDev>("BLE01", std::move(owned));
    dev->setTimeout(100);
  }
};

TEST_F(PacketBoard, ReassemblesSplitFrames) {
  dev->start(1000, std::vector<int>{1, 2, 3}, 16);  // 6-byte frames
  Bytes a = bitFrame({1, 2, 3}, 0, 0), b = bitFrame({4, 5, 6}, 0, 1), c = bitFrame({7, 8, 9}, 0, 2);
  io->feedPacket(a + Bytes(b.begin(), b.begin() + 2));
  io->feedPacket(Bytes(b.begin() + 2, b.end()) + Bytes(c.begin(), c.begin() + 1));
  dev->loop();  // times out in the middle of the third frame
  EXPECT_EQ(dev->tickNumbers(), (std::vector<int>{0, 1}));
  // The byte already received is kept for the next attempt.
  io->feedPacket(Bytes(c.begin() + 1, c.end()));
  dev->loop();
  EXPECT_EQ(dev->ticks.back(), (Tick{2, {7, 8, 9}}));
}

TEST_F(PacketBoard, BannerAfterIdleInterruptAndStop) {
  // The whole answer to the interrupt's wake-up byte, line feed included,
  // comes in the one packet the idle loop receives.
  io->recvCalls = 0;
  io->beforeRecv = [this](FakeIO& self) {
    if (self.recvCalls == 1) dev->interrupt(nullptr);
  };
  dev->loop();
  EXPECT_EQ(dev->interrupts.size(), 1u);
  io->beforeRecv = nullptr;
  dev->start(1000, std::vector<int>{1}, 16);
  io->feedPacket(bitFrame({1}, 0, 0) + text("Quill"));
  io->feedPacket(text("box_v5.1\n"));
  dev->stop();
  EXPECT_TRUE(io->packets.empty());
  dev->start(1000, std::vector<int>{1}, 16);
  EXPECT_THROW(dev->stop(), Vexa::Notification::ContactingDevice);  // silent link
}

}  // namespace
}  // namespace vexa_test
