// The loop's states, driven on one thread: the scripted transport calls
// interrupt() from inside recv, exactly where another thread would.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <tuple>

#include "support/deadline.h"
#include "support/legacy_device.h"
#include "support/scripted_device.h"

namespace vexa_test {
namespace {

using Loop = ScriptedDeviceTest;

TEST_F(Loop, SilenceCallsOnTimeoutUntilItEndsTheLoop) {
  dev->setTimeout(2000);
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

TEST_F(Loop, OnlyOneLoopAndNoInterruptFromCallbacks) {
  io->feed(message(13, {1}));
  const auto code = [](const Vexa::Error::InvalidOperation& e) { return std::to_string(e.code); };
  std::string nested, interrupt;
  dev->stopOnEvent = [&](const Vexa::Event&) {
    nested = thrownAs<Vexa::Error::InvalidOperation>([this] { dev->loop(); }, code);
    interrupt = thrownAs<Vexa::Error::InvalidOperation>([this] { dev->interrupt(nullptr); }, code);
    return true;
  };
  dev->loop();
  EXPECT_EQ(nested + " " + interrupt, "0 0");
  EXPECT_THROW(dev->interrupt(nullptr), Vexa::Error::InvalidOperation);  // no loop runs
}

// Each family is woken by its own probe and the answer consumed; on a
// current device, an event that came before the reply is delivered after
// onInterrupt.
TEST(LoopInterrupt, WhileIdleWakesTheDevice) {
  const Bytes kVersionCmd = {0xAA, 0x02, 0x03, 0x00, 0xE8};
  // version line (null: a current device), wake-up bytes, the device's answer, calls delivered
  const std::tuple<const char*, Bytes, Bytes, std::vector<std::string>> rows[] = {
      {nullptr, kVersionCmd, message(13, {4}) + reply({2, 1, 3, 0, 0xFF, 0xFF}), {"i", "e13"}},
      {"Cadrium 2 v.3.1\n", {'V'}, text("Cadrium 2 v.3.1\n"), {"i"}},
      {"Quillbox_v5.1\n", {0x07}, text("Quillbox_v5.1\n"), {"i"}},
  };
  for (const auto& [line, wake, answer, order] : rows) {
    SCOPED_TRACE(line ? line : "current device");
    FakeIO* io = nullptr;
    std::unique_ptr<RecordingDev> dev = line ? connectLegacy(line, &io) : connectScripted({}, &io);
    dev->setTimeout(100);
    int marker = 0;
    io->beforeRecv = [&](FakeIO& self) {
      if (self.recvCalls == 1) dev->interrupt(&marker);
    };
    io->onSend = [wake = wake, answer = answer](const Bytes& chunk, FakeIO& self) {
      if (chunk == wake) self.feed(answer);
    };
    dev->stopOnInterrupt = false;
    dev->stopOnEvent = [](const Vexa::Event&) { return true; };
    dev->loop();
    EXPECT_EQ(io->sends, std::vector<Bytes>{wake});
    EXPECT_EQ(dev->interrupts, (std::vector<void*>{&marker}));
    EXPECT_EQ(dev->order, order);
    EXPECT_TRUE(io->inbox.empty());
  }
}

// A streaming device is sent nothing: the frame that wakes the loop is
// delivered right after onInterrupt, ahead of the frames behind it; when
// onInterrupt ends the loop, it is the first thing the next loop delivers.
TEST(LoopInterrupt, WhileAcquiringTheWakingFrameComesRightAfterIt) {
  // version line (null: a current device), frames, the samples of ticks 0, 1 and 2
  const std::tuple<const char*, Bytes, std::vector<int>> rows[] = {
      {nullptr, message(0x8000, {0x3A, 0x01}) + message(0x8001, {0xC5, 0xFE}) + message(0x8002, {0x7B, 0x40}),
       {0x013A, 0xFEC5, 0x407B}},
      {"Cadrium 2 v.3.1\n", oldFrame(0, 0, {0x3A}) + oldFrame(0, 1, {0xC5}) + oldFrame(0, 2, {0x7B}),
       {0x3A, 0xC5, 0x7B}},
      {"Quillbox_v5.1\n", bitFrame({314}, 0, 0) + bitFrame({965}, 0, 1) + bitFrame({123}, 0, 2), {314, 965, 123}},
  };
  for (const auto& [line, frames, samples] : rows) {
    SCOPED_TRACE(line ? line : "current device");
    // Outlives the device, whose stop in its destructor still receives.
    bool interruptNext = true;
    FakeIO* io = nullptr;
    std::unique_ptr<RecordingDev> dev;
    if (line) {
      dev = connectLegacy(line, &io);
      dev->start(1000.0f, std::vector<int>{1}, line[0] == 'C' ? 8 : 16);
    } else {
      dev = connectScripted({}, &io);
      dev->impl()->sigX->setUp({{1, 16, 1}});
    }
    dev->setTimeout(100);
    io->sends.clear();
    io->feed(frames);
    io->beforeRecv = [&](FakeIO&) {
      if (interruptNext) dev->interrupt(nullptr);
      interruptNext = false;
    };
    dev->stopOnInterrupt = false;
    dev->stopOnFrame = [](int nSeq) { return nSeq == 1; };
    dev->loop();
    interruptNext = true;
    dev->stopOnInterrupt = true;
    dev->loop();
    dev->stopOnFrame = [](int nSeq) { return nSeq == 2; };
    dev->loop();
    std::vector<std::string>& order = dev->order;  // without the legacy families' input reports
    order.erase(std::remove_if(order.begin(), order.end(), [](const std::string& c) { return c[0] == 'e'; }),
                order.end());
    EXPECT_EQ(order, (std::vector<std::string>{"i", "t0", "t1", "i", "t2"}));
    EXPECT_EQ(dev->ticks, (std::vector<Tick>{{0, {samples[0]}}, {1, {samples[1]}}, {2, {samples[2]}}}));
    EXPECT_TRUE(io->sends.empty());
  }
}

// However the loop fails, it ends idle and gives the mutex back exactly as
// it found it: another thread's interrupt is answered at once (no loop)
// instead of blocking on a mutex the loop kept. The mutex is recursive, so
// only another thread sees what the loop left.
TEST(LoopFailure, EndsIdleWithTheMutexFree) {
  enum Fault { kBadMessage, kBrokenLink, kBrokenAfterInterrupt, kErrorReplyToWakeUp, kSilentAfterWakeUp };
  const std::tuple<const char*, Fault, bool> rows[] = {  // what, fault, acquiring
      {"failure in dispatch", kBadMessage, false},
      {"failure in receive", kBrokenLink, false},
      // The interrupt moved the state on while the receive waited without
      // the mutex; then the receive fails.
      {"receive fails after an interrupt while idle", kBrokenAfterInterrupt, false},
      {"receive fails after an interrupt while acquiring", kBrokenAfterInterrupt, true},
      {"error reply to the wake-up command", kErrorReplyToWakeUp, false},
      {"no reply to the wake-up command", kSilentAfterWakeUp, false},
  };
  for (const auto& [name, fault, acquiring] : rows) {
    SCOPED_TRACE(name);
    FakeIO* io = nullptr;
    auto dev = connectScripted({}, &io);
    dev->setTimeout(2000);
    if (acquiring) dev->impl()->sigX->setUp({{1, 8, 1}});
    if (fault == kBadMessage) io->feed(message(2, {}));  // not an event
    io->broken = fault == kBrokenLink;
    if (fault >= kBrokenAfterInterrupt) {
      io->beforeRecv = [&dev, fault = fault](FakeIO& self) {
        if (self.recvCalls != 1) return;
        dev->interrupt(nullptr);
        self.broken = fault == kBrokenAfterInterrupt;
      };
    }
    if (fault == kErrorReplyToWakeUp) {
      io->onSend = [](const Bytes&, FakeIO& self) { self.feed({0x01, 0x01, 0x05, 0x4E}); };
    }
    if (fault == kSilentAfterWakeUp) io->onSend = nullptr;
    std::recursive_mutex& mutex = dev->impl()->mutex;
    {
      // A caller's own hold on the mutex is left exactly as it was: neither
      // released by the loop nor taken once more.
      const std::lock_guard<std::recursive_mutex> caller(mutex);
      EXPECT_THROW(dev->loop(), Vexa::Notification::ContactingDevice);
      const bool takenElsewhere = withinDeadline(std::string("try_lock after ") + name, [&mutex] {
        if (!mutex.try_lock()) return false;
        mutex.unlock();
        return true;
      });
      EXPECT_FALSE(takenElsewhere);
    }
    EXPECT_EQ(dev->impl()->state, Vexa::kIdle);
    if (fault == kSilentAfterWakeUp) {
      EXPECT_EQ(io->timeouts.back(), 5000);
    }
    EXPECT_EQ(withinDeadline(std::string("interrupt after ") + name,
                             [&dev] { return thrownType([&dev] { dev->interrupt(nullptr); }); }),
              typeName<Vexa::Error::InvalidOperation>());
  }
}

// A plain device object of a legacy family has no acquisition state: its
// loop is refused, and leaves the device idle.
TEST(LegacyLoop, PlainDeviceObjectIsRefused) {
  for (const char* line : {"Cadrium 2 v.3.1\n", "Quillbox_v5.1\n"}) {
    SCOPED_TRACE(line);
    FakeIO* io = nullptr;
    auto dev = connectLegacy<Vexa::BaseDev>(line, &io);
    EXPECT_THROW(dev->loop(), Vexa::Error::InvalidInstance);
    EXPECT_THROW(dev->loop(), Vexa::Error::InvalidInstance);
  }
}

}  // namespace
}  // namespace vexa_test
