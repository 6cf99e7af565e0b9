// Identifying and acquiring from simulated devices through the real serial
// transport on a pseudo-terminal, with the loop on one thread and interrupts
// from another.
#include <gtest/gtest.h>

#include <future>

#include "signals/signals_x.h"
#include "support/eventually.h"
#include "support/recording_dev.h"
#include "vexa/exceptions.h"
#include "vexa_sim/current_device_model.h"
#include "vexa_sim/pty_simulator.h"

namespace vexa_test {
namespace {

using vexa_sim::CurrentDeviceModel;

class Acquisition : public ::testing::Test {
 protected:
  void SetUp() override {
    vexa_sim::CurrentDeviceConfig config;
    config.productId = 517;  // takes 24-bit sources
    sim = std::make_unique<vexa_sim::PtySimulator>(std::make_unique<CurrentDeviceModel>(config));
    dev = std::make_unique<RecordingDev>(sim->comPath());
    dev->setTimeout(2000);
  }
  std::unique_ptr<vexa_sim::PtySimulator> sim;
  std::unique_ptr<RecordingDev> dev;
};

const std::vector<Vexa::Source> kMixed = {{1, 1, 16, 0x03}, {2, 2, 8, 0x01}, {3, 1, 24, 0x05}};

TEST_F(Acquisition, SecondsAt1000HzLoseAndRepeatNothing) {
  EXPECT_EQ(streamChecked(*dev, 1000.0f, kMixed, 2999), "");
  EXPECT_EQ(dev->ticks.size(), 3000u);
  EXPECT_EQ(dev->impl()->sigX->nSources, 0);
}

TEST_F(Acquisition, InterruptFromAnotherThreadWhileAcquiring) {
  dev->start(1000.0f, kMixed);
  auto loop = std::async(std::launch::async, [this] { dev->loop(); });
  ASSERT_TRUE(eventually([this] { return dev->tickCount > 50; }));
  // The loop takes an interrupt only while it waits for a message; a host
  // tries again while it is handling one.
  ASSERT_TRUE(eventually([this] {
    try {
      dev->interrupt(nullptr);
      return true;
    } catch (const Vexa::Error::InvalidOperation&) {
      return false;
    }
  }));
  loop.get();
  EXPECT_EQ(dev->interrupts.size(), 1u);
  // The loop goes on where it stopped: the queued frame comes first.
  dev->stopOnFrame = [last = dev->ticks.back().nSeq](int nSeq) { return nSeq >= last + 100; };
  dev->loop();
  EXPECT_EQ(tickFault(dev->ticks, kMixed), "");
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
  EXPECT_EQ(thrownAs<Vexa::Error::InvalidOperation>([&sim] { RecordingDev dev(sim.comPath()); },
                                                    [](const auto& e) { return std::to_string(e.code); }),
            "9");
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
