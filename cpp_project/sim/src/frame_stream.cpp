#include "vexa_sim/frame_stream.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>

#include "vexa_sim/message_codec.h"
#include "vexa_sim/sample_pattern.h"

namespace vexa_sim {
namespace {

constexpr double kFrameSeconds = 0.010;
constexpr uint16_t kSeqMask = 0x7FFF;

}  // namespace

size_t maxPayloadBytes(const std::vector<StreamSource>& sources, int ticks) {
  size_t total = 0;
  for (const StreamSource& s : sources) {
    // No run of `ticks` ticks holds more multiples of the divisor than this.
    size_t samplings = (static_cast<size_t>(ticks) + s.divisor - 1) / s.divisor;
    total += samplings * static_cast<size_t>(s.nChannels() * s.sampleBytes());
  }
  return total;
}

int defaultTicksPerFrame(const StartRequest& request) {
  int ticks = std::max(1, static_cast<int>(std::lround(request.baseRate * kFrameSeconds)));
  while (ticks > 1 && maxPayloadBytes(request.sources, ticks) > kShortPayload) --ticks;
  return ticks;
}

FrameStream::FrameStream(StartRequest request, int ticksPerFrame, TickClock::TimePoint start, SampleFn samples,
                         std::optional<int64_t> endTick)
    : FrameStream(request, ticksPerFrame, TickClock(start, request.baseRate), std::move(samples), endTick) {}

FrameStream::FrameStream(StartRequest request, int ticksPerFrame, TickClock clock, SampleFn samples,
                         std::optional<int64_t> endTick)
    : request_(std::move(request)),
      ticksPerFrame_(ticksPerFrame),
      clock_(clock),
      samples_(std::move(samples)),
      endTick_(endTick) {
  if (ticksPerFrame < 0) throw std::invalid_argument("ticks per frame must not be negative");
  if (ticksPerFrame_ == 0) ticksPerFrame_ = defaultTicksPerFrame(request_);
  while (ticksPerFrame_ > 1 &&
         maxPayloadBytes(request_.sources, ticksPerFrame_) > kMaxMessagePayload) {
    ticksPerFrame_ /= 2;
  }
}

bool FrameStream::sampledAt(int64_t tick) const {
  for (const StreamSource& s : request_.sources) {
    if (tick % s.divisor == 0) return true;
  }
  return false;
}

int64_t FrameStream::firstSampledFrom(int64_t tick) const {
  int64_t first = INT64_MAX;
  for (const StreamSource& s : request_.sources) {
    first = std::min(first, (tick + s.divisor - 1) / s.divisor * s.divisor);
  }
  return first;
}

int FrameStream::ticksOfFrameAt(int64_t first) const {
  if (!endTick_) return ticksPerFrame_;
  return static_cast<int>(std::clamp<int64_t>(*endTick_ - first, 1, ticksPerFrame_));
}

TickClock::TimePoint FrameStream::nextDue() const {
  const int64_t first = firstSampledFrom(next_);
  return clock_.dueAt(first + ticksOfFrameAt(first) - 1);
}

void FrameStream::appendTick(int64_t tick, std::vector<uint8_t>& out) const {
  for (size_t i = 0; i < request_.sources.size(); ++i) {
    const StreamSource& s = request_.sources[i];
    if (tick % s.divisor != 0) continue;
    for (int ch = 0; ch < 16; ++ch) {
      if (!(s.chMask & (1u << ch))) continue;
      const int index = static_cast<int>(i);
      uint32_t v = static_cast<uint32_t>(samples_ ? samples_(tick, index, ch) : samplePattern(tick, index, ch, s.nBits));
      for (int b = 0; b < s.sampleBytes(); ++b) out.push_back(static_cast<uint8_t>(v >> (8 * b)));
    }
  }
}

DataFrame FrameStream::takeFrame() {
  DataFrame frame;
  frame.firstTick = firstSampledFrom(next_);
  frame.ticks = ticksOfFrameAt(frame.firstTick);
  frame.seq = static_cast<uint16_t>(frame.firstTick & kSeqMask);
  for (int64_t t = frame.firstTick; t < frame.firstTick + frame.ticks; ++t) {
    if (sampledAt(t)) appendTick(t, frame.payload);
  }
  next_ = frame.firstTick + frame.ticks;
  return frame;
}

void FrameStream::skipTicks(int64_t n) {
  if (n < 0) throw std::invalid_argument("cannot skip a negative number of ticks");
  next_ += n;
}

}  // namespace vexa_sim
