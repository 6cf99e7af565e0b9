// Bluetooth Low Energy transport through a USB dongle spoken to with BGAPI.
// Outgoing bytes are written to the device's command characteristic in
// pieces of 20; incoming attribute values are the received bytes, one value
// per recv.
#ifndef VEXA_SRC_IO_BLE_BLE_H_
#define VEXA_SRC_IO_BLE_BLE_H_

#include <mutex>
#include <string>
#include <vector>

#include "io/ble/ble_timings.h"
#include "io/ble/com_ble.h"
#include "io/link_claim.h"
#include "vexa/dev_info.h"
#include "vexa/io.h"

namespace Vexa {

class BLE : public IO {
 public:
  // path: "BLE" (optional, any case) and six hexadecimal numbers joined by
  // ':', most significant first. Resets the dongle, connects, finds the
  // service and both characteristics and turns on their notifications.
  explicit BLE(const std::string& path, const BleTimings& timings = BleTimings());
  // Ends the connection; never throws.
  ~BLE() override;

  // Scans for advertising devices and lists those named like this family's,
  // by path.
  static std::vector<DevInfo> findDevices();
  static std::vector<DevInfo> findDevices(const BleTimings& timings);

  void setRcvTimeout(int ms) override;
  const char* linkKind() const override { return "ble"; }

 protected:
  int doRecv(void* buf, int len) override;
  void doSend(const void* buf, int len) override;

 private:
  void connect();
  // Best effort: ends a running procedure and, if connected, disconnects.
  void hangUp(bool connected) noexcept;

  const bgapi::Address address_;  // parsed before the dongle is touched
  const LinkClaim deviceClaim_;   // and the device claimed before it, too
  COM_BLE link_;
  std::mutex sending_;  // one write sequence at a time
};

}  // namespace Vexa

#endif  // VEXA_SRC_IO_BLE_BLE_H_
