// How long the BLE transport waits for the dongle and the device. The
// defaults are the product's; tests pass shorter ones.
#ifndef VEXA_SRC_IO_BLE_BLE_TIMINGS_H_
#define VEXA_SRC_IO_BLE_BLE_TIMINGS_H_

namespace Vexa {

struct BleTimings {
  int restartPauseMs = 2000;  // after the system reset, while the dongle reboots
  int linkTimeoutMs = 1000;   // one serial read of the dongle link
  int responseMs = 2000;      // a command's response
  int procedureMs = 2000;     // an attribute-client procedure's completion
  int connectMs = 5000;       // the connection-status event
  int searchReplyMs = 5000;   // each accepted response during a search
  int scanMs = 4000;          // how long a search listens to advertisements
};

}  // namespace Vexa

#endif  // VEXA_SRC_IO_BLE_BLE_TIMINGS_H_
