#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <tuple>

#include "vexa/crc.h"
#include "support/scripted_device.h"

namespace vexa_test {
namespace {

class MessageReader : public ScriptedDeviceTest {
 protected:
  Bytes payload(uint16_t len) { return Bytes(x().rxBuf.begin(), x().rxBuf.begin() + len); }
};

TEST_F(MessageReader, StreamMessages) {
  const Bytes big = varied(300, 7);
  // what, the stream, its message's code and payload
  const std::tuple<const char*, Bytes, uint16_t, Bytes> rows[] = {
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
  // Once a receive has timed out, the search goes on through the bytes
  // already read: on a real link each further receive would wait once more.
  int timeOuts = 0;
  io->beforeRecv = [&timeOuts](FakeIO& self) { timeOuts += self.inbox.empty(); };
  for (const auto& [name, stream, code, expected] : rows) {
    for (int chunk : {INT_MAX, 1}) {  // whole, then one byte per receive
      SCOPED_TRACE(std::string(name) + " in chunks of " + std::to_string(chunk));
      io->maxChunk = chunk;
      io->feed(stream);
      uint16_t len = 0;
      timeOuts = 0;
      EXPECT_EQ(x().recvMsg(len, 100, false), code);
      EXPECT_EQ(payload(len), expected);
      EXPECT_TRUE(io->inbox.empty());
      EXPECT_TRUE(io->putBack.empty());
      EXPECT_LE(timeOuts, 1);
    }
  }
}

TEST_F(MessageReader, TimeoutAndMessageCutShort) {
  uint16_t len = 7;
  EXPECT_EQ(x().recvMsg(len, 250, false), Vexa::kNoMessage);
  EXPECT_EQ(io->timeouts.back(), 250);
  Bytes m = message(0x8000, {1, 2, 3, 4});
  m.pop_back();
  io->feed(m);
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
  // Over a packet link the description comes as a 0x00 packet.
  auto io_owned = std::make_unique<FakeIO>();
  FakeIO* io = io_owned.get();
  io->onSend = [](const Bytes& chunk, FakeIO& self) {
    if (chunk == Bytes{0x07}) {
      self.feedPacket(Bytes{0x00} + text("tessarimodular"));
    } else if (chunk.size() > 2 && chunk[2] == 0x03) {
      self.feedPacket({0x00, 0x02, 0x01, 0x03, 0x00, 0xFF, 0xFF});
    }
  };
  RecordingDev dev("BLE00:11:22:33:44:55", std::move(io_owned));
  auto& x = *dev.impl();
  EXPECT_EQ(x.packetSize, 20);
  EXPECT_EQ(dev.getProperties()["description"].asString(), "tessarimodular");

  // packet, code, payload
  const std::tuple<Bytes, uint16_t, Bytes> rows[] = {
      {{0x85, 0x10, 0xAA, 0xBB}, 0x8510, {0xAA, 0xBB}}, {{0x08, 0x05}, 8, {0x05}}, {{0x00}, 0, {}},
      {{0x80, 0x00}, 0x8000, {}}};
  for (const auto& [packet, code, payload] : rows) {
    io->feedPacket(packet);
    uint16_t len = 0;
    EXPECT_EQ(x.recvMsg(len, 100, false), code);
    EXPECT_EQ(Bytes(x.rxBuf.begin(), x.rxBuf.begin() + len), payload);
  }
  uint16_t len = 0;
  EXPECT_EQ(x.recvMsg(len, 100, false), Vexa::kNoMessage);
  io->feedPacket({0x85});
  EXPECT_THROW(x.recvMsg(len, 100, false), Vexa::Notification::ContactingDevice);
}

TEST_F(MessageReader, CommandFramesAndPayloadLimit) {
  Bytes max = varied(255, 7);
  x().sendCommand(max.data(), 255, true);
  ASSERT_EQ(io->sends.back().size(), 258u);
  EXPECT_EQ(io->sends.back()[1], 0xFF);
  EXPECT_EQ(io->sends.back().back(), Vexa::crc8(max.data(), 255));

  Bytes tooLong(256, 0x11);
  io->sends.clear();
  EXPECT_THROW(x().sendCommand(tooLong.data(), 256, false), Vexa::Error::InvalidParameter);
  EXPECT_TRUE(io->sends.empty());
}

TEST(SendCommand, QueuesWhatArrivesBeforeTheReply) {
  DeviceScript script;
  script.extra = [](const Bytes& payload, FakeIO& io) {
    if (payload != Bytes{0x04, 0x00}) return false;
    io.feed(message(3, {1, 0x10, 0, 0, 0, 1}) + message(0x8007, {9, 9}) + reply({0x10, 0x20}));
    return true;
  };
  FakeIO* io = nullptr;
  auto dev = connectScripted(script, &io);
  auto& x = *dev->impl();
  EXPECT_EQ(x.sendCommand({0x04, 0x00}), 2);
  EXPECT_EQ(x.rxBuf[0], 0x10);
  ASSERT_EQ(x.pending.size(), 2u);
  EXPECT_EQ(x.pending[0].code, 3);
  EXPECT_EQ(x.pending[0].data, (Bytes{1, 0x10, 0, 0, 0, 1}));
  EXPECT_EQ(x.pending[1].code, 0x8007);

  // The loop delivers the queued event later; no acquisition runs, so the
  // queued frame is dropped.
  EXPECT_FALSE(x.dispatchPending());
  EXPECT_EQ(dev->eventTypes, (std::vector<int>{3}));
  EXPECT_EQ(dev->inputs, std::vector<std::string>{"0=1@1:16"});
  EXPECT_TRUE(x.pending.empty());
}

// An error reply carries the device's code (0 when empty); silence is a lost
// device after the reply time-out.
TEST(SendCommand, ErrorReplyAndSilence) {
  const std::map<uint8_t, Bytes> answers = {{7, {0x01, 0x01, 0x05, 0x4E}}, {8, message(0x01, {})}};
  DeviceScript script;
  script.extra = [&answers](const Bytes& payload, FakeIO& io) {
    if (payload.size() != 5 || payload[0] != 0x01) return false;
    if (answers.count(payload[4])) io.feed(answers.at(payload[4]));
    return true;
  };
  FakeIO* io = nullptr;
  auto dev = connectScripted(script, &io);
  for (const auto& [last, code] : {std::pair<uint8_t, int>{7, 5}, {8, 0}}) {
    EXPECT_EQ(thrownAs<Vexa::Error::InvalidOperation>([&dev, l = last] { dev->impl()->sendCommand({0x01, 0x05, 1, 1, l}); },
                                                      [](const auto& e) { return std::to_string(e.code); }),
              std::to_string(code));
  }
  EXPECT_THROW(dev->impl()->sendCommand({0x01, 0x05, 1, 1, 9}), Vexa::Notification::ContactingDevice);
  EXPECT_EQ(io->timeouts.back(), 5000);
}

// The transport read underneath: IO::recvAll.
TEST(RecvAll, PutBackFirstThenTransportInPiecesAndAnEmptyWaitFails) {
  FakeIO io;
  io.feed({6, 7, 8});
  Vexa::IO::recvAll(io, nullptr, 0);
  EXPECT_EQ(io.recvCalls, 0);
  io.putBack = {1, 2, 3, 4, 5};
  uint8_t buf[5];
  Vexa::IO::recvAll(io, buf, 3);
  EXPECT_EQ(Bytes(buf, buf + 3), (Bytes{1, 2, 3}));
  EXPECT_EQ(io.putBack, (std::deque<uint8_t>{4, 5}));
  EXPECT_EQ(io.recvCalls, 0);
  io.maxChunk = 1;
  Vexa::IO::recvAll(io, buf, 5);
  EXPECT_EQ(Bytes(buf, buf + 5), (Bytes{4, 5, 6, 7, 8}));
  EXPECT_EQ(io.recvCalls, 3);

  // What arrived before the wait that came back empty is kept in place.
  io.maxChunk = 2;
  io.feed({1, 2, 3, 4});
  uint8_t more[6] = {};
  EXPECT_THROW(Vexa::IO::recvAll(io, more, 6), Vexa::Notification::ContactingDevice);
  EXPECT_EQ(io.recvCalls, 6);
  EXPECT_EQ(Bytes(more, more + 4), (Bytes{1, 2, 3, 4}));
}

}  // namespace
}  // namespace vexa_test
