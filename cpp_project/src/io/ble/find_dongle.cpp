// Finding the dongle among the candidate ports and resetting it.
#include <chrono>

#include "io/ble/bgapi.h"
#include "io/ble/com_ble.h"
#include "io/ble/dongle_ports.h"
#include "vexa/cancel.h"
#include "vexa/exceptions.h"

namespace Vexa {

std::string COM_BLE::find_ble_dongle(int restartPauseMs) {
  const bgapi::Bytes reset = bgapi::systemReset();
  for (const std::string& port : donglePorts()) {
    try {
      COM probe(port);
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
    return port;
  }
  VEXA_THROW(Notification::AdapterNotFound);
}

}  // namespace Vexa
