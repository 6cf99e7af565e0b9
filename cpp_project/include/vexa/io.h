// The byte transport between the device layer and one physical link.
// Concrete transports (serial, Bluetooth classic, BLE dongle, USB) derive
// from IO and own their platform handles.
#ifndef VEXA_IO_H_
#define VEXA_IO_H_

#include <cstdint>
#include <deque>

#include "vexa/base_dev.h"

namespace Vexa {

class IO {
 public:
  virtual ~IO() = default;
  IO(const IO&) = delete;
  IO& operator=(const IO&) = delete;

  // Later recv calls wait at most ms milliseconds; 0 polls; negative waits
  // without limit.
  virtual void setRcvTimeout(int ms) = 0;
  // Reads 1..len bytes, or returns 0 when the time-out passed with nothing.
  // A broken link throws Notification::ContactingDevice.
  virtual int recv(void* buf, int len) = 0;
  // Writes all len bytes or throws Notification::ContactingDevice. One send
  // from a second thread may overlap a blocked recv.
  virtual void send(const void* buf, int len) = 0;

  // Fills exactly len bytes, first from the put-back buffer, then from recv;
  // a recv that returns nothing throws Notification::ContactingDevice.
  static void recvAll(IO& io, void* buf, int len);

  // The device implementation that owns this transport; null until set.
  BaseDev::X* owner = nullptr;
  // The time-out in force, as the transport stored it; -2 until first set.
  int rcvTimeout = -2;
  // Bytes handed back by the message reader when it resynchronises; read
  // before anything new from the link.
  std::deque<uint8_t> putBack;

 protected:
  IO() = default;
};

}  // namespace Vexa

#endif  // VEXA_IO_H_
