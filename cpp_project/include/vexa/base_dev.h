/// @file
/// One open connection to one acquisition device.
#ifndef VEXA_BASE_DEV_H_
#define VEXA_BASE_DEV_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vexa/dev_info.h"
#include "vexa/device_family.h"
#include "vexa/wire_trace.h"
#include "vexa/event.h"
#include "vexa/property_value.h"

namespace Vexa {

class IO;

/// One open connection to one acquisition device: the transport, the
/// identification the handshake made and the device loop. The object exists
/// only connected; destroying it closes the connection. Derive from it (or
/// from SignalsDev) and override the callbacks to receive what the device
/// sends.
///
/// Threads: one thread at a time uses the object, except interrupt(), which
/// another thread calls while loop() runs. No operation but loop() and
/// interrupt() takes a lock.
class BaseDev {
 public:
  /// The private implementation, defined inside the library.
  class X;

  /// Opens the transport the path names ("COM…" serial port, "USB…" FTDI
  /// adapter, "BLE…" Bluetooth Low Energy through the USB dongle, any other
  /// text a Bluetooth classic device address, the first three characters in
  /// any letter case) and identifies the device; takes about a second.
  /// Nothing stays open after a failure.
  /// @throws Notification::OpeningPort when the port does not exist, is in
  ///   use, or the device refuses the connection.
  /// @throws Notification::InitializingPort when the port or adapter cannot
  ///   be set up.
  /// @throws Notification::AdapterNotFound without a Bluetooth adapter or
  ///   BLE dongle.
  /// @throws Notification::DeviceNotFound when the addressed device does not
  ///   answer.
  /// @throws Notification::ContactingDevice when the device does not answer
  ///   the handshake as it should.
  /// @throws Error::InvalidParameter for a malformed Bluetooth address.
  /// @throws Error::NotSupported for a BLE device without the expected
  ///   service.
  /// @throws Error::MissingModule when the USB libraries are missing.
  /// @throws Error::InvalidOperation (the device's code) when the device
  ///   refuses a handshake command.
  explicit BaseDev(const std::string& path);
  /// Identifies the device on a transport the caller opened, which the object
  /// then owns; path is kept as the "path" property and decides the packet
  /// size as above.
  /// @throws Error::InvalidParameter for a null transport, and the handshake
  ///   failures of the constructor above (the transport is closed).
  BaseDev(const std::string& path, std::unique_ptr<IO> io);
  /// Closes the connection. Not while loop() runs on the object.
  virtual ~BaseDev();
  BaseDev(const BaseDev&) = delete;             ///< One object per connection.
  BaseDev& operator=(const BaseDev&) = delete;  ///< One object per connection.

  /// Called by the loop for every device event. ev is the record of
  /// ev.type (cast it to the Events record of that type); it and every
  /// pointer inside it are valid only during the call. Runs on the loop's
  /// thread with the device's lock held. Returning true ends the loop; the
  /// base version returns false.
  virtual bool onEvent(const Event& ev);
  /// Called by the loop when the time-out of setTimeout() passed without a
  /// message, on the loop's thread. Returning true ends the loop; the base
  /// version returns false.
  virtual bool onTimeout();
  /// Called by the loop, on its thread, once an interrupt() request takes
  /// effect; param is the pointer given to interrupt(). Returning true ends
  /// the loop; false goes on waiting (the base version).
  virtual bool onInterrupt(void* param);

  /// A copy of what the handshake learned: "path", "description",
  /// "productID", "fwVersion", and where the device has them "hwVersion",
  /// "uid", "color".
  /// @throws Error::InvalidInstance only for an object without its
  ///   implementation (never after a successful construction).
  Properties getProperties() const;
  /// The protocol family the handshake found.
  /// @throws Error::InvalidInstance as getProperties().
  DeviceFamily family() const;
  /// The loop's receive time-out in milliseconds: a positive value calls
  /// onTimeout() after that long without a message, 0 polls, a negative
  /// value (the initial -1) waits without limit, so onTimeout() is never
  /// called. Applies from the loop's next wait.
  /// @throws Error::InvalidInstance as getProperties().
  void setTimeout(int ms);

  /// Writes every byte the link carries from now on to a wire trace file
  /// at the UTF-8 path (see vexa/wire_trace.h), until stopTrace() or the
  /// object's end. Any thread.
  /// @throws Error::InvalidOperation when a trace runs already.
  /// @throws Error::InvalidParameter when the file cannot be created.
  void startTrace(const std::string& path, uint64_t byteLimit = WireTrace::kDefaultByteLimit);
  /// Ends the trace, its file written and closed. False when none ran.
  /// @throws NotifException when the file could not be written in full.
  bool stopTrace();

  /// Runs the device loop on the calling thread: receives what the device
  /// sends and turns it into callbacks until one of them returns true.
  /// Every callback runs on this thread, one at a time, with the device's
  /// lock held; commands sent from a callback run on this thread too.
  /// Messages that arrived while a command waited for its reply are
  /// delivered first. After any exception the device is idle again, so
  /// loop() may be called anew.
  /// @throws Error::InvalidOperation (code 0) when a loop already runs on
  ///   this device, which includes a call from one of its callbacks.
  /// @throws Notification::ContactingDevice when the link breaks or the
  ///   device sends what it should not (an unknown event, a malformed
  ///   message or frame, data while the oldest family or compact board is
  ///   not acquiring, no answer to an interrupt within 5 s).
  /// @throws Error::InvalidInstance as getProperties().
  /// Whatever a callback throws passes through unchanged.
  void loop();
  /// From a thread other than the loop's: makes the loop call
  /// onInterrupt(param) at its next wait. Waits while a callback runs, and
  /// acts only while the loop waits for data. A streaming device wakes the
  /// loop with its next frame; an idle one is sent a request that it
  /// answers, so the waiting receive ends.
  /// @throws Error::InvalidOperation (code 0) when no loop waits for data:
  ///   none runs, it is handling a message (a caller may try again), or the
  ///   call comes from one of the loop's own callbacks.
  /// @throws Notification::ContactingDevice when the wake-up request cannot
  ///   be written.
  /// @throws Error::InvalidInstance as getProperties().
  void interrupt(void* param);

  /// Battery charge in percent (0 to 100), or -1 when the device has no
  /// reading. Asks the device, so call it while no loop runs on another
  /// thread (a loop callback may call it).
  /// @throws Error::NotSupported for the oldest family.
  /// @throws Notification::ContactingDevice when the reply is missing or of
  ///   the wrong size; Error::InvalidOperation (the device's code) when the
  ///   device refuses.
  /// @throws Error::NotSupported on the first compact-board revision and
  ///   Error::InvalidOperation (code 0) on a compact board that is
  ///   acquiring: its charge comes from QuillboxDev::getState().
  /// @throws Error::InvalidInstance as getProperties().
  float getBattery();
  /// Writes parameter index of port (each sent as its low byte) with dataLen
  /// bytes from data, which is read during the call only, and waits for the
  /// device's acknowledgement. Same thread rule as getBattery().
  /// @throws Error::NotSupported for the oldest family and the compact board.
  /// @throws Error::InvalidParameter for dataLen below 0 or above 251, or a
  ///   null data with a positive dataLen, before anything is sent.
  /// @throws Error::InvalidOperation (the device's code) when the device
  ///   refuses; Notification::ContactingDevice when it does not answer.
  /// @throws Error::InvalidInstance as getProperties().
  void setParameter(int port, int index, const uint8_t* data, int dataLen);

  /// Lists connectable devices of one domain ("BTH", "BLE", "USB", any
  /// letter case) or of all of them (empty domain), Bluetooth classic first,
  /// then BLE, then USB. Needs no device. Blocks for the scans (a Bluetooth
  /// scan takes several seconds).
  /// @throws Error::InvalidParameter for any other domain, before any scan.
  ///
  /// A one-domain search passes its scan's failures on unchanged:
  /// Notification::AdapterNotFound (no Bluetooth adapter, no BLE dongle),
  /// Notification::OpeningPort and Notification::InitializingPort (the
  /// dongle's port or an adapter cannot be set up),
  /// Notification::ContactingDevice (the dongle stops answering), Error::MissingModule (no USB libraries), and
  /// Exception itself for a failed Bluetooth search or one started while
  /// another runs in the process. The search of all domains skips a missing
  /// adapter, dongle or USB library and ends on any other failure.
  static std::vector<DevInfo> findDevices(const std::string& domain);

 protected:
  /// The private implementation, for the library's own derived classes.
  X* impl() const { return x.get(); }

 private:
  std::unique_ptr<X> x;
};

}  // namespace Vexa

#endif  // VEXA_BASE_DEV_H_
