// The oldest family's acquisition: its ASCII start, its CRC-8 frames and the
// banner that marks the end of a stream.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "base/banner_sync.h"
#include "signals/signals_x.h"
#include "vexa/crc.h"
#include "vexa/exceptions.h"
#include "vexa/host_clock.h"

namespace Vexa {
namespace {

constexpr int32_t kZStart = 0;      // layout divisor after the oldest firmware's start
constexpr int32_t kAsciiStart = 1;  // layout divisor after "@START"
constexpr int kSyncTimeoutMs = 5000;

int bitCount(int mask) {
  int n = 0;
  for (unsigned m = static_cast<unsigned>(mask); m != 0; m &= m - 1) ++n;
  return n;
}

int frameSizeOld(int n, int nBits) { return nBits == 8 ? n + 2 : n + 2 + (n + 1) / 2; }

}  // namespace

void SignalsX::startOld(float freq, int mask, int nBits) {
  if (nSources != 0) VEXA_THROW(Error::InvalidOperation, 0);
  int32_t mode;
  if (x.intProperty("fwVersion") < 0x0200) {
    if (freq != 1000.0f || mask != 255 || nBits != 12) {
      VEXA_THROW_DETAIL(Error::InvalidParameter, "this firmware samples all 8 channels at 1000 Hz with 12 bits only");
    }
    static const uint8_t kStart = 'Z';
    x.io->send(&kStart, 1);
    mode = kZStart;
  } else {
    if (freq != std::floor(freq) || freq < 36 || freq > 8000) {
      VEXA_THROW_DETAIL(Error::InvalidParameter, "the rate must be a whole number of hertz from 36 to 8000");
    }
    if (mask < 1 || mask > 255) VEXA_THROW_DETAIL(Error::InvalidParameter, "the channels must be among the first 8");
    if (nBits != 8 && nBits != 12) VEXA_THROW_DETAIL(Error::InvalidParameter, "the samples must have 8 or 12 bits");
    char command[32];
    int length = std::snprintf(command, sizeof command, "@START,%04d,%02X,%02d;", static_cast<int>(freq), mask, nBits);
    x.io->send(command, length);
    mode = kAsciiStart;
  }
  const int n = bitCount(mask & 0xFF);
  setUp({SourceLayout{mode, nBits, n}}, freq);
  x.pending.clear();
  const size_t size = static_cast<size_t>(frameSizeOld(n, nBits));
  if (x.rxBuf.size() < size) x.rxBuf.resize(size);
}

bool SignalsX::recvFrameOld() {
  const SourceLayout& layout = layouts[0];
  // After the Z start only every eighth frame carries all eight channels.
  const int n = (layout.divisor == kZStart && counter % 8 != 0) ? 6 : layout.nChannels;
  const int size = frameSizeOld(n, layout.nBits);
  if (x.rxBuf.size() < static_cast<size_t>(size)) x.rxBuf.resize(size);
  uint8_t* frame = x.rxBuf.data();

  if (x.io->recv(frame, 1) <= 0) return true;
  IO::recvAll(*x.io, frame + 1, size - 1);

  const int32_t seq = frame[0] & 0x7F;
  if (counter == 0) {
    counter = seq;
  } else if (seq != (counter & 0x7F)) {
    VEXA_THROW(Notification::ContactingDevice);
  }
  if (crc8(frame, size - 1, 0) != frame[size - 1]) VEXA_THROW(Notification::ContactingDevice);
  digitalIn[0] = frame[0] >> 7;
  tickTimes.addArrival(counter, hostTime());

  const uint8_t* p = frame + 1;
  if (layout.nBits == 8) {
    for (int i = 0; i < n; ++i) samples[i] = p[i];
    return false;
  }
  // 12-bit values in pairs of three bytes; an odd last one takes two.
  for (int i = 0; i + 1 < n; i += 2, p += 3) {
    samples[i] = (p[1] & 0x0F) << 8 | p[0];
    samples[i + 1] = p[2] << 4 | p[1] >> 4;
  }
  if (n % 2 != 0) samples[n - 1] = (p[1] & 0x0F) << 8 | p[0];
  return false;
}

void BaseDev::X::syncOld(int already) {
  io->setRcvTimeout(kSyncTimeoutMs);
  awaitBanner("Cadrium ", 8, rxBuf.data(), already != 0 ? 1 : 0, streamBytes(*io), "Vexa::BaseDev::X::syncOld");
}

}  // namespace Vexa
