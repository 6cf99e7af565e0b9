// One open connection to one acquisition device.
#ifndef VEXA_BASE_DEV_H_
#define VEXA_BASE_DEV_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vexa/dev_info.h"
#include "vexa/device_family.h"
#include "vexa/event.h"
#include "vexa/property_value.h"

namespace Vexa {

class IO;

class BaseDev {
 public:
  class X;  // the private implementation, defined inside the library

  // Opens the transport the path names ("COM…", "USB…", "BLE…", otherwise
  // Bluetooth classic) and identifies the device.
  explicit BaseDev(const std::string& path);
  // Identifies the device on a transport the caller opened; path is kept as
  // the "path" property and decides the packet size as above.
  BaseDev(const std::string& path, std::unique_ptr<IO> io);
  virtual ~BaseDev();
  BaseDev(const BaseDev&) = delete;
  BaseDev& operator=(const BaseDev&) = delete;

  // Callbacks of the device loop; returning true ends the loop.
  virtual bool onEvent(const Event& ev);
  virtual bool onTimeout();
  virtual bool onInterrupt(void* param);

  Properties getProperties() const;
  DeviceFamily family() const;
  // The loop's receive time-out in milliseconds (negative: no limit).
  void setTimeout(int ms);

  // Runs the device loop on the calling thread until a callback returns true.
  void loop();
  // From another thread: makes a waiting loop call onInterrupt(param).
  void interrupt(void* param);

  // Battery charge in percent, or -1 when the device has no reading.
  float getBattery();
  void setParameter(int port, int index, const uint8_t* data, int dataLen);

  // Lists connectable devices of one domain ("BTH", "BLE", "USB", any case)
  // or of all of them (empty domain).
  static std::vector<DevInfo> findDevices(const std::string& domain);

 protected:
  X* impl() const { return x.get(); }

 private:
  std::unique_ptr<X> x;
};

}  // namespace Vexa

#endif  // VEXA_BASE_DEV_H_
