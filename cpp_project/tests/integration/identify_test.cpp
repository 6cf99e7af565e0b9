// Identifying simulated devices through the real serial transport on a
// pseudo-terminal.
#include <gtest/gtest.h>

#include "support/recording_dev.h"
#include "vexa/exceptions.h"
#include "vexa_sim/cadrium_model.h"
#include "vexa_sim/current_device_model.h"
#include "vexa_sim/pty_simulator.h"
#include "vexa_sim/quillbox_model.h"

namespace vexa_test {
namespace {

using vexa_sim::CurrentDeviceModel;
using vexa_sim::PtySimulator;
using Commands = std::vector<std::vector<uint8_t>>;

TEST(Identify, CurrentDeviceOverASerialPort) {
  vexa_sim::CurrentDeviceConfig config;
  config.description = "Strandelo QZ Vexa";
  config.productId = 0x0201;
  config.fwVersion = 0x0304;
  config.hwVersion = 0x0102;
  config.uid = {0x00, 0x12, 0xAB, 0xFF};
  PtySimulator sim(std::make_unique<CurrentDeviceModel>(config));
  RecordingDev dev(sim.comPath());
  auto props = dev.getProperties();
  EXPECT_EQ(props["path"].asString(), sim.comPath());
  EXPECT_EQ(props["description"].asString(), "Strandelo QZ Vexa");
  EXPECT_EQ(props["productID"].asInt(), 0x0201);
  EXPECT_EQ(props["fwVersion"].asInt(), 0x0304);
  EXPECT_EQ(props["hwVersion"].asInt(), 0x0102);
  EXPECT_EQ(props["uid"].asString(), "0012ABFF");
  EXPECT_EQ(props.count("color"), 0u);
  EXPECT_EQ(static_cast<int>(dev.impl()->family), 1);
  sim.engine().with<CurrentDeviceModel>([](CurrentDeviceModel& m) {
    EXPECT_EQ(m.rawBytes(), (std::vector<uint8_t>{0x07, 'V'}));
    EXPECT_EQ(m.receivedCommands(), (Commands{{0x03, 0x00}, {0x03, 0x03}}));
  });
  EXPECT_NEAR(dev.getBattery(), 96.9f, 0.05);
}

TEST(Identify, ColourAndFamilyFour) {
  vexa_sim::CurrentDeviceConfig config;
  config.productId = 0x0801;
  config.fwVersion = 0x0100;
  config.color = 7;
  PtySimulator sim(std::make_unique<CurrentDeviceModel>(config));
  RecordingDev dev(sim.comPath());
  EXPECT_EQ(dev.getProperties()["color"].asInt(), 7);
  EXPECT_EQ(static_cast<int>(dev.impl()->family), 4);
}

TEST(Identify, LegacyFamilies) {
  {
    PtySimulator sim(std::make_unique<vexa_sim::CadriumModel>());
    RecordingDev dev(sim.comPath());
    EXPECT_EQ(static_cast<int>(dev.impl()->family), 0);
    EXPECT_EQ(dev.getProperties()["productID"].asInt(), 513);
    EXPECT_EQ(dev.getProperties()["fwVersion"].asInt(), 0x0301);
  }
  {
    PtySimulator sim(std::make_unique<vexa_sim::QuillboxModel>());
    RecordingDev dev(sim.comPath());
    EXPECT_EQ(static_cast<int>(dev.impl()->family), 3);
    EXPECT_EQ(dev.getProperties()["productID"].asInt(), 1538);
  }
}

TEST(Identify, FaultsOnTheWire) {
  {
    // A stray byte before the version reply costs one CRC retry, nothing more.
    PtySimulator sim(std::make_unique<CurrentDeviceModel>());
    sim.engine().with<CurrentDeviceModel>([](CurrentDeviceModel& m) { m.injectStrayBytes({0x05}, 1); });
    RecordingDev dev(sim.comPath());
    EXPECT_EQ(dev.getProperties()["description"].asString(), "tessarimodular");
  }
  {
    // The version command refused with the device's code 9.
    PtySimulator sim(std::make_unique<CurrentDeviceModel>());
    sim.engine().with<CurrentDeviceModel>([](CurrentDeviceModel& m) {
      m.failNextCommand(9);
    });
    try {
      RecordingDev dev(sim.comPath());
      FAIL() << "refusal ignored";
    } catch (const Vexa::Error::InvalidOperation& e) {
      EXPECT_EQ(e.code, 9);
    }
    // The failed connection released the port: it opens again.
    EXPECT_NO_THROW(RecordingDev again(sim.comPath()));
  }
}

TEST(Identify, SilentDeviceAndMissingPort) {
  PtySimulator sim(std::make_unique<CurrentDeviceModel>());
  sim.engine().with<CurrentDeviceModel>([](CurrentDeviceModel& m) { m.setSilent(true); });
  EXPECT_THROW(RecordingDev dev(sim.comPath()), Vexa::Notification::ContactingDevice);
  EXPECT_THROW(RecordingDev dev("COM/dev/pts/99999"), Vexa::Notification::OpeningPort);
}

TEST(Identify, EachPrefixPicksItsTransport) {
  // This machine has no Bluetooth adapter, no BLE dongle and no FTDI
  // library: each transport fails in its own way, so its choice shows.
  EXPECT_THROW(RecordingDev dev("usb0"), Vexa::Error::MissingModule);
  EXPECT_THROW(RecordingDev dev("ble00:07:80:00:00:01"), Vexa::Notification::AdapterNotFound);
  EXPECT_THROW(RecordingDev dev("BTH00:11:22:33:44:55"), Vexa::Notification::AdapterNotFound);
  EXPECT_THROW(RecordingDev dev("BT"), Vexa::Error::InvalidParameter);  // too short: Bluetooth classic
}

}  // namespace
}  // namespace vexa_test
