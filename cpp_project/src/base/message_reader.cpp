#include <algorithm>
#include <cstring>

#include "base/x.h"
#include "vexa/crc.h"
#include "vexa/exceptions.h"

namespace Vexa {
namespace {

constexpr uint8_t kTwoByteCode = 0x80;
constexpr uint8_t kExtendedLength = 0xFF;

// Reads up to len bytes, put-back bytes first, waiting for the transport
// only when allowed; fewer than len means its receive time-out ran out.
int readUpTo(IO& io, uint8_t* out, int len, bool wait) {
  int got = std::min<int>(len, static_cast<int>(io.putBack.size()));
  std::copy_n(io.putBack.begin(), got, out);
  io.putBack.erase(io.putBack.begin(), io.putBack.begin() + got);
  while (wait && got < len) {
    int n = io.recv(out + got, len - got);
    if (n <= 0) break;
    got += n;
  }
  return got;
}

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
      if (r < 2) VEXA_THROW(Notification::ContactingDevice);
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
  // Set once a read ran out of time: a stray byte may have announced a
  // longer message than the device sent, so the bytes that did arrive are
  // still searched (without waiting again) before the device counts as lost.
  bool dry = false;
  for (;;) {
    uint8_t header[5];  // code (1 or 2), length, extended length (0 or 2)
    if (zeroFirst) {
      header[0] = 0x00;
      zeroFirst = false;
    } else if (!io->putBack.empty()) {
      header[0] = io->putBack.front();
      io->putBack.pop_front();
    } else if (dry) {
      VEXA_THROW(Notification::ContactingDevice);
    } else if (io->recv(header, 1) <= 0) {
      return kNoMessage;
    }
    int h = header[0] < kTwoByteCode ? 2 : 3;
    int headerGot = 1 + readUpTo(*io, header + 1, h - 1, !dry);
    bool whole = headerGot == h;
    if (whole && header[h - 1] == kExtendedLength) {
      h += 2;
      headerGot += readUpTo(*io, header + h - 2, 2, !dry);
      whole = headerGot == h;
    }
    int bodyGot = 0;
    if (whole) {
      const size_t len = h > 3 ? header[h - 2] | header[h - 1] << 8 : header[h - 1];
      if (rxBuf.size() < len + 1) rxBuf.resize(len + 1);
      bodyGot = readUpTo(*io, rxBuf.data(), static_cast<int>(len + 1), !dry);
      whole = static_cast<size_t>(bodyGot) == len + 1;
      if (whole && crc8(rxBuf.data(), len, crc8(header, h)) == rxBuf[len]) {
        length = static_cast<uint16_t>(len);
        return header[0] < kTwoByteCode ? header[0] : static_cast<uint16_t>(header[0] << 8 | header[1]);
      }
    }
    dry = dry || !whole;
    // Everything after the first byte goes back, ahead of what is queued.
    io->putBack.insert(io->putBack.begin(), rxBuf.begin(), rxBuf.begin() + bodyGot);
    io->putBack.insert(io->putBack.begin(), header + 1, header + headerGot);
  }
}

}  // namespace Vexa
