// Decoding of current-generation data frames into one sample array per tick.
#include "signals/signals_x.h"
#include "vexa/exceptions.h"

namespace Vexa {
namespace {

constexpr int32_t kSeqMask = 0x7FFF;
constexpr int32_t kMaxGap = 1000;

inline int32_t sample16(const uint8_t* p) { return p[0] | p[1] << 8; }

inline int32_t sample24(const uint8_t* p) {
  // Shift into the top of a 32-bit word and back to sign-extend bit 23.
  uint32_t raw = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16;
  return static_cast<int32_t>(raw << 8) >> 8;
}

[[noreturn]] void badFrame() { VEXA_THROW(Notification::ContactingDevice); }

}  // namespace

bool SignalsX::sampledAt(int64_t tick) const {
  if (everyTick) return true;
  for (const SourceLayout& l : layouts) {
    if (tick % l.divisor == 0) return true;
  }
  return false;
}

int32_t SignalsX::bytesAt(int64_t tick) const {
  if (everyTick) return bytesPerTick;
  int32_t need = 0;
  for (const SourceLayout& l : layouts) {
    if (tick % l.divisor == 0) need += l.nBits * l.nChannels / 8;
  }
  return need;
}

void SignalsX::decodeTick(int64_t tick, const uint8_t*& p) {
  int32_t* out = samples.data();
  for (const SourceLayout& l : layouts) {
    if (!everyTick && tick % l.divisor != 0) {
      out += l.nChannels;  // not sampled now: keeps its last values
      continue;
    }
    switch (l.nBits) {
      case 16:
        for (int32_t c = 0; c < l.nChannels; ++c, p += 2) *out++ = sample16(p);
        break;
      case 24:
        for (int32_t c = 0; c < l.nChannels; ++c, p += 3) *out++ = sample24(p);
        break;
      default:
        for (int32_t c = 0; c < l.nChannels; ++c) *out++ = *p++;
        break;
    }
  }
}

int64_t SignalsX::lastTickOf(int64_t first, uint16_t len) const {
  if (everyTick) return first + len / bytesPerTick - 1;
  int64_t tick = first;
  for (int32_t left = len - bytesAt(tick); left > 0; left -= bytesAt(tick)) {
    ++tick;
  }
  return tick;
}

bool SignalsX::dispatchFrames(uint16_t seq, const uint8_t* data, uint16_t len, double arrival) {
  if (nSources == 0) return false;
  const uint32_t started = generation;

  // Idle ticks before the frame's first sampled tick are still delivered.
  while (!sampledAt(counter)) {
    if (owner.onRawFrame(static_cast<int32_t>(counter++), samples.data())) {
      // Decode the frame again, from the tick reached, when the loop resumes.
      x.pending.push_front(
          PendingMsg{static_cast<uint16_t>(seq | 0x8000), std::vector<uint8_t>(data, data + len), arrival});
      return true;
    }
    if (generation != started) return false;
  }

  const int32_t low = counter & kSeqMask;
  if (seq != low) {
    if (((seq - counter) & kSeqMask) > kMaxGap) badFrame();
    if (seq < low) counter += kSeqMask + 1;
    counter = (counter & ~kSeqMask) | seq;
  }
  if (len == 0) return false;
  // Without a single channel no tick consumes a byte: the payload cannot
  // belong to this acquisition, and walking it would never end.
  if (totalChannels == 0) badFrame();
  // The frame's last instant was sampled before it arrived: its tick and
  // arrival feed the fit before any of its instants is delivered.
  tickTimes.addArrival(lastTickOf(counter, len), arrival);

  bool stop = false;
  const uint8_t* p = data;
  const uint8_t* end = data + len;
  while (p < end) {
    const int32_t need = bytesAt(counter);
    if (need != 0) {
      if (end - p < need) badFrame();
      decodeTick(counter, p);
    }
    stop = owner.onRawFrame(static_cast<int32_t>(counter++), samples.data()) || stop;
    // A callback that stopped (or restarted) the acquisition ends decoding.
    if (generation != started) return stop;
  }
  return stop;
}

}  // namespace Vexa
