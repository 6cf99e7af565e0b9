// The thin platform layer under the Bluetooth classic transport: one RFCOMM
// socket, and one local radio for searches. Each platform implements it in
// its own files; tests put a fake in its place.
#ifndef VEXA_SRC_IO_BTH_BTH_PLATFORM_H_
#define VEXA_SRC_IO_BTH_BTH_PLATFORM_H_

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace Vexa {
namespace bth {

class SearchState;

// How one connect attempt ended, in the terms the transport reports.
enum class ConnectResult {
  kConnected,
  kAdapterDown,  // no usable local radio
  kPinRejected,  // the device turned our PIN down: another PIN may do
  kNoAnswer,     // the device did not answer in time
  kFailed,       // any other refusal
};

enum class WaitResult { kReadable, kTimedOut, kFailed };

// One RFCOMM stream socket to channel 1 of one device. receive and transmit
// may run on two threads at once.
class Link {
 public:
  virtual ~Link() = default;
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // Connects, answering a PIN request from the device with pin. May be
  // called once more after a failed attempt.
  virtual ConnectResult connect(const std::string& pin) = 0;
  // Waits until data can be read; a negative time-out waits without limit.
  virtual WaitResult waitReadable(int timeoutMs) = 0;
  // Bytes read (> 0), 0 when the device closed the link, < 0 on an error.
  virtual int receive(uint8_t* buf, int len) = 0;
  // Bytes taken (> 0), or <= 0 on an error.
  virtual int transmit(const uint8_t* buf, int len) = 0;
  // Waits between paced writes.
  virtual void pause(std::chrono::milliseconds time);
  // The system's text for the last call that failed ("" when none did or
  // the system gave no cause).
  virtual std::string lastError() const { return ""; }

 protected:
  Link() = default;
};

// The first local radio, for one search.
class Radio {
 public:
  virtual ~Radio() = default;
  Radio(const Radio&) = delete;
  Radio& operator=(const Radio&) = delete;

  // Runs one inquiry and reports every device in range to state; returns
  // when the inquiry is over. Throws Exception when it cannot listen.
  virtual void inquire(SearchState& state) = 0;
  // The device's name: nullopt when the query failed, "" while the radio
  // does not know it yet.
  virtual std::optional<std::string> queryName(uint64_t address) = 0;
  // Waits between name queries.
  virtual void pause(std::chrono::milliseconds time);

 protected:
  Radio() = default;
};

// An unconnected socket for the device at address. Throws
// Notification::InitializingPort (or AdapterNotFound where the system has
// no Bluetooth at all), location "BTH::BTH".
std::unique_ptr<Link> openLink(uint64_t address);

// The first local radio. Throws Notification::AdapterNotFound when there is
// none, Notification::InitializingPort when it cannot be reached, location
// "BTH::findDevices".
std::unique_ptr<Radio> openRadio();

}  // namespace bth
}  // namespace Vexa

#endif  // VEXA_SRC_IO_BTH_BTH_PLATFORM_H_
