#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/x.h"
#include "vexa/cancel.h"
#include "vexa/exceptions.h"

namespace Vexa {
namespace {

constexpr uint8_t kCompactBoardProbe = 0x07;
constexpr uint8_t kVersionProbe = 'V';
constexpr int kProbeTimeoutMs = 1000;
constexpr int kReplyTimeoutMs = 5000;
constexpr size_t kMinDescription = 4;
// A version line keeps at most 29 bytes after its first one, plus a spare.
constexpr size_t kLineBuffer = 32;

[[noreturn]] void handshakeFailed() {
  VEXA_THROW(Notification::ContactingDevice);
}

uint16_t be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

}  // namespace

void BaseDev::X::getVersion() {
  // A call cancelled while its link opened goes no further.
  throwIfCancelled("Vexa::BaseDev::X::getVersion");
  size_t descriptionLength;
  if (packetSize != 0) {
    io->send(&kCompactBoardProbe, 1);
    if (rxBuf.size() < static_cast<size_t>(packetSize)) rxBuf.resize(packetSize);
    int r = io->recv(rxBuf.data(), packetSize);
    if (r <= 0) handshakeFailed();
    if (rxBuf[0] != 0x00) {
      // A compact board answers in text; the packet is its version line. A
      // packet that fills the whole buffer loses its last byte to the
      // terminator.
      char line[kLineBuffer] = {};
      std::memcpy(line, rxBuf.data(), r < packetSize ? r : packetSize - 1);
      parseVersionBit(line);
      return;
    }
    std::memmove(rxBuf.data(), rxBuf.data() + 1, r - 1);
    descriptionLength = r - 1;
  } else {
    io->setRcvTimeout(kProbeTimeoutMs);
    io->send(&kCompactBoardProbe, 1);
    uint8_t line[kLineBuffer] = {};
    if (io->recv(line, 1) == 1) {
      recvVersionLine(line + 1);
      parseVersionBit(reinterpret_cast<const char*>(line));
      return;
    }
    io->send(&kVersionProbe, 1);
    IO::recvAll(*io, line, 1);
    if (line[0] != 0x00) {
      recvVersionLine(line + 1);
      parseVersionOld(reinterpret_cast<const char*>(line));
      return;
    }
    uint16_t len = 0;
    // Only a success reply carries the description; a time-out or any other
    // message after a failed CRC is no answer to the probe.
    if (recvMsg(len, kReplyTimeoutMs, true) != 0x00) handshakeFailed();
    descriptionLength = len;
  }

  if (descriptionLength < kMinDescription) handshakeFailed();
  insertProperty("description",
                 PropertyValue(std::string(rxBuf.begin(), rxBuf.begin() + descriptionLength)));

  if (sendCommand({0x03, 0x00}) != 6) handshakeFailed();
  const uint16_t productId = be16(&rxBuf[0]);
  const uint16_t fwVersion = be16(&rxBuf[2]);
  const uint16_t hwVersion = be16(&rxBuf[4]);
  insertProperty("productID", PropertyValue(productId));
  insertProperty("fwVersion", PropertyValue(fwVersion));
  if (hwVersion != 0xFFFF) insertProperty("hwVersion", PropertyValue(hwVersion));

  if ((productId == 0x0201 && fwVersion >= 0x0304) || productId == 0x021E) {
    uint16_t len = sendCommand({0x03, 0x03});
    std::string uid;
    bool meaningful = false;
    for (uint16_t i = 0; i < len; ++i) {
      char hex[3];
      std::snprintf(hex, sizeof hex, "%02X", rxBuf[i]);
      uid += hex;
      meaningful = meaningful || (rxBuf[i] != 0x00 && rxBuf[i] != 0xFF);
    }
    if (meaningful) insertProperty("uid", PropertyValue(uid));
  }

  if ((productId == 0x0502 && fwVersion >= 0x0400) || productId == 0x0801 || productId == 0x0802 ||
      productId == 0x0803) {
    if (sendCommand({0x03, 0x04}) != 1) handshakeFailed();
    insertProperty("color", PropertyValue(static_cast<int32_t>(rxBuf[0])));
  }

  if (productId == 0x020A) {
    family = DeviceFamily::kCurrentPaced;
  } else if (productId == 0x0502 || productId == 0x0801 || productId == 0x0802 || productId == 0x0803) {
    family = DeviceFamily::kCurrentScaled;
  } else {
    family = DeviceFamily::kCurrent;
  }
}

}  // namespace Vexa
