// The serial link to the BLE dongle: finds and resets the dongle, reads and
// interprets its BGAPI messages, and waits for responses, procedure
// completions and the connection.
//
// One thread reads the link at a time (the reader); another may meanwhile
// send and wait for its write to complete, learning of the completion from
// whoever reads. So the device loop can block in a receive while a second
// thread writes, as every transport allows.
#ifndef VEXA_SRC_IO_BLE_COM_BLE_H_
#define VEXA_SRC_IO_BLE_COM_BLE_H_

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "io/ble/bgapi.h"
#include "io/ble/ble_timings.h"
#include "io/com.h"

namespace Vexa {

// Results of read_ble besides response codes, counts and scan records.
constexpr int kBleUnknownMessage = -1;
constexpr int kBleNothingArrived = -2;
constexpr int kBleProcedureDone = -3;
constexpr int kBleConnected = -4;

// Handles the dongle reported; all 0 until it does.
struct GattHandles {
  uint8_t connection = 0;
  uint16_t serviceStart = 0;
  uint16_t serviceEnd = 0;
  uint16_t commandValue = 0;
  uint16_t commandConfig = 0;
  uint16_t dataValue = 0;
  uint16_t dataConfig = 0;
};

class COM_BLE : public COM {
 public:
  // Finds the dongle, resets it, waits for it to restart and opens its port.
  explicit COM_BLE(const BleTimings& timings = BleTimings());
  ~COM_BLE() override;

  // A dongle's port, reserved for one link while its claim is held.
  struct Dongle {
    std::string port;
    LinkClaim claim;
  };
  // The first candidate port not open in this process that opens and takes
  // the system reset; waits restartPauseMs after it. Each port is reserved
  // before it is probed, so two links looking at once never share a dongle.
  // Throws Notification::LinkInUse when every candidate is open in this
  // process already, else Notification::AdapterNotFound when none answers.
  static Dongle find_ble_dongle(int restartPauseMs = BleTimings().restartPauseMs);

  // Reads and interprets one message; buf takes len bytes at most.
  int read_ble(uint8_t* buf, int len);
  // Reads one message. For a scan record written to buf (the path, then the
  // name) its length; 0 for any other message, whatever read_ble would
  // give for it (a response's result code is no length).
  int readScanRecord(uint8_t* buf, int len);
  // Until a response with result 0; Notification::ContactingDevice after
  // responseMs.
  void wait_response();
  // Until the procedure started by the last command() completes with
  // result 0; with keep, attribute values read meanwhile are queued for
  // receiveValue. Notification::ContactingDevice after procedureMs.
  void wait_prccomplete(bool keep);
  // Until the connection-status event; Notification::DeviceNotFound after
  // connectMs.
  void wait_connected();

  // Sends one BGAPI command; wait_prccomplete then waits for a completion
  // that comes after it.
  void command(const bgapi::Bytes& bytes);
  // Reads with a buffer of bufLen bytes until a response with result 0;
  // false if none came within limitMs.
  bool awaitResponse(int bufLen, int limitMs);
  // Why the last awaitResponse failed: the dongle's refusal with its BGAPI
  // result, or its silence.
  const std::string& responseFailure() const { return responseFailure_; }
  // The next attribute value: first from the queue, else from the link
  // within the receive time-out, past any other message. Copies at most len
  // bytes and drops the rest of the value; 0 when none came in time.
  int receiveValue(uint8_t* buf, int len);

  // Stores the time-out that limits every serial read made for read_ble and
  // receiveValue (0 polls, negative waits without limit).
  void setRcvTimeout(int timeout) override;

  GattHandles handles() const;
  // Forgets the characteristics' handles before a new discovery.
  void clearCharacteristics();
  const BleTimings& timings() const { return timings_; }

 private:
  COM_BLE(Dongle dongle, const BleTimings& timings);
  enum class Kind { kOther, kResponse, kValue, kScanRecord };
  struct Message {
    int result;
    Kind kind;
  };
  class ReaderTurn;

  // Both need the reader's turn.
  Message readMessage(uint8_t* buf, int len);
  Message interpret(const uint8_t* header, int n, uint8_t* buf, int len);
  // Reads the port through the virtual recv, so a derived link may stand
  // in for the line.
  bool recvExactly(uint8_t* dst, int n);
  int scanRecord(int n, uint8_t* buf, int len) const;
  // Programs the serial read time-out (reader only).
  void applyTimeout(int timeout) { COM::setRcvTimeout(timeout); }
  int wantedTimeout() const;
  void throwIfDisconnected() const;  // needs state_

  const BleTimings timings_;
  uint8_t payload_[bgapi::kMaxPayload];  // the reader's

  mutable std::mutex state_;  // guards everything below
  std::condition_variable changed_;
  bool reading_ = false;  // a thread holds the reader's turn
  bool disconnected_ = false;
  std::string responseFailure_;
  int wanted_ = -1;
  uint64_t completions_ = 0;                // successful procedure completions read
  uint64_t procedureMark_ = 0;              // completions_ when the last command went out
  std::deque<std::vector<uint8_t>> queue_;  // values read during a write
  GattHandles handles_;
};

// The reader's turn, held for the object's lifetime. The constructor waits
// for the turn unless the caller already took it under the state lock.
class COM_BLE::ReaderTurn {
 public:
  explicit ReaderTurn(COM_BLE& link) : link_(link) {
    std::unique_lock<std::mutex> lock(link_.state_);
    link_.changed_.wait(lock, [this] { return !link_.reading_; });
    link_.reading_ = true;
  }
  ReaderTurn(COM_BLE& link, std::unique_lock<std::mutex>& taken) : link_(link) {
    link_.reading_ = true;
    taken.unlock();
  }
  ~ReaderTurn() {
    std::lock_guard<std::mutex> lock(link_.state_);
    link_.reading_ = false;
    link_.changed_.notify_all();
  }
  ReaderTurn(const ReaderTurn&) = delete;
  ReaderTurn& operator=(const ReaderTurn&) = delete;

 private:
  COM_BLE& link_;
};

}  // namespace Vexa

#endif  // VEXA_SRC_IO_BLE_COM_BLE_H_
