// The acquisition state of a SignalsDev: the layout of the running sources,
// the samples of the current tick and the decoders of every device family.
#ifndef VEXA_SRC_SIGNALS_SIGNALS_X_H_
#define VEXA_SRC_SIGNALS_SIGNALS_X_H_

#include <cstdint>
#include <limits>
#include <vector>

#include "base/x.h"
#include "vexa/tick_time_fit.h"
#include "vexa/signals_dev.h"

namespace Vexa {

// How one source of a running acquisition lays out its samples.
struct SourceLayout {
  int32_t divisor;    // sampled at ticks that are multiples of this
  int32_t nBits;      // 8, 16 or 24 (legacy families: their own meaning)
  int32_t nChannels;  // set bits among bits 0 to 15 of the channel mask
};

class SignalsX {
 public:
  SignalsX(SignalsDev& owner, BaseDev::X& x) : owner(owner), x(x) {}

  // Decodes one data frame of a current-generation device; true when an
  // onRawFrame call asked the loop to stop.
  // arrival: hostTime() when the frame was read (NaN: unknown).
  bool dispatchFrames(uint16_t seq, const uint8_t* data, uint16_t len,
                      double arrival = std::numeric_limits<double>::quiet_NaN());
  void validateSource(const Source& source);
  // Sets up the decoding state for a started acquisition of baseFreq ticks
  // per second and starts its time fit anew.
  void setUp(std::vector<SourceLayout> newLayouts, double baseFreq = 1000);
  // Drops the decoding state: no acquisition runs afterwards.
  void release();

  // Oldest family.
  void startOld(float freq, int mask, int nBits);
  bool recvFrameOld();
  // Compact board.
  void startBit(float freq, int mask, int nBits);
  bool recvBytesBit(uint8_t* buf, int count);
  bool recvFrameBit();

  SignalsDev& owner;
  BaseDev::X& x;
  std::vector<SourceLayout> layouts;
  std::vector<int32_t> samples;
  // The next tick to deliver, counted from the acquisition's start in 64
  // bits so that it never wraps (the loop's callback gets its low 32 bits).
  int64_t counter = 0;
  // The host time of every tick of the running acquisition, fed with each
  // message's last tick and arrival before its instants are delivered.
  TickTimeFit tickTimes;
  int32_t nSources = 0;
  int32_t totalChannels = 0;
  // Compact board on a packet transport: the rest of the last packet.
  std::vector<uint8_t> packetBuf;
  int32_t packetPos = 0;
  int32_t packetLeft = 0;
  // Legacy families: the inputs of the last frame and those last reported.
  uint8_t digitalIn[4] = {};
  uint8_t digitalInReported[4] = {};

  // Derived from layouts by setUp, for the decoder's fast path: every source
  // sampled at every tick, taking bytesPerTick bytes.
  bool everyTick = false;
  int32_t bytesPerTick = 0;
  // Changes whenever the decoding state is set up or released, so that the
  // decoder notices a callback that stopped or restarted the acquisition.
  uint32_t generation = 0;

 private:
  bool sampledAt(int64_t tick) const;
  int32_t bytesAt(int64_t tick) const;
  void decodeTick(int64_t tick, const uint8_t*& p);
  // The last tick a frame of len bytes starting at tick `first` carries.
  int64_t lastTickOf(int64_t first, uint16_t len) const;
};

}  // namespace Vexa

#endif  // VEXA_SRC_SIGNALS_SIGNALS_X_H_
