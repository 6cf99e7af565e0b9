// Through the simulated dongle: searching, connecting and each way a
// connection can fail, writes cut to 20 bytes and one value per receive,
// and whole acquisitions of a current device and a compact board.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <thread>
#include <typeinfo>

#include "ble_test_support.h"
#include "io/ble/ble.h"
#include "io/com.h"
#include "support/eventually.h"
#include "support/messages.h"
#include "support/recording_dev.h"
#include "vexa/exceptions.h"
#include "vexa_sim/current_device_model.h"
#include "vexa_sim/dongle_model.h"
#include "vexa_sim/pty_simulator.h"

namespace vexa_test {
namespace {

using vexa_sim::DongleModel;

// The address the simulated dongle's device answers at, as a path.
constexpr char kDevicePath[] = "BLE00:07:80:4C:1E:01";

std::unique_ptr<vexa_sim::BleFirmware> currentDevice(vexa_sim::CurrentDeviceConfig config = {}) {
  return std::make_unique<vexa_sim::MessageFirmware>(std::make_unique<vexa_sim::CurrentDeviceModel>(config));
}

// A simulated dongle on a pseudo-terminal, offered as the only candidate;
// a current device by default.
struct DongleSim {
  explicit DongleSim(std::unique_ptr<vexa_sim::BleFirmware> device = currentDevice(),
                     vexa_sim::DongleConfig config = {})
      : sim(std::make_unique<DongleModel>(std::move(config), std::move(device))),
        ports(std::vector<std::string>{sim.comPath()}) {}
  template <class F>
  decltype(auto) with(F&& f) {
    return sim.engine().with<DongleModel>(std::forward<F>(f));
  }

  vexa_sim::PtySimulator sim;
  DonglePorts ports;
};

const Bytes kReset = {0x00, 0x01, 0x00, 0x00, 0x00};
const Bytes kEndProcedure = {0x00, 0x00, 0x06, 0x04};
const Bytes kDisconnect = {0x00, 0x01, 0x03, 0x00, 0x00};
const Bytes kScanParameters = {0x00, 0x05, 0x06, 0x07, 0x00, 0x32, 0x00, 0x19, 0x01};
const Bytes kDiscover = {0x00, 0x01, 0x06, 0x02, 0x01};

std::vector<Bytes> commands(DongleSim& dongle) {
  return dongle.with([](DongleModel& d) { return d.commands(); });
}
bool connected(DongleSim& dongle) {
  return dongle.with([](DongleModel& d) { return d.connected(); });
}

TEST(BleSearch, ListsFamilyNamesOncePerAddressInPathOrder) {
  auto address = [](uint8_t last) { return vexa_sim::BleAddress{0x00, 0x07, 0x80, 0x00, 0x00, last}; };
  using vexa_sim::namedAdvertisement;
  vexa_sim::DongleConfig config;
  config.advertisements = {
      namedAdvertisement(address(0x0C), "QUILLBOX_3"),
      namedAdvertisement(address(0x0A), "vexa Strandelo"),
      namedAdvertisement(address(0x0B), "Headphones"),
      namedAdvertisement(address(0x0A), "Vexa renamed"),  // same address, later name
      namedAdvertisement(address(0x0D), "Vexa advert", vexa_sim::kConnectableAdvertisement),
      {address(0x0E), {0x01}, vexa_sim::kScanResponse},  // no room for a name
      namedAdvertisement(address(0x09), "FernlitVexa"),
  };
  DongleSim dongle(currentDevice(), config);
  // A response amid the scan records is not one of them, whatever its result.
  dongle.with([](DongleModel& d) { d.strayResponseWhileScanning(0xFFFF); });
  EXPECT_EQ(listing(Vexa::BLE::findDevices(fastTimings())), (std::vector<std::string>{"BLE00:07:80:00:00:09=FernlitVexa", "BLE00:07:80:00:00:0A=vexa Strandelo",
                                             "BLE00:07:80:00:00:0C=QUILLBOX_3"}));
  EXPECT_EQ(commands(dongle), (std::vector<Bytes>{kReset, kEndProcedure, kScanParameters, kDiscover, kEndProcedure}));
}

TEST(BleSearch, NothingAroundIsAnEmptyListAndAFaultyDongleAnError) {
  Vexa::BleTimings t = fastTimings();
  t.searchReplyMs = 200;
  const std::string initializing = typeName<Vexa::Notification::InitializingPort>();
  const std::pair<std::function<void(DongleModel&)>, std::string> cases[] = {
      {[](DongleModel&) {}, "nothing"},
      {[](DongleModel& d) { d.setSilent(true); }, initializing},
      // The first end procedure is refused anyway (nothing runs): the
      // refusal falls on the scan parameters.
      {[](DongleModel& d) { d.failNextResponse(vexa_sim::kWrongState); }, initializing},
  };
  for (const auto& [fault, failure] : cases) {
    DongleSim dongle;
    dongle.with(fault);
    EXPECT_EQ(thrownType([&t] { EXPECT_TRUE(Vexa::BLE::findDevices(t).empty()); }), failure);
  }
}

TEST(BleConnect, SendsTheConnectionSequenceAndClosesIt) {
  DongleSim dongle;
  std::vector<Bytes> sequence = {
      kReset,
      {0x00, 0x0F, 0x06, 0x03, 0x01, 0x1E, 0x4C, 0x80, 0x07, 0x00, 0x00, 0x06, 0x00, 0x06, 0x00, 0x32, 0x00, 0x00,
       0x00},
      {0x00, 0x08, 0x04, 0x01, 0x00, 0x01, 0x00, 0xFF, 0xFF, 0x02, 0x00, 0x28},
      {0x00, 0x05, 0x04, 0x03, 0x00, 0x04, 0x00, 0x0A, 0x00},
      {0x00, 0x06, 0x04, 0x05, 0x00, 0x07, 0x00, 0x02, 0x02, 0x00},
      {0x00, 0x06, 0x04, 0x05, 0x00, 0x0A, 0x00, 0x02, 0x01, 0x00},
  };
  {
    Vexa::BLE ble(kDevicePath, fastTimings());
    EXPECT_TRUE(connected(dongle));
    EXPECT_EQ(commands(dongle), sequence);
  }
  sequence.push_back(kEndProcedure);
  sequence.push_back(kDisconnect);
  EXPECT_FALSE(connected(dongle));
  EXPECT_EQ(commands(dongle), sequence);
}

TEST(BleConnect, FailuresLeaveTheDongleIdleAndThePortFree) {
  const std::string notSupported = typeName<Vexa::Error::NotSupported>();
  const std::string contacting = typeName<Vexa::Notification::ContactingDevice>();
  struct Case {
    const char* what;
    std::function<void(DongleModel&)> fault;
    std::string failure;
    bool connectedFirst;  // so the host must disconnect, not only stop
  } const cases[] = {
      {"no data characteristic", [](DongleModel& d) { d.config().gatt.dataCharacteristic = false; }, notSupported,
       true},
      {"no command characteristic", [](DongleModel& d) { d.config().gatt.commandCharacteristic = false; }, notSupported,
       true},
      {"no service", [](DongleModel& d) { d.config().gatt.service = false; }, notSupported, true},
      {"failed discovery", [](DongleModel& d) { d.failNextProcedure(vexa_sim::kInvalidHandle); }, contacting, true},
      {"refused connection", [](DongleModel& d) { d.failNextResponse(vexa_sim::kWrongState); }, contacting, false},
      {"nobody at the address", [](DongleModel& d) { d.config().deviceAddress[5] = 0x02; },
       typeName<Vexa::Notification::DeviceNotFound>(), false},
  };
  Vexa::BleTimings t = fastTimings();
  t.responseMs = t.procedureMs = t.connectMs = 300;
  for (const Case& c : cases) {
    DongleSim dongle;
    dongle.with(c.fault);
    EXPECT_EQ(thrownType([&t] { Vexa::BLE ble(kDevicePath, t); }), c.failure) << c.what;
    EXPECT_FALSE(connected(dongle)) << c.what;
    EXPECT_FALSE(dongle.with([](DongleModel& d) { return d.scanning(); })) << c.what;
    EXPECT_EQ(commands(dongle).back(), c.connectedFirst ? kDisconnect : kEndProcedure) << c.what;
    EXPECT_NO_THROW(Vexa::COM again(dongle.sim.comPath())) << c.what;
  }
}

// A device that says back whatever it is sent.
class EchoModel : public vexa_sim::DeviceModel {
 public:
  void onHostBytes(const uint8_t* data, size_t len, TimePoint) override { emit(data, len); }
};

TEST(BleTransfer, WritesOf20BytesAtMostOneValuePerReceiveUntilDisconnected) {
  DongleSim dongle(std::make_unique<vexa_sim::ByteStreamFirmware>(std::make_unique<EchoModel>()));
  Vexa::BLE ble(kDevicePath, fastTimings());
  auto receive = [&ble](int len) {
    Bytes buf(static_cast<size_t>(len));
    buf.resize(static_cast<size_t>(ble.recv(buf.data(), len)));
    return buf;
  };
  Bytes data = varied(45, 29);
  auto piece = [&data](int from, int to) { return Bytes(data.begin() + from, data.begin() + to); };
  ble.send(data.data(), 0);
  ble.send(data.data(), 45);
  EXPECT_EQ(dongle.with([](vexa_sim::DongleModel& d) { return d.deviceWrites(); }),
            (std::vector<Bytes>{piece(0, 20), piece(20, 40), piece(40, 45)}));
  // The echoes came back while each write waited for completion: queued.
  EXPECT_EQ(receive(4), piece(0, 4));
  EXPECT_EQ(receive(20), piece(20, 40)) << "the rest of a value is dropped";
  EXPECT_EQ(receive(20), piece(40, 45));
  // A disconnection ends a receive at once, and is remembered.
  ble.setRcvTimeout(5000);
  dongle.with([](DongleModel& d) { d.dropConnection(); });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(ble.recv(data.data(), 20), Vexa::Notification::ContactingDevice);
  EXPECT_THROW(ble.send(data.data(), 1), Vexa::Notification::ContactingDevice);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(BleAcquisition, CurrentDeviceStreamsEveryTickAndTakesAnInterruptFromAnotherThread) {
  vexa_sim::CurrentDeviceConfig config;
  config.ticksPerFrame = 4;  // 16 payload bytes: one value per frame
  DongleSim dongle(currentDevice(config));
  RecordingDev dev(kDevicePath, std::make_unique<Vexa::BLE>(kDevicePath, fastTimings()));
  EXPECT_EQ(streamChecked(dev, 500.0f, {{1, 1, 16, 0x03}}, 499), "");

  // The interrupt writes its command while the loop thread reads the link.
  dev.stopOnFrame = nullptr;
  dev.setTimeout(-1);
  auto loop = std::async(std::launch::async, [&dev] { dev.loop(); });
  EXPECT_TRUE(eventually([&dev] { return dev.impl()->state == Vexa::kReceiving; }));
  dev.interrupt(nullptr);
  ASSERT_EQ(loop.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  loop.get();
  EXPECT_EQ(dev.interrupts.size(), 1u);
}

}  // namespace
}  // namespace vexa_test
