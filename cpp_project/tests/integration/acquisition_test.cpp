// Identifying and acquiring from simulated devices through the real serial
// transport on a pseudo-terminal, with the loop on one thread and interrupts
// from another.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "signals/signals_x.h"
#include "support/eventually.h"
#include "support/pattern_check.h"
#include "support/recording_dev.h"
#include "vexa/exceptions.h"
#include "vexa_sim/current_device_model.h"
#include "vexa_sim/pty_simulator.h"

namespace vexa_test {
namespace {

using vexa_sim::CurrentDeviceModel;

// A device that checks every tick against the simulator's pattern.
class CheckedDev : public Vexa::SignalsDev {
 public:
  using SignalsDev::SignalsDev;
  using BaseDev::impl;

  void begin(float freq, std::vector<Vexa::Source> sources) {
    checker = PatternChecker(sources);
    start(freq, sources);
  }
  bool onRawFrame(int nSeq, const int data[]) override {
    checker.check(nSeq, data, impl()->sigX->totalChannels);
    ++ticksSeen;
    return stopAtTick >= 0 && nSeq >= stopAtTick;
  }
  bool onEvent(const Vexa::Event& ev) override {
    events.push_back(ev.type);
    return ev.type == Vexa::Event::kDisconnect;
  }
  bool onInterrupt(void*) override {
    ++interrupts;
    return true;
  }
  bool onTimeout() override { return true; }

  PatternChecker checker{{}};
  // What another thread may watch while the loop runs.
  std::atomic<int64_t> ticksSeen{0};
  int stopAtTick = -1;
  int interrupts = 0;
  std::vector<int> events;
};

class Acquisition : public ::testing::Test {
 protected:
  void SetUp() override {
    vexa_sim::CurrentDeviceConfig config;
    config.productId = 517;  // takes 24-bit sources
    sim = std::make_unique<vexa_sim::PtySimulator>(std::make_unique<CurrentDeviceModel>(config));
    dev = std::make_unique<CheckedDev>(sim->comPath());
    dev->setTimeout(2000);
  }
  // The loop takes an interrupt only while it waits for a message; a host
  // tries again while it is handling one.
  void interruptLoop() {
    ASSERT_TRUE(eventually([this] {
      try {
        dev->interrupt(nullptr);
        return true;
      } catch (const Vexa::Error::InvalidOperation&) {
        return false;
      }
    }));
  }

  std::unique_ptr<vexa_sim::PtySimulator> sim;
  std::unique_ptr<CheckedDev> dev;
};

const std::vector<Vexa::Source> kMixed = {{1, 1, 16, 0x03}, {2, 2, 8, 0x01}, {3, 1, 24, 0x05}};

TEST_F(Acquisition, SecondsAt1000HzLoseAndRepeatNothing) {
  dev->begin(1000.0f, kMixed);
  dev->stopAtTick = 2999;
  dev->loop();
  EXPECT_EQ(dev->checker.ticks(), 3000);
  EXPECT_EQ(dev->checker.lost(), 0);
  EXPECT_EQ(dev->checker.badTicks(), 0) << dev->checker.firstError();
  dev->stop();
  EXPECT_EQ(dev->impl()->sigX->nSources, 0);
}

// A stopped acquisition starts again at tick 0 with a new layout; frames
// of the old one still on their way are dropped, not decoded as the new
// one's. The frame that holds the tick a callback stops at is delivered to
// its end.
TEST_F(Acquisition, StopAndRestartStartsAgainAtTickZero) {
  const std::vector<Vexa::Source> layouts[] = {{{4, 1, 16, 0xFF}}, {{2, 1, 8, 0x01}}};
  for (const std::vector<Vexa::Source>& sources : layouts) {
    dev->begin(2000.0f, sources);
    dev->stopAtTick = 199;
    dev->loop();
    EXPECT_EQ(dev->checker.firstTick(), 0);
    EXPECT_GE(dev->checker.ticks(), 200);
    EXPECT_EQ(dev->checker.lost(), 0);
    EXPECT_EQ(dev->checker.badTicks(), 0) << dev->checker.firstError();
    dev->stop();
  }
}

TEST_F(Acquisition, InterruptFromAnotherThreadWhileAcquiring) {
  dev->begin(1000.0f, kMixed);
  auto loop = std::async(std::launch::async, [this] { dev->loop(); });
  ASSERT_TRUE(eventually([this] { return dev->ticksSeen > 50; }));
  interruptLoop();
  loop.get();
  EXPECT_EQ(dev->interrupts, 1);
  // The loop goes on where it stopped: the queued frame comes first.
  dev->stopAtTick = dev->checker.lastTick() + 100;
  dev->loop();
  EXPECT_EQ(dev->checker.lost(), 0);
  EXPECT_EQ(dev->checker.badTicks(), 0) << dev->checker.firstError();
}

TEST_F(Acquisition, DisconnectEventEndsTheAcquisition) {
  dev->begin(1000.0f, {{1, 1, 16, 1}});
  auto loop = std::async(std::launch::async, [this] { dev->loop(); });
  ASSERT_TRUE(eventually([this] { return dev->ticksSeen > 20; }));
  sim->engine().with<CurrentDeviceModel>([](CurrentDeviceModel& m) { m.sendEvent(8, {3}); });
  loop.get();
  EXPECT_EQ(dev->events, std::vector<int>{8});
  EXPECT_EQ(dev->impl()->sigX->nSources, 0);
  EXPECT_THROW(dev->stop(), Vexa::Error::InvalidOperation);
}

using Commands = std::vector<std::vector<uint8_t>>;

// The handshake's answers decoded table by table elsewhere; here the whole
// of it through a real serial port, with a stray byte on the wire that
// costs one CRC retry, then a refusal that must release the port.
TEST(Identify, CurrentDeviceOverASerialPort) {
  vexa_sim::CurrentDeviceConfig config;
  config.description = "Strandelo QZ Vexa";
  config.fwVersion = 0x0304;
  config.uid = {0x00, 0x12, 0xAB, 0xFF};
  vexa_sim::PtySimulator sim(std::make_unique<CurrentDeviceModel>(config));
  sim.engine().with<CurrentDeviceModel>([](CurrentDeviceModel& m) { m.injectStrayBytes({0x05}, 1); });
  {
    RecordingDev dev(sim.comPath());
    auto props = dev.getProperties();
    EXPECT_EQ(props["path"].asString(), sim.comPath());
    EXPECT_EQ(props["description"].asString(), "Strandelo QZ Vexa");
    EXPECT_EQ(props["uid"].asString(), "0012ABFF");
    EXPECT_NEAR(dev.getBattery(), 96.9f, 0.05);
  }
  sim.engine().with<CurrentDeviceModel>([](CurrentDeviceModel& m) {
    EXPECT_EQ(m.rawBytes(), (std::vector<uint8_t>{0x07, 'V'}));
    EXPECT_EQ(m.receivedCommands(), (Commands{{0x03, 0x00}, {0x03, 0x03}, {0x04, 0x00}}));
    m.failNextCommand(9);
  });
  try {
    RecordingDev dev(sim.comPath());
    FAIL() << "refusal ignored";
  } catch (const Vexa::Error::InvalidOperation& e) {
    EXPECT_EQ(e.code, 9);
  }
  EXPECT_NO_THROW(RecordingDev again(sim.comPath()));
}

TEST(Identify, EachPrefixPicksItsTransport) {
  // This machine has no Bluetooth adapter, no BLE dongle and no FTDI
  // library: each transport fails in its own way, so its choice shows.
  EXPECT_THROW(RecordingDev dev("usb0"), Vexa::Error::MissingModule);
  EXPECT_THROW(RecordingDev dev("ble00:07:80:00:00:01"), Vexa::Notification::AdapterNotFound);
  EXPECT_THROW(RecordingDev dev("BTH00:11:22:33:44:55"), Vexa::Notification::AdapterNotFound);
  EXPECT_THROW(RecordingDev dev("BT"), Vexa::Error::InvalidParameter);  // too short: Bluetooth classic
  EXPECT_THROW(RecordingDev dev("COM/dev/pts/99999"), Vexa::Notification::OpeningPort);
}

}  // namespace
}  // namespace vexa_test
