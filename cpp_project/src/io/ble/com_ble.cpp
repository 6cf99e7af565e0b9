#include "io/ble/com_ble.h"

#include "vexa/exceptions.h"

namespace Vexa {

COM_BLE::COM_BLE(const BleTimings& timings) : COM_BLE(find_ble_dongle(timings.restartPauseMs), timings) {}

COM_BLE::COM_BLE(Dongle dongle, const BleTimings& timings)
    : COM(dongle.port, std::move(dongle.claim)), timings_(timings), wanted_(timings.linkTimeoutMs) {
  // The first command goes out before any read: its write too must be
  // bounded by the port's write time-out, not by the driver's settings.
  applyTimeout(timings_.linkTimeoutMs);
}

COM_BLE::~COM_BLE() = default;

void COM_BLE::command(const bgapi::Bytes& bytes) {
  {
    // Marked before sending: the completion may be read by another thread
    // before send returns.
    std::lock_guard<std::mutex> lock(state_);
    procedureMark_ = completions_;
  }
  COM::send(bytes.data(), static_cast<int>(bytes.size()));
}

void COM_BLE::setRcvTimeout(int timeout) {
  std::lock_guard<std::mutex> lock(state_);
  wanted_ = timeout;
}

int COM_BLE::wantedTimeout() const {
  std::lock_guard<std::mutex> lock(state_);
  return wanted_;
}

GattHandles COM_BLE::handles() const {
  std::lock_guard<std::mutex> lock(state_);
  return handles_;
}

void COM_BLE::clearCharacteristics() {
  std::lock_guard<std::mutex> lock(state_);
  handles_.commandValue = handles_.commandConfig = 0;
  handles_.dataValue = handles_.dataConfig = 0;
}

void COM_BLE::throwIfDisconnected() const {
  if (disconnected_) VEXA_THROW(Notification::ContactingDevice);
}

}  // namespace Vexa
