#include <gtest/gtest.h>

#include "vexa/crc.h"
#include "support/scripted_device.h"

namespace vexa_test {
namespace {

TEST(SendCommand, FramesAndPayloadLimit) {
  FakeIO* io = nullptr;
  auto dev = connectScripted({}, &io);
  auto& x = *dev->impl();

  EXPECT_EQ(x.sendCommand({0x03, 0x00}, true), 0);
  EXPECT_EQ(x.sendCommand({0x04, 0x00}, true), 0);
  ASSERT_EQ(io->sends.size(), 2u);
  EXPECT_EQ(io->sends[0], (Bytes{0xAA, 0x02, 0x03, 0x00, 0xE8}));
  EXPECT_EQ(io->sends[1], (Bytes{0xAA, 0x02, 0x04, 0x00, 0x83}));

  Bytes max(255, 0x11);
  x.sendCommand(max.data(), 255, true);
  ASSERT_EQ(io->sends.back().size(), 258u);
  EXPECT_EQ(io->sends.back()[1], 0xFF);
  EXPECT_EQ(io->sends.back().back(), Vexa::crc8(max.data(), 255));

  Bytes tooLong(256, 0x11);
  io->sends.clear();
  EXPECT_THROW(x.sendCommand(tooLong.data(), 256, false), Vexa::Error::InvalidParameter);
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
  ASSERT_EQ(dev->digitalInputs.size(), 1u);
  EXPECT_EQ(dev->digitalInputs[0].clockValue, 0x10u);
  EXPECT_TRUE(x.pending.empty());
}

TEST(SendCommand, ErrorReplyAndSilence) {
  DeviceScript script;
  script.extra = [](const Bytes& payload, FakeIO& io) {
    if (payload == Bytes{0x01, 0x05, 1, 1, 7}) {
      io.feed({0x01, 0x01, 0x05, 0x4E});
      return true;
    }
    if (payload == Bytes{0x01, 0x05, 1, 1, 8}) {
      io.feed(message(0x01, {}));
      return true;
    }
    return payload == Bytes{0x01, 0x05, 1, 1, 9};  // no answer at all
  };
  FakeIO* io = nullptr;
  auto dev = connectScripted(script, &io);
  auto& x = *dev->impl();
  try {
    x.sendCommand({0x01, 0x05, 1, 1, 7});
    FAIL() << "error reply accepted";
  } catch (const Vexa::Error::InvalidOperation& e) {
    EXPECT_EQ(e.code, 5);
  }
  try {
    x.sendCommand({0x01, 0x05, 1, 1, 8});
    FAIL() << "empty error reply accepted";
  } catch (const Vexa::Error::InvalidOperation& e) {
    EXPECT_EQ(e.code, 0);
  }
  EXPECT_THROW(x.sendCommand({0x01, 0x05, 1, 1, 9}), Vexa::Notification::ContactingDevice);
  EXPECT_EQ(io->timeouts.back(), 5000);
}

}  // namespace
}  // namespace vexa_test
