// Shared pieces of the BLE transport tests: the dongle port hook and short
// waits.
#ifndef VEXA_TESTS_BLE_BLE_TEST_SUPPORT_H_
#define VEXA_TESTS_BLE_BLE_TEST_SUPPORT_H_

#include <string>
#include <utility>
#include <vector>

#include "io/ble/ble_timings.h"
#include "io/ble/dongle_ports.h"

namespace vexa_test {

using Bytes = std::vector<uint8_t>;

// Offers the given ports as the only dongle candidates while it lives.
class DonglePorts {
 public:
  explicit DonglePorts(std::vector<std::string> ports)
      : DonglePorts(Vexa::DonglePortLister([ports] { return ports; })) {}
  explicit DonglePorts(Vexa::DonglePortLister lister) : previous_(Vexa::setDonglePortLister(std::move(lister))) {}
  ~DonglePorts() { Vexa::setDonglePortLister(std::move(previous_)); }
  DonglePorts(const DonglePorts&) = delete;
  DonglePorts& operator=(const DonglePorts&) = delete;

 private:
  Vexa::DonglePortLister previous_;
};

// Waits short enough for tests; a generous serial read so that a loaded
// machine does not look like a silent dongle.
inline Vexa::BleTimings fastTimings() {
  Vexa::BleTimings t;
  t.restartPauseMs = 50;
  t.linkTimeoutMs = 500;
  t.responseMs = t.procedureMs = t.connectMs = t.searchReplyMs = 2000;
  t.scanMs = 300;
  return t;
}

}  // namespace vexa_test

#endif  // VEXA_TESTS_BLE_BLE_TEST_SUPPORT_H_
