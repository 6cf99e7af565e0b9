// Reading one BGAPI message and interpreting it.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "io/ble/com_ble.h"
#include "vexa/exceptions.h"

namespace Vexa {
namespace {

constexpr int kPathLength = 20;  // "BLE" and 17 characters of address
constexpr uint8_t kScanResponsePacket = 4;

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

constexpr int id(uint8_t cls, uint8_t message) { return cls << 8 | message; }

// Where a response carries its result, or -1 for responses not read.
int resultOffset(int message) {
  switch (message) {
    case id(bgapi::kClassConnection, 0):  // disconnect
    case id(bgapi::kClassAttClient, 1):   // read by group type
    case id(bgapi::kClassAttClient, 3):   // find information
    case id(bgapi::kClassAttClient, 5):   // attribute write
      return 1;
    case id(bgapi::kClassGap, 2):  // discover
    case id(bgapi::kClassGap, 3):  // connect direct
    case id(bgapi::kClassGap, 4):  // end procedure
    case id(bgapi::kClassGap, 7):  // set scan parameters
      return 0;
    default:
      return -1;
  }
}

bool sameUuid(const uint8_t* p, const bgapi::Uuid& uuid) { return std::equal(uuid.begin(), uuid.end(), p); }

}  // namespace

int COM_BLE::read_ble(uint8_t* buf, int len) {
  ReaderTurn turn(*this);
  applyTimeout(wantedTimeout());
  return readMessage(buf, len).result;
}

int COM_BLE::readScanRecord(uint8_t* buf, int len) {
  ReaderTurn turn(*this);
  applyTimeout(wantedTimeout());
  const Message m = readMessage(buf, len);
  return m.kind == Kind::kScanRecord ? m.result : 0;
}

bool COM_BLE::recvExactly(uint8_t* dst, int n) {
  for (int got = 0; got < n;) {
    int r = recv(dst + got, n - got);
    if (r <= 0) return false;
    got += r;
  }
  return true;
}

COM_BLE::Message COM_BLE::readMessage(uint8_t* buf, int len) {
  {
    std::lock_guard<std::mutex> lock(state_);
    throwIfDisconnected();
  }
  uint8_t header[bgapi::kHeaderSize];
  if (!recvExactly(header, 1)) return {kBleNothingArrived, Kind::kOther};
  // Once a message has begun, a short poll must not cut it in two and leave
  // the stream out of step: the rest gets at least the link time-out.
  const int before = rcvTimeout;
  const bool raise = before > 0 && before < timings_.linkTimeoutMs;
  if (raise) applyTimeout(timings_.linkTimeoutMs);
  const bool whole = recvExactly(header + 1, bgapi::kHeaderSize - 1) && recvExactly(payload_, header[1]);
  if (raise) applyTimeout(before);
  if (!whole) return {kBleNothingArrived, Kind::kOther};
  return interpret(header, header[1], buf, len);
}

COM_BLE::Message COM_BLE::interpret(const uint8_t* header, int n, uint8_t* buf, int len) {
  const uint8_t* p = payload_;
  const int message = id(header[2], header[3]);
  const Message unknown{kBleUnknownMessage, Kind::kOther};
  if (header[0] == bgapi::kResponseType) {
    const int at = resultOffset(message);
    if (at < 0 || n < at + 2) return unknown;
    return {le16(p + at), Kind::kResponse};
  }
  if (header[0] != bgapi::kEventType) return unknown;

  std::lock_guard<std::mutex> lock(state_);
  switch (message) {
    case id(bgapi::kClassConnection, 0):  // connection status
      if (n < 1) return unknown;
      handles_.connection = p[0];
      return {kBleConnected, Kind::kOther};
    case id(bgapi::kClassConnection, 4):  // disconnected
      disconnected_ = true;
      changed_.notify_all();
      VEXA_THROW(Notification::ContactingDevice);
    case id(bgapi::kClassAttClient, 1):  // procedure completed
      if (n < 3 || le16(p + 1) != 0) return unknown;
      ++completions_;
      changed_.notify_all();
      return {kBleProcedureDone, Kind::kOther};
    // The discovery events carry 16-bit UUIDs too; only 128-bit ones can
    // be the service's or a characteristic's.
    case id(bgapi::kClassAttClient, 2):  // group found
      if (n < 5) return unknown;
      if (n >= 22 && sameUuid(p + 6, bgapi::kServiceUuid)) {
        handles_.serviceStart = le16(p + 1);
        handles_.serviceEnd = le16(p + 3);
      }
      return {0, Kind::kOther};
    case id(bgapi::kClassAttClient, 4): {  // find information found
      if (n < 3) return unknown;
      const uint16_t handle = le16(p + 1);
      if (n < 20) return {0, Kind::kOther};
      if (sameUuid(p + 4, bgapi::kCommandCharUuid)) {
        handles_.commandValue = handle;
        handles_.commandConfig = static_cast<uint16_t>(handle + 1);
      } else if (sameUuid(p + 4, bgapi::kDataCharUuid)) {
        handles_.dataValue = handle;
        handles_.dataConfig = static_cast<uint16_t>(handle + 1);
      }
      return {0, Kind::kOther};
    }
    case id(bgapi::kClassAttClient, 5): {  // attribute value
      if (n < 5) return unknown;
      // A length byte that claims more than the message holds is cut to it.
      const int value = std::min<int>(p[4], n - 5);
      const int copied = buf == nullptr ? 0 : std::clamp(len, 0, value);
      if (copied > 0) std::memcpy(buf, p + 5, static_cast<size_t>(copied));
      return {copied, Kind::kValue};
    }
    case id(bgapi::kClassGap, 0):  // scan response
      if (n < 11) return unknown;
      return {scanRecord(n, buf, len), Kind::kScanRecord};
    default:
      return unknown;
  }
}

// Writes the sender's path and then its name (the advertising data without
// the first structure's length and type bytes). A record that does not fit
// the caller's buffer whole is ignored, as are other packet types, data too
// short to hold a name, and data longer than the message.
int COM_BLE::scanRecord(int n, uint8_t* buf, int len) const {
  const uint8_t* p = payload_;
  const int dataLength = p[10];
  if (p[1] != kScanResponsePacket || dataLength < 2 || dataLength > n - 11) return 0;
  const int nameLength = dataLength - 2;
  if (buf == nullptr || len < kPathLength + nameLength) return 0;
  const bgapi::Address sender = {p[2], p[3], p[4], p[5], p[6], p[7]};
  const std::string path = bgapi::pathOf(sender);
  std::memcpy(buf, path.data(), kPathLength);
  std::memcpy(buf + kPathLength, p + 13, static_cast<size_t>(nameLength));
  return dataLength + 18;
}

}  // namespace Vexa
