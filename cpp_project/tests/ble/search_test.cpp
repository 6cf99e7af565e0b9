// The BLE search against the simulated dongle: order, filter, duplicates,
// the commands it sends, and a dongle that does not answer.
#include <gtest/gtest.h>

#include "ble_test_support.h"
#include "io/ble/ble.h"
#include "vexa/exceptions.h"
#include "vexa_sim/current_device_model.h"

namespace vexa_test {
namespace {

using vexa_sim::BleAddress;
using vexa_sim::namedAdvertisement;

std::unique_ptr<vexa_sim::BleFirmware> anyDevice() {
  return std::make_unique<vexa_sim::MessageFirmware>(std::make_unique<vexa_sim::CurrentDeviceModel>());
}

BleAddress address(uint8_t last) { return {0x00, 0x07, 0x80, 0x00, 0x00, last}; }

using Listing = std::vector<std::pair<std::string, std::string>>;

Listing listing(const std::vector<Vexa::DevInfo>& found) {
  Listing out;
  for (const Vexa::DevInfo& d : found) out.emplace_back(d.path, d.description);
  return out;
}

TEST(BleSearch, ListsFamilyNamesOncePerAddressInPathOrder) {
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
  DongleSim dongle(anyDevice(), config);
  EXPECT_EQ(listing(Vexa::BLE::findDevices(fastTimings())),
            (Listing{{"BLE00:07:80:00:00:09", "FernlitVexa"},
                     {"BLE00:07:80:00:00:0A", "vexa Strandelo"},
                     {"BLE00:07:80:00:00:0C", "QUILLBOX_3"}}));
  dongle.with([](vexa_sim::DongleModel& d) {
    EXPECT_FALSE(d.scanning());
    EXPECT_EQ(d.commands(), (std::vector<Bytes>{{0x00, 0x01, 0x00, 0x00, 0x00},
                                                {0x00, 0x00, 0x06, 0x04},
                                                {0x00, 0x05, 0x06, 0x07, 0x00, 0x32, 0x00, 0x19, 0x01},
                                                {0x00, 0x01, 0x06, 0x02, 0x01},
                                                {0x00, 0x00, 0x06, 0x04}}));
  });
}

TEST(BleSearch, NothingAroundGivesAnEmptyList) {
  DongleSim dongle(anyDevice());
  EXPECT_TRUE(Vexa::BLE::findDevices(fastTimings()).empty());
}

TEST(BleSearch, SilentDongleCannotBeInitialised) {
  DongleSim dongle(anyDevice());
  dongle.with([](vexa_sim::DongleModel& d) { d.setSilent(true); });
  EXPECT_THROW(Vexa::BLE::findDevices(fastTimings()), Vexa::Notification::InitializingPort);
}

TEST(BleSearch, RefusedScanParametersCannotBeInitialised) {
  DongleSim dongle(anyDevice());
  Vexa::BleTimings t = fastTimings();
  t.searchReplyMs = 200;
  // The first end procedure is refused anyway (nothing runs): the refusal
  // falls on the scan parameters.
  dongle.with([](vexa_sim::DongleModel& d) { d.failNextResponse(vexa_sim::kWrongState); });
  EXPECT_THROW(Vexa::BLE::findDevices(t), Vexa::Notification::InitializingPort);
}

TEST(BleSearch, NoDongleMeansNoAdapter) {
  DonglePorts none(std::vector<std::string>{});
  EXPECT_THROW(Vexa::BLE::findDevices(fastTimings()), Vexa::Notification::AdapterNotFound);
}

}  // namespace
}  // namespace vexa_test
