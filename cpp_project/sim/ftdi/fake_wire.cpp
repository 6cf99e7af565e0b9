#include "fake_wire.h"

#include <algorithm>

#include "io/usb/ftdi_api.h"

namespace fake_ftdi {

void Wire::hostWrite(const uint8_t* data, size_t len) {
  std::lock_guard<std::mutex> lock(mutex_);
  toDevice_.insert(toDevice_.end(), data, data + len);
  toDeviceReady_.notify_all();
}

size_t Wire::waiting() {
  std::lock_guard<std::mutex> lock(mutex_);
  return toHost_.size();
}

size_t Wire::hostRead(uint8_t* buf, size_t len) {
  std::lock_guard<std::mutex> lock(mutex_);
  const size_t n = std::min(len, toHost_.size());
  std::copy_n(toHost_.begin(), n, buf);
  toHost_.erase(toHost_.begin(), toHost_.begin() + static_cast<std::ptrdiff_t>(n));
  return n;
}

void Wire::setEvent(uint32_t mask, void* param) {
  std::lock_guard<std::mutex> lock(mutex_);
  eventMask_ = mask;
  eventParam_ = param;
}

int Wire::deviceRead(uint8_t* buf, int len, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  toDeviceReady_.wait_for(lock, std::max(timeout, std::chrono::milliseconds(0)),
                          [this] { return !toDevice_.empty() || woken_; });
  woken_ = false;
  const size_t n = std::min(static_cast<size_t>(len), toDevice_.size());
  std::copy_n(toDevice_.begin(), n, buf);
  toDevice_.erase(toDevice_.begin(), toDevice_.begin() + static_cast<std::ptrdiff_t>(n));
  return static_cast<int>(n);
}

void Wire::deviceWrite(const uint8_t* data, size_t len) { deliver(data, len, true); }

void Wire::deliver(const uint8_t* data, size_t len, bool setFlag) {
  void* param = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    toHost_.insert(toHost_.end(), data, data + len);
    if (eventMask_ & Vexa::ftdi::kEventRxChar) param = eventParam_;
  }
  if (param != nullptr && len > 0) signalHostEvent(param, setFlag);
}

void Wire::wakeDevice() {
  std::lock_guard<std::mutex> lock(mutex_);
  woken_ = true;
  toDeviceReady_.notify_all();
}

}  // namespace fake_ftdi
