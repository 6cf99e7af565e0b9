// The acquisition state of a SignalsDev: the layout of the running sources,
// the samples of the current tick and the decoders of every device family.
#ifndef VEXA_SRC_SIGNALS_SIGNALS_X_H_
#define VEXA_SRC_SIGNALS_SIGNALS_X_H_

#include <cstdint>
#include <vector>

#include "base/x.h"
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
  bool dispatchFrames(uint16_t seq, const uint8_t* data, uint16_t len);
  void validateSource(const Source& source);
  // Sets up the decoding state for a started acquisition.
  void setUp(std::vector<SourceLayout> newLayouts);
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
  int32_t counter = 0;
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
  bool sampledAt(int32_t tick) const;
  int32_t bytesAt(int32_t tick) const;
  void decodeTick(int32_t tick, const uint8_t*& p);
};

}  // namespace Vexa

#endif  // VEXA_SRC_SIGNALS_SIGNALS_X_H_
