// The loop's states, driven on one thread: the scripted transport calls
// interrupt() from inside recv, exactly where another thread would.
#include <gtest/gtest.h>

#include "signals/signals_x.h"
#include "support/scripted_device.h"

namespace vexa_test {
namespace {

class Loop : public ::testing::Test {
 protected:
  void SetUp() override {
    dev = connectScripted({}, &io);
    dev->setTimeout(2000);
  }
  Vexa::BaseDev::X& x() { return *dev->impl(); }

  FakeIO* io = nullptr;
  std::unique_ptr<RecordingDev> dev;
};

TEST_F(Loop, SilenceCallsOnTimeoutUntilItEndsTheLoop) {
  int calls = 0;
  dev->stopOnTimeout = false;
  io->beforeRecv = [&](FakeIO&) {
    if (++calls == 3) dev->stopOnTimeout = true;
  };
  dev->loop();
  EXPECT_EQ(dev->timeouts, 3);
  EXPECT_EQ(io->timeouts.back(), 2000);
  EXPECT_EQ(x().state, Vexa::kIdle);
}

TEST_F(Loop, QueuedMessagesComeFirst) {
  x().pending.push_back({13, {1}});
  io->feed(message(9, {1}));
  dev->stopOnEvent = [](const Vexa::Event& ev) { return ev.type == 9; };
  dev->loop();
  EXPECT_EQ(dev->eventTypes, (std::vector<int>{13, 9}));
}

TEST_F(Loop, OnlyOneLoopAndNoInterruptFromCallbacks) {
  io->feed(message(13, {1}));
  bool nestedLoopRefused = false, interruptRefused = false;
  dev->stopOnEvent = [&](const Vexa::Event&) {
    try {
      dev->loop();
    } catch (const Vexa::Error::InvalidOperation& e) {
      nestedLoopRefused = e.code == 0;
    }
    try {
      dev->interrupt(nullptr);
    } catch (const Vexa::Error::InvalidOperation& e) {
      interruptRefused = e.code == 0;
    }
    return true;
  };
  dev->loop();
  EXPECT_TRUE(nestedLoopRefused);
  EXPECT_TRUE(interruptRefused);
  EXPECT_THROW(dev->interrupt(nullptr), Vexa::Error::InvalidOperation);  // no loop runs
}

TEST_F(Loop, FailuresLeaveTheLoopIdleAndReusable) {
  io->feed(message(2, {}));  // not an event
  EXPECT_THROW(dev->loop(), Vexa::Notification::ContactingDevice);
  EXPECT_EQ(x().state, Vexa::kIdle);
  io->broken = true;  // fails while receiving, with the mutex released
  EXPECT_THROW(dev->loop(), Vexa::Notification::ContactingDevice);
  EXPECT_EQ(x().state, Vexa::kIdle);
  io->broken = false;
  dev->loop();  // times out at once and ends: the mutex was not left locked
  EXPECT_EQ(dev->timeouts, 1);
}

TEST_F(Loop, InterruptWhileIdleWakesTheDevice) {
  int marker = 0;
  io->beforeRecv = [&](FakeIO& self) {
    if (self.recvCalls == 1) dev->interrupt(&marker);
  };
  // The device answers the wake-up command after an event of its own.
  io->onSend = [](const Bytes& chunk, FakeIO& self) {
    if (chunk == Bytes{0xAA, 0x02, 0x03, 0x00, 0xE8}) {
      self.feed(message(13, {4}) + reply({2, 1, 3, 0, 0xFF, 0xFF}));
    }
  };
  dev->stopOnInterrupt = false;
  int recvsAfter = 0;
  dev->stopOnEvent = [&](const Vexa::Event&) { return ++recvsAfter == 1; };
  dev->loop();
  EXPECT_EQ(io->sends, (std::vector<Bytes>{{0xAA, 0x02, 0x03, 0x00, 0xE8}}));
  EXPECT_EQ(dev->interrupts, (std::vector<void*>{&marker}));
  // The event that came before the reply is delivered after onInterrupt.
  EXPECT_EQ(dev->eventTypes, (std::vector<int>{13}));
}

TEST_F(Loop, InterruptWhileAcquiringSendsNothingAndQueuesTheFrame) {
  x().sigX->setUp({{1, 8, 1}});
  io->feed(message(0x8000, {7}) + message(0x8001, {8}));
  io->beforeRecv = [&](FakeIO& self) {
    if (self.recvCalls == 1) dev->interrupt(nullptr);
  };
  dev->stopOnInterrupt = false;
  dev->stopOnFrame = [](int nSeq) { return nSeq == 1; };
  dev->loop();
  EXPECT_TRUE(io->sends.empty());
  ASSERT_EQ(dev->interrupts.size(), 1u);
  EXPECT_EQ(dev->ticks, (std::vector<Tick>{{0, {7}}, {1, {8}}}));
}

TEST_F(Loop, ErrorReplyWhileWaitingForTheWakeUpReply) {
  io->beforeRecv = [&](FakeIO& self) {
    if (self.recvCalls == 1) dev->interrupt(nullptr);
  };
  io->onSend = [](const Bytes&, FakeIO& self) { self.feed({0x01, 0x01, 0x05, 0x4E}); };
  EXPECT_THROW(dev->loop(), Vexa::Notification::ContactingDevice);
  EXPECT_EQ(x().state, Vexa::kIdle);
}

TEST_F(Loop, SilentDeviceAfterTheWakeUpEndsTheLoop) {
  io->beforeRecv = [&](FakeIO& self) {
    if (self.recvCalls == 1) dev->interrupt(nullptr);
  };
  io->onSend = nullptr;
  EXPECT_THROW(dev->loop(), Vexa::Notification::ContactingDevice);
  EXPECT_EQ(io->timeouts.back(), 5000);
}

}  // namespace
}  // namespace vexa_test
