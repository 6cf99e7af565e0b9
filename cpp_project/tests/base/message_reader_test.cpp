#include <gtest/gtest.h>

#include "vexa/crc.h"
#include "support/scripted_device.h"

namespace vexa_test {
namespace {

using Vexa::BaseDev;

class MessageReader : public ::testing::Test {
 protected:
  void SetUp() override { dev = connectScripted({}, &io); }
  BaseDev::X& x() { return *dev->impl(); }
  Bytes payload(uint16_t len) { return Bytes(x().rxBuf.begin(), x().rxBuf.begin() + len); }

  FakeIO* io = nullptr;
  std::unique_ptr<RecordingDev> dev;
};

TEST_F(MessageReader, StreamMessages) {
  Bytes big(300);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7);
  struct Row {
    const char* name;
    Bytes stream;
    uint16_t code;
    Bytes payload;
  } rows[] = {
      {"empty success reply", {0x00, 0x00, 0xD7}, 0x00, {}},
      {"stray byte before reply", {0x05, 0x00, 0x00, 0xD7}, 0x00, {}},
      // Stray bytes that announce more than the device then sends: the reply
      // among the bytes that did arrive is still found.
      {"stray length beyond the last reply", {0x05, 0x40, 0x00, 0x00, 0xD7}, 0x00, {}},
      {"stray extended length beyond the last event", {0x91, 0x0C, 0xFF, 0x2C, 0x01, 0x08, 0x01, 0x02, 0x61}, 8, {2}},
      {"event", message(8, {5}), 8, {5}},
      {"two-byte code", message(0x8510, {0xAA, 0xBB}), 0x8510, {0xAA, 0xBB}},
      {"extended length", message(0x8001, big), 0x8001, big},
      {"254-byte payload keeps the short length", message(12, Bytes(254, 1)), 12, Bytes(254, 1)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    io->feed(row.stream);
    uint16_t len = 0;
    EXPECT_EQ(x().recvMsg(len, 100, false), row.code);
    EXPECT_EQ(payload(len), row.payload);
    EXPECT_TRUE(io->inbox.empty());
    EXPECT_TRUE(io->putBack.empty());
  }
}

TEST_F(MessageReader, TimeoutAndPiecewiseDelivery) {
  uint16_t len = 7;
  EXPECT_EQ(x().recvMsg(len, 250, false), Vexa::kNoMessage);
  EXPECT_EQ(io->timeouts.back(), 250);

  io->maxChunk = 1;
  io->feed(message(3, {1, 2, 3, 4, 5, 1}));
  EXPECT_EQ(x().recvMsg(len, 100, false), 3);
  EXPECT_EQ(len, 6);
}

TEST_F(MessageReader, MessageCutShortIsALostDevice) {
  Bytes m = message(0x8000, {1, 2, 3, 4});
  m.pop_back();
  io->feed(m);
  uint16_t len = 0;
  EXPECT_THROW(x().recvMsg(len, 100, false), Vexa::Notification::ContactingDevice);
}

TEST_F(MessageReader, FirstByteZeroAppliesToTheFirstAttemptOnly) {
  // The caller consumed a 0x00 whose message then fails its CRC: retries go
  // on from the following bytes instead of assuming another zero (which
  // would re-read the same bytes for ever).
  io->feed({0x00, 0x00, 0x00, 0xD7});
  uint16_t len = 9;
  EXPECT_EQ(x().recvMsg(len, 100, true), 0x00);
  EXPECT_EQ(len, 0);
  EXPECT_TRUE(io->inbox.empty());
  EXPECT_TRUE(io->putBack.empty());

  io->feed({0x00, 0x55});
  EXPECT_THROW(x().recvMsg(len, 100, true), Vexa::Notification::ContactingDevice);
}

TEST(PacketReader, PacketsAreWholeMessages) {
  DeviceScript script;
  FakeIO* io = nullptr;
  // Over a packet link the description comes as a 0x00 packet.
  auto io_owned = std::make_unique<FakeIO>();
  io = io_owned.get();
  io->onSend = [&script](const Bytes& chunk, FakeIO& self) {
    if (chunk == Bytes{0x07}) {
      Bytes p = {0x00};
      p.insert(p.end(), script.description.begin(), script.description.end());
      self.feedPacket(p);
    } else if (chunk.size() > 2 && chunk[2] == 0x03) {
      self.feedPacket({0x00, 0x02, 0x01, 0x03, 0x00, 0xFF, 0xFF});
    }
  };
  RecordingDev dev("BLE00:11:22:33:44:55", std::move(io_owned));
  auto& x = *dev.impl();
  EXPECT_EQ(x.packetSize, 20);
  EXPECT_EQ(dev.getProperties()["description"].asString(), "tessarimodular");

  struct Row {
    Bytes packet;
    uint16_t code;
    Bytes payload;
  } rows[] = {
      {{0x85, 0x10, 0xAA, 0xBB}, 0x8510, {0xAA, 0xBB}},
      {{0x08, 0x05}, 8, {0x05}},
      {{0x00}, 0, {}},
      {{0x80, 0x00}, 0x8000, {}},
  };
  for (const Row& row : rows) {
    io->feedPacket(row.packet);
    uint16_t len = 0;
    EXPECT_EQ(x.recvMsg(len, 100, false), row.code);
    EXPECT_EQ(Bytes(x.rxBuf.begin(), x.rxBuf.begin() + len), row.payload);
  }
  uint16_t len = 0;
  EXPECT_EQ(x.recvMsg(len, 100, false), Vexa::kNoMessage);
  io->feedPacket({0x85});
  EXPECT_THROW(x.recvMsg(len, 100, false), Vexa::Notification::ContactingDevice);
}

}  // namespace
}  // namespace vexa_test
