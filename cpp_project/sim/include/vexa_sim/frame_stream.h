// The data frames of one acquisition of a current-generation device. A frame
// begins at a tick at which some source is sampled and covers ticksPerFrame
// consecutive ticks; for each of them it carries, in source order, the
// samples of the sources sampled then (channels ascending, nBits/8 bytes
// little-endian each); idle ticks take no bytes. Its sequence number is the
// low 15 bits of its first tick.
#ifndef VEXA_SIM_FRAME_STREAM_H_
#define VEXA_SIM_FRAME_STREAM_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "vexa_sim/start_request.h"
#include "vexa_sim/tick_clock.h"

namespace vexa_sim {

// Longest payload of a message with a one-byte length field.
constexpr size_t kShortPayload = 254;

struct DataFrame {
  int64_t firstTick = 0;
  int ticks = 0;  // ticks covered, idle ones included
  uint16_t seq = 0;
  std::vector<uint8_t> payload;
};

// The most bytes any run of `ticks` consecutive ticks can carry.
size_t maxPayloadBytes(const std::vector<StreamSource>& sources, int ticks);

// About 10 ms of ticks, fewer where that keeps every payload short enough
// for a one-byte length; at least 1.
int defaultTicksPerFrame(const StartRequest& request);

class FrameStream {
 public:
  // The value of one channel (source index, channel number) at one tick.
  using SampleFn = std::function<int32_t(int64_t tick, int sourceIndex, int channel)>;

  // ticksPerFrame 0 picks defaultTicksPerFrame; a value whose payloads would
  // not fit in one message is lowered until they do. Samples come from
  // `samples`, samplePattern when it is empty. With an end tick the stream
  // stops there: the last frame is cut short and finished() turns true.
  // Ticks fall due on `clock`. Throws std::invalid_argument for a negative
  // value.
  FrameStream(StartRequest request, int ticksPerFrame, TickClock clock, SampleFn samples = {},
              std::optional<int64_t> endTick = std::nullopt);
  // The same with ticks due at the request's own rate from start.
  FrameStream(StartRequest request, int ticksPerFrame, TickClock::TimePoint start, SampleFn samples = {},
              std::optional<int64_t> endTick = std::nullopt);

  const StartRequest& request() const { return request_; }
  int ticksPerFrame() const { return ticksPerFrame_; }
  // First tick not yet sent nor skipped.
  int64_t nextTick() const { return next_; }
  // When the next frame is complete: its last tick is due.
  TickClock::TimePoint nextDue() const;
  // Builds the next frame and moves past it.
  DataFrame takeFrame();
  // The next frame starts at least n ticks later; those are never sent.
  void skipTicks(int64_t n);
  // Every tick up to the end tick has been sent or skipped.
  bool finished() const { return endTick_ && firstSampledFrom(next_) >= *endTick_; }

 private:
  bool sampledAt(int64_t tick) const;
  // Ticks of the frame starting at first: fewer than ticksPerFrame at the end.
  int ticksOfFrameAt(int64_t first) const;
  int64_t firstSampledFrom(int64_t tick) const;
  void appendTick(int64_t tick, std::vector<uint8_t>& out) const;

  StartRequest request_;
  int ticksPerFrame_;
  TickClock clock_;
  SampleFn samples_;
  std::optional<int64_t> endTick_;
  int64_t next_ = 0;
};

}  // namespace vexa_sim

#endif  // VEXA_SIM_FRAME_STREAM_H_
