// The private implementation of BaseDev: the transport, the protocol state
// and the operations of the message protocol, the handshake and the loop.
#ifndef VEXA_SRC_BASE_X_H_
#define VEXA_SRC_BASE_X_H_

#include <limits>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "vexa/base_dev.h"
#include "vexa/device_family.h"
#include "vexa/io.h"
#include "vexa/property_value.h"

namespace Vexa {

class SignalsX;

// A message that arrived while a command waited for its reply.
struct PendingMsg {
  uint16_t code;
  std::vector<uint8_t> data;
  // hostTime() when it was read; NaN when unknown (the time fit skips it).
  double arrival = std::numeric_limits<double>::quiet_NaN();
};

// recvMsg's result when nothing arrived within the time-out.
constexpr uint16_t kNoMessage = 0x80;

// Loop states shared by the loop thread and interrupt().
enum LoopState : int32_t {
  kIdle = 0,
  kReceiving = 1,
  kDispatching = 2,
  kInterruptAcquiring = 3,
  kInterruptIdle = 4,
};

class BaseDev::X {
 public:
  // Opens the transport the path selects, then identifies the device. When
  // the handshake fails the transport is closed before the error leaves.
  X(const std::string& path, BaseDev* owner);
  // The same on a transport opened by the caller.
  X(const std::string& path, BaseDev* owner, std::unique_ptr<IO> transport);
  ~X();

  // --- message protocol -------------------------------------------------
  // Frames and sends a command; unless noWait, returns the reply's payload
  // length with the payload in rxBuf. Messages that arrive first are queued.
  uint16_t sendCommand(const uint8_t* payload, uint16_t n, bool noWait = false);
  uint16_t sendCommand(std::initializer_list<uint8_t> payload, bool noWait = false);
  // Reads one message: returns its code (kNoMessage on time-out) and sets
  // length; the payload is in rxBuf.
  uint16_t recvMsg(uint16_t& length, int timeout, bool firstByteIsZero);
  void queueMsg(uint16_t code, uint16_t length);
  bool dispatchPending();
  // arrival: hostTime() when the message was read; NaN when unknown.
  bool dispatchMsg(uint16_t code, const uint8_t* data, uint16_t len,
                   double arrival = std::numeric_limits<double>::quiet_NaN());
  bool dispatchEvent(uint8_t code, const uint8_t* data, uint16_t len);

  // --- handshake and properties ----------------------------------------
  void getVersion();
  // Reads the rest of a version line into buf (at most 29 bytes, NUL
  // terminated in place of the line feed or at buf[28]).
  void recvVersionLine(uint8_t* buf);
  void parseVersionOld(const char* line);
  void parseVersionBit(const char* line);
  // Adds a property unless the key is already there: the first value stays.
  void insertProperty(const std::string& key, PropertyValue value);
  int32_t intProperty(const std::string& key);

  // --- battery ------------------------------------------------------------
  float batteryVoltage(uint16_t raw);

  // --- loop -----------------------------------------------------------------
  void loop();
  void loopOld_Bit();
  void syncOld(int already);
  void syncBit(int already);
  bool acquiring() const;

  BaseDev* dev;
  std::unique_ptr<IO> io;
  std::unique_ptr<SignalsX> sigX;
  std::vector<uint8_t> rxBuf;
  Properties properties;
  std::deque<PendingMsg> pending;
  int32_t loopTimeout = -1;
  int32_t packetSize = 0;
  std::recursive_mutex mutex;
  void* interruptParam = nullptr;
  // Read by interrupt() on another thread; atomic so that the loop's
  // unlocked checks are well defined.
  std::atomic<int32_t> state{kIdle};
  DeviceFamily family = DeviceFamily::kOldest;

 private:
  void connect(const std::string& path);
};

// Maps a battery voltage onto the charge curve shared by every device.
float batteryPercent(float volts);

// Opens the transport that a connection path names.
std::unique_ptr<IO> openTransport(const std::string& path);

}  // namespace Vexa

#endif  // VEXA_SRC_BASE_X_H_
