// Finding the dongle among the candidate ports and resetting it.
#include <chrono>

#include "io/ble/bgapi.h"
#include "io/ble/com_ble.h"
#include "io/ble/dongle_ports.h"
#include "vexa/cancel.h"
#include "vexa/exceptions.h"

namespace Vexa {

COM_BLE::Dongle COM_BLE::find_ble_dongle(int restartPauseMs) {
  const bgapi::Bytes reset = bgapi::systemReset();
  bool anyInUse = false;
  for (const std::string& port : donglePorts()) {
    // Reserved before the probe: its reset would cut the link of whoever
    // holds it, and a second link looking meanwhile must pass it by.
    LinkClaim claim = LinkRegistry::process().tryClaim(serialLinkKey(port));
    if (!claim.held()) {
      anyInUse = true;
      continue;
    }
    try {
      COM probe(port, LinkClaim());  // opened under the reservation held here
      // Until its time-outs are set a port may let a write wait for ever
      // (the driver's own settings): a wedged port would hang the search.
      // Setting them bounds the reset write by the port's write time-out.
      probe.setRcvTimeout(BleTimings().linkTimeoutMs);
      probe.send(reset.data(), static_cast<int>(reset.size()));
    } catch (const Exception&) {
      continue;  // absent, in use, or refused the reset: try the next one
    }
    // The port is closed again; the dongle restarts before it is reopened.
    cancellableSleep(std::chrono::milliseconds(restartPauseMs), "Vexa::COM_BLE::find_ble_dongle");
    return Dongle{port, std::move(claim)};
  }
  // Each link resets the dongle it uses, so links cannot share one.
  if (anyInUse) {
    VEXA_THROW_DETAIL(Notification::LinkInUse, "every BLE dongle is in use: two BLE devices need two dongles");
  }
  VEXA_THROW(Notification::AdapterNotFound);
}

}  // namespace Vexa
