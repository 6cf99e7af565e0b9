#include <algorithm>
#include <cstring>

#include "base/x.h"
#include "vexa/crc.h"
#include "vexa/exceptions.h"

namespace Vexa {
namespace {

constexpr uint8_t kTwoByteCode = 0x80;
constexpr uint8_t kExtendedLength = 0xFF;

}  // namespace

uint16_t BaseDev::X::recvMsg(uint16_t& length, int timeout, bool firstByteIsZero) {
  io->setRcvTimeout(timeout);

  if (packetSize != 0) {
    if (rxBuf.size() < static_cast<size_t>(packetSize)) rxBuf.resize(packetSize);
    int r = io->recv(rxBuf.data(), packetSize);
    if (r <= 0) return kNoMessage;
    uint16_t code;
    int header;
    if (rxBuf[0] < kTwoByteCode) {
      code = rxBuf[0];
      header = 1;
    } else {
      if (r < 2) VEXA_THROW(Notification::ContactingDevice, "Vexa::BaseDev::X::recvMsg");
      code = static_cast<uint16_t>(rxBuf[0] << 8 | rxBuf[1]);
      header = 2;
    }
    std::memmove(rxBuf.data(), rxBuf.data() + header, r - header);
    length = static_cast<uint16_t>(r - header);
    return code;
  }

  // Stream transport: read until a message passes its CRC, sliding one byte
  // after each failure. A caller-supplied zero first byte counts for the
  // first attempt only; a retry must start from fresh bytes or it would
  // re-read the same ones forever.
  bool zeroFirst = firstByteIsZero;
  for (;;) {
    uint8_t header[5];  // code (1 or 2), length, extended length (0 or 2)
    if (zeroFirst) {
      header[0] = 0x00;
      zeroFirst = false;
    } else if (!io->putBack.empty()) {
      header[0] = io->putBack.front();
      io->putBack.pop_front();
    } else if (io->recv(header, 1) <= 0) {
      return kNoMessage;
    }
    int h = header[0] < kTwoByteCode ? 2 : 3;
    IO::recvAll(*io, header + 1, h - 1);
    size_t len = header[h - 1];
    if (len == kExtendedLength) {
      IO::recvAll(*io, header + h, 2);
      len = header[h] | header[h + 1] << 8;
      h += 2;
    }
    if (rxBuf.size() < len + 1) rxBuf.resize(len + 1);
    IO::recvAll(*io, rxBuf.data(), static_cast<int>(len + 1));

    uint8_t crc = crc8(rxBuf.data(), len, crc8(header, h));
    if (crc == rxBuf[len]) {
      length = static_cast<uint16_t>(len);
      return header[0] < kTwoByteCode ? header[0] : static_cast<uint16_t>(header[0] << 8 | header[1]);
    }
    // Everything after the first byte goes back, ahead of what is queued.
    io->putBack.insert(io->putBack.begin(), rxBuf.begin(), rxBuf.begin() + len + 1);
    io->putBack.insert(io->putBack.begin(), header + 1, header + h);
  }
}

}  // namespace Vexa
