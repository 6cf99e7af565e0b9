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

// The handshake's answers decoded table by table elsewhere; here the whole
// of it through a real serial port, with a stray byte on the wire that
// costs one CRC retry, then a refusal that must release the port.
TEST(Identify, CurrentDeviceOverASerialPort) {
  vexa_sim::CurrentDeviceConfig config;
  config.description = "Strandelo QZ Vexa";
  config.fwVersion = 0x0304;
  config.uid = {0x00, 0x12, 0xAB, 0xFF};
  PtySimulator sim(std::make_unique<CurrentDeviceModel>(config));
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

TEST(Identify, LegacyFamilies) {
  PtySimulator cadrium(std::make_unique<vexa_sim::CadriumModel>());
  EXPECT_EQ(static_cast<int>(RecordingDev(cadrium.comPath()).impl()->family), 0);
  PtySimulator board(std::make_unique<vexa_sim::QuillboxModel>());
  EXPECT_EQ(static_cast<int>(RecordingDev(board.comPath()).impl()->family), 3);
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
