// Shared pieces of the BLE transport tests: the dongle port hook pointed at
// a pseudo-terminal, short waits, and a simulated dongle with its device.
#ifndef VEXA_TESTS_BLE_BLE_TEST_SUPPORT_H_
#define VEXA_TESTS_BLE_BLE_TEST_SUPPORT_H_

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "io/ble/ble_timings.h"
#include "io/ble/dongle_ports.h"
#include "vexa_sim/dongle_model.h"
#include "vexa_sim/pty_simulator.h"

namespace vexa_test {

using Bytes = std::vector<uint8_t>;

inline Bytes cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// One BGAPI message: type (0 response, 0x80 event), length, class, id.
inline Bytes message(uint8_t type, uint8_t cls, uint8_t id, const Bytes& payload) {
  return cat({type, static_cast<uint8_t>(payload.size()), cls, id}, payload);
}
inline Bytes response(uint8_t cls, uint8_t id, const Bytes& payload) {
  return message(0x00, cls, id, payload);
}
inline Bytes event(uint8_t cls, uint8_t id, const Bytes& payload) { return message(0x80, cls, id, payload); }

// Offers the given ports as the only dongle candidates while it lives.
class DonglePorts {
 public:
  explicit DonglePorts(std::vector<std::string> ports)
      : previous_(Vexa::setDonglePortLister([ports] { return ports; })) {}
  explicit DonglePorts(Vexa::DonglePortLister lister)
      : previous_(Vexa::setDonglePortLister(std::move(lister))) {}
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
  t.responseMs = 2000;
  t.procedureMs = 2000;
  t.connectMs = 2000;
  t.searchReplyMs = 2000;
  t.scanMs = 300;
  return t;
}

// The address the simulated dongle's device answers at, as a path.
constexpr char kDevicePath[] = "BLE00:07:80:4C:1E:01";

// A simulated dongle on a pseudo-terminal, offered as the only candidate.
struct DongleSim {
  explicit DongleSim(std::unique_ptr<vexa_sim::BleFirmware> device, vexa_sim::DongleConfig config = {})
      : sim(std::make_unique<vexa_sim::DongleModel>(std::move(config), std::move(device))),
        ports(std::vector<std::string>{sim.comPath()}) {}

  template <class F>
  decltype(auto) with(F&& f) {
    return sim.engine().with<vexa_sim::DongleModel>(std::forward<F>(f));
  }

  vexa_sim::PtySimulator sim;
  DonglePorts ports;
};

}  // namespace vexa_test

#endif  // VEXA_TESTS_BLE_BLE_TEST_SUPPORT_H_
