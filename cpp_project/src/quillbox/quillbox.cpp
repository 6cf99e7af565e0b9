// The compact board's acquisition: single-byte commands, small frames whose
// last byte carries a 4-bit sequence number and a CRC-4, on byte streams
// and on packet links.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "base/banner_sync.h"
#include "signals/signals_x.h"
#include "vexa/crc.h"
#include "vexa/exceptions.h"
#include "vexa/host_clock.h"

namespace Vexa {
namespace {

constexpr int kSyncTimeoutMs = 5000;
constexpr int32_t kFirstRevision = 1537;

int frameSizeBit(int n) { return n + 2 + (n >= 3 && n <= 5 ? 1 : 0); }

// The first board revision needs a pause between two commands.
void firstRevisionPause(BaseDev::X& x) {
  if (x.intProperty("productID") == kFirstRevision) std::this_thread::sleep_for(std::chrono::milliseconds(1000));
}

}  // namespace

void SignalsX::startBit(float freq, int mask, int nBits) {
  if (nSources != 0) VEXA_THROW(Error::InvalidOperation, 0);
  if (mask < 1 || mask > 63) VEXA_THROW(Error::InvalidParameter);
  int rate;
  if (freq == 1.0f) {
    rate = 0;
  } else if (freq == 10.0f) {
    rate = 1;
  } else if (freq == 100.0f) {
    rate = 2;
  } else if (freq == 1000.0f) {
    rate = 3;
  } else {
    VEXA_THROW(Error::InvalidParameter);
  }
  const uint8_t rateCommand = static_cast<uint8_t>(rate << 6 | 0x03);
  x.io->send(&rateCommand, 1);
  firstRevisionPause(x);
  const uint8_t startCommand = static_cast<uint8_t>(mask << 2 | 0x01);
  x.io->send(&startCommand, 1);

  int n = 0;
  for (int m = mask; m != 0; m &= m - 1) ++n;
  setUp({SourceLayout{1, nBits, n}}, freq);
  x.pending.clear();
  const size_t size = static_cast<size_t>(frameSizeBit(n));
  if (x.rxBuf.size() < size) x.rxBuf.resize(size);
  if (x.packetSize != 0) {
    packetBuf.assign(static_cast<size_t>(x.packetSize), 0);
    packetPos = 0;
    packetLeft = 0;
  }
}

bool SignalsX::recvBytesBit(uint8_t* buf, int count) {
  if (x.packetSize == 0) {
    for (int got = 0; got < count;) {
      int r = x.io->recv(buf + got, count - got);
      if (r <= 0) return true;
      got += r;
    }
    return false;
  }
  int got = 0;
  while (got < count) {
    if (packetLeft == 0) {
      int r = x.io->recv(packetBuf.data(), x.packetSize);
      if (r <= 0) {
        // Keep what this call gathered: the next call starts with it.
        const int kept = std::min<int>(got, static_cast<int>(packetBuf.size()));
        std::memcpy(packetBuf.data(), buf, static_cast<size_t>(kept));
        packetPos = 0;
        packetLeft = kept;
        return true;
      }
      packetPos = 0;
      packetLeft = r;
    }
    const int take = std::min(count - got, packetLeft);
    std::memcpy(buf + got, packetBuf.data() + packetPos, static_cast<size_t>(take));
    got += take;
    packetPos += take;
    packetLeft -= take;
  }
  if (packetLeft == 0) packetPos = 0;
  return false;
}

bool SignalsX::recvFrameBit() {
  const int n = layouts[0].nChannels;
  const int size = frameSizeBit(n);
  if (x.rxBuf.size() < static_cast<size_t>(size)) x.rxBuf.resize(size);
  uint8_t* f = x.rxBuf.data();
  if (recvBytesBit(f, size)) return true;
  // Lost bytes: slide one byte at a time until a frame checks out.
  while (!checkCrc4(f, size)) {
    std::memmove(f, f + 1, static_cast<size_t>(size - 1));
    if (recvBytesBit(f + size - 1, 1)) return true;
  }

  int d = (f[size - 1] >> 4) - (counter & 0x0F);
  if (d < 0) d += 16;
  counter += d;
  tickTimes.addArrival(counter, hostTime());

  const uint8_t inputs = f[size - 2];
  for (int i = 0; i < 4; ++i) digitalIn[i] = (inputs >> (7 - i)) & 1;

  // Fields counted from the frame's end; a frame for n channels carries
  // values 0 to n - 1, and only reads the bytes those need.
  auto at = [f, size](int fromEnd) { return static_cast<int32_t>(f[size - fromEnd]); };
  const int32_t values[6] = {
      (at(2) & 0x0F) << 6 | at(3) >> 2,
      n > 1 ? (at(3) & 0x03) << 8 | at(4) : 0,
      n > 2 ? at(5) << 2 | at(6) >> 6 : 0,
      n > 3 ? (at(6) & 0x3F) << 4 | at(7) >> 4 : 0,
      n > 4 ? (at(7) & 0x0F) << 2 | at(8) >> 6 : 0,
      n > 5 ? at(8) & 0x3F : 0,
  };
  std::copy_n(values, n, samples.begin());
  return false;
}

void BaseDev::X::syncBit(int already) {
  io->setRcvTimeout(kSyncTimeoutMs);
  if (packetSize == 0) {
    awaitBanner("Quillbox_v", 10, rxBuf.data(), already != 0 ? 1 : 0, streamBytes(*io), "Vexa::BaseDev::X::syncBit");
    return;
  }
  // On a packet link the bytes come a packet at a time into rxBuf; the
  // bytes the loop already received come first.
  if (rxBuf.size() < static_cast<size_t>(packetSize)) rxBuf.resize(packetSize);
  const int first = std::min<int>(already, packetSize);
  std::vector<uint8_t> head(rxBuf.begin(), rxBuf.begin() + first);
  int pos = 0, end = 0;
  awaitBanner("Quillbox_v", 10, head.data(), first,
              [this, &pos, &end] {
                if (pos == end) {
                  end = io->recv(rxBuf.data(), packetSize);
                  pos = 0;
                  if (end <= 0) VEXA_THROW(Notification::ContactingDevice);
                }
                return rxBuf[pos++];
              },
              "Vexa::BaseDev::X::syncBit");
}

}  // namespace Vexa
