// The SPI wire of one open fake adapter: bytes from the host to the
// simulated device and back, and the host's receive event, signalled as
// the device's bytes arrive.
#ifndef VEXA_SIM_FTDI_FAKE_WIRE_H_
#define VEXA_SIM_FTDI_FAKE_WIRE_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "vexa_sim/link.h"

namespace fake_ftdi {

// Signals the host's event the way the platform's FTDI library does. On
// Linux, without setFlag only the condition is signalled, not the flag
// beside it.
void signalHostEvent(void* param, bool setFlag);

class Wire {
 public:
  // Host side.
  void hostWrite(const uint8_t* data, size_t len);
  size_t waiting();
  size_t hostRead(uint8_t* buf, size_t len);
  void setEvent(uint32_t mask, void* param);
  // Bytes from the device reach the host, and the event is signalled.
  void deliver(const uint8_t* data, size_t len, bool setFlag);

  // Device side (the engine's link).
  int deviceRead(uint8_t* buf, int len, std::chrono::milliseconds timeout);
  void deviceWrite(const uint8_t* data, size_t len);
  void wakeDevice();

 private:
  std::mutex mutex_;
  std::condition_variable toDeviceReady_;
  std::deque<uint8_t> toDevice_;
  std::deque<uint8_t> toHost_;
  bool woken_ = false;
  uint32_t eventMask_ = 0;
  void* eventParam_ = nullptr;
};

// The simulator engine's end of the wire.
class WireLink : public vexa_sim::Link {
 public:
  explicit WireLink(std::shared_ptr<Wire> wire) : wire_(std::move(wire)) {}
  int read(uint8_t* buf, int len, std::chrono::milliseconds timeout) override {
    return wire_->deviceRead(buf, len, timeout);
  }
  void write(const uint8_t* data, size_t len) override { wire_->deviceWrite(data, len); }
  void wakeReader() override { wire_->wakeDevice(); }

 private:
  std::shared_ptr<Wire> wire_;
};

}  // namespace fake_ftdi

#endif  // VEXA_SIM_FTDI_FAKE_WIRE_H_
