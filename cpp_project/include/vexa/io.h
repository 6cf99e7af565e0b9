/// @file
/// The byte transport between the device layer and one physical link.
/// Concrete transports (serial, Bluetooth classic, BLE dongle, USB) derive
/// from IO and own their platform handles.
#ifndef VEXA_IO_H_
#define VEXA_IO_H_

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "vexa/base_dev.h"

namespace Vexa {

class WireTrace;

/// One open link: connected from the end of its constructor until it is
/// destroyed, which closes it. A constructor that cannot open the link
/// throws and leaves nothing open.
///
/// Threads: one thread reads at a time (the loop's, or the one running a
/// command); a second thread may send while that read waits. Nothing here
/// locks.
class IO {
 public:
  /// Closes the link and releases its handles.
  virtual ~IO() = default;
  IO(const IO&) = delete;             ///< A link has one owner.
  IO& operator=(const IO&) = delete;  ///< A link has one owner.

  /// Later recv calls wait at most ms milliseconds; 0 polls; negative waits
  /// without limit.
  virtual void setRcvTimeout(int ms) = 0;
  /// Reads 1..len bytes into buf, or returns 0 when the time-out passed
  /// with nothing; never a negative number. What it returns goes to the
  /// attached trace.
  /// @throws Notification::ContactingDevice when the link is broken.
  int recv(void* buf, int len);
  /// Writes all len bytes of buf, handing them to the attached trace first.
  /// One send from a second thread may overlap a blocked recv.
  /// @throws Notification::ContactingDevice on any failure, a short write
  ///   included.
  void send(const void* buf, int len);

  /// What kind of link this is, as a wire trace names it: "serial",
  /// "bluetooth", "ble", "usb", or "sim" for in-process links.
  virtual const char* linkKind() const { return "sim"; }
  /// Hands every later recv and send to trace; null detaches. Any thread.
  void attachTrace(std::shared_ptr<WireTrace> trace);
  /// The attached trace, or null.
  std::shared_ptr<WireTrace> trace() const;

  /// Fills exactly len bytes of buf, first from the put-back buffer, then
  /// from recv. The time-out applies to each recv, not to the whole read.
  /// @throws Notification::ContactingDevice when a recv returns nothing;
  ///   the bytes read so far are lost with it.
  static void recvAll(IO& io, void* buf, int len);

  /// The device implementation that owns this transport; null until set.
  BaseDev::X* owner = nullptr;
  /// The time-out in force, as the transport stored it; -2 until first set.
  int rcvTimeout = -2;
  /// Bytes handed back by the message reader when it resynchronises; read
  /// before anything new from the link.
  std::deque<uint8_t> putBack;

 protected:
  /// For the concrete transports, which open the link.
  IO() = default;

  /// The link's own read, as recv promises it.
  virtual int doRecv(void* buf, int len) = 0;
  /// The link's own write, as send promises it.
  virtual void doSend(const void* buf, int len) = 0;

 private:
  void tap(bool fromDevice, const void* data, int len);

  // Set while a trace is attached: the one load a call pays without one.
  std::atomic<bool> traced_{false};
  mutable std::mutex traceLock_;
  std::shared_ptr<WireTrace> trace_;
};

}  // namespace Vexa

#endif  // VEXA_IO_H_
