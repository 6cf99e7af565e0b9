// Connecting through the simulated dongle: the command sequence, the path
// forms, and each way a connection can fail.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "ble_test_support.h"
#include "io/ble/ble.h"
#include "io/com.h"
#include "vexa/exceptions.h"
#include "vexa_sim/current_device_model.h"

namespace vexa_test {
namespace {

using vexa_sim::DongleModel;

std::unique_ptr<vexa_sim::BleFirmware> anyDevice() {
  return std::make_unique<vexa_sim::MessageFirmware>(std::make_unique<vexa_sim::CurrentDeviceModel>());
}

Vexa::BleTimings shortWaits() {
  Vexa::BleTimings t = fastTimings();
  t.responseMs = t.procedureMs = t.connectMs = 300;
  return t;
}

TEST(BleConnect, SendsTheConnectionSequenceAndClosesIt) {
  DongleSim dongle(anyDevice());
  const std::vector<Bytes> opening = {
      {0x00, 0x01, 0x00, 0x00, 0x00},
      {0x00, 0x0F, 0x06, 0x03, 0x01, 0x1E, 0x4C, 0x80, 0x07, 0x00, 0x00, 0x06, 0x00, 0x06, 0x00, 0x32, 0x00,
       0x00, 0x00},
      {0x00, 0x08, 0x04, 0x01, 0x00, 0x01, 0x00, 0xFF, 0xFF, 0x02, 0x00, 0x28},
      {0x00, 0x05, 0x04, 0x03, 0x00, 0x04, 0x00, 0x0A, 0x00},
      {0x00, 0x06, 0x04, 0x05, 0x00, 0x07, 0x00, 0x02, 0x02, 0x00},
      {0x00, 0x06, 0x04, 0x05, 0x00, 0x0A, 0x00, 0x02, 0x01, 0x00},
  };
  {
    Vexa::BLE ble(kDevicePath, fastTimings());
    dongle.with([&](DongleModel& d) {
      EXPECT_TRUE(d.connected());
      EXPECT_EQ(d.commands(), opening);
    });
  }
  std::vector<Bytes> all = opening;
  all.push_back({0x00, 0x00, 0x06, 0x04});
  all.push_back({0x00, 0x01, 0x03, 0x00, 0x00});
  dongle.with([&](DongleModel& d) {
    EXPECT_FALSE(d.connected());
    EXPECT_EQ(d.commands(), all);
  });
}

TEST(BleConnect, AcceptsTheAddressWithOrWithoutPrefixInAnyCase) {
  DongleSim dongle(anyDevice());
  for (const char* path :
       {"BLE00:07:80:4C:1E:01", "00:07:80:4c:1e:01", "ble0:7:80:4C:1E:1", "Ble 0x00: 7:80:4C:1E:101"}) {
    Vexa::BLE ble(path, fastTimings());
    EXPECT_TRUE(dongle.with([](DongleModel& d) { return d.connected(); })) << path;
  }
}

TEST(BleConnect, RefusesOtherPathsBeforeTouchingTheDongle) {
  int lookedFor = 0;
  DonglePorts ports([&lookedFor] {
    ++lookedFor;
    return std::vector<std::string>{};
  });
  for (const char* path : {"BLE00:07:80:4C:1E:01x", "BLE00:07:80:4C:1E:01 ", "BLE00:07:80:4C:1E",
                           "BLE00:07:80:4C:1E:01:02", "", "BLE", "BLE00-07-80-4C-1E-01",
                           "BLE00:07:80:4C:1E:0g", "BLE00:07:80::1E:01", "BLE-1:07:80:4C:1E:01"}) {
    EXPECT_THROW(Vexa::BLE ble(path, fastTimings()), Vexa::Error::InvalidParameter) << path;
  }
  EXPECT_EQ(lookedFor, 0);
}

// The kind of failure a call ends in.
std::string failureOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const Vexa::Error::NotSupported&) {
    return "NotSupported";
  } catch (const Vexa::Notification::ContactingDevice&) {
    return "ContactingDevice";
  } catch (const Vexa::Notification::DeviceNotFound&) {
    return "DeviceNotFound";
  }
  return "none";
}

TEST(BleConnect, FailuresLeaveTheDongleIdleAndThePortFree) {
  struct Case {
    const char* what;
    std::function<void(DongleModel&)> fault;
    const char* failure;
    bool connectedFirst;  // so the host must disconnect, not only stop
  } cases[] = {
      {"no data characteristic", [](DongleModel& d) { d.config().gatt.dataCharacteristic = false; },
       "NotSupported", true},
      {"no command characteristic", [](DongleModel& d) { d.config().gatt.commandCharacteristic = false; },
       "NotSupported", true},
      {"no service", [](DongleModel& d) { d.config().gatt.service = false; }, "NotSupported", true},
      {"failed discovery", [](DongleModel& d) { d.failNextProcedure(vexa_sim::kInvalidHandle); },
       "ContactingDevice", true},
      {"refused connection", [](DongleModel& d) { d.failNextResponse(vexa_sim::kWrongState); },
       "ContactingDevice", false},
      {"nobody at the address", [](DongleModel& d) { d.config().deviceAddress[5] = 0x02; }, "DeviceNotFound",
       false},
  };
  for (const Case& c : cases) {
    DongleSim dongle(anyDevice());
    dongle.with(c.fault);
    EXPECT_EQ(failureOf([] { Vexa::BLE ble(kDevicePath, shortWaits()); }), c.failure) << c.what;
    dongle.with([&](DongleModel& d) {
      EXPECT_FALSE(d.connected()) << c.what;
      EXPECT_FALSE(d.scanning()) << c.what;
      const Bytes last =
          c.connectedFirst ? Bytes{0x00, 0x01, 0x03, 0x00, 0x00} : Bytes{0x00, 0x00, 0x06, 0x04};
      EXPECT_EQ(d.commands().back(), last) << c.what;
    });
    EXPECT_NO_THROW(Vexa::COM again(dongle.sim.comPath())) << c.what;
  }
}

TEST(BleConnect, DisconnectionEndsAReceiveAtOnce) {
  DongleSim dongle(anyDevice());
  Vexa::BLE ble(kDevicePath, fastTimings());
  ble.setRcvTimeout(5000);
  dongle.with([](DongleModel& d) { d.dropConnection(); });
  const auto start = std::chrono::steady_clock::now();
  uint8_t buf[20];
  EXPECT_THROW(ble.recv(buf, sizeof buf), Vexa::Notification::ContactingDevice);
  EXPECT_THROW(ble.send(buf, 1), Vexa::Notification::ContactingDevice);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

}  // namespace
}  // namespace vexa_test
