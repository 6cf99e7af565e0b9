// The acquisition side of CurrentDeviceModel: start, stop, the paced data
// frames and the faults that hit them.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <stdexcept>
#include <utility>

#include "vexa/host_clock.h"
#include "vexa_sim/current_device_model.h"
#include "vexa_sim/sample_pattern.h"

namespace vexa_sim {
namespace {

constexpr uint16_t kFrameCode = 0x8000;
constexpr uint8_t kDisconnectEvent = 0x08;
// Bounds one batch of catch-up frames; the rest follow on the next wake.
constexpr int kMaxFramesPerWake = 64;
constexpr int kClockPort = 1;

// The clock signal: channels 0 and 1 of port 1 carry the microseconds of
// hostTime() at which the tick was due on `clock`; everything else, and
// everything on a device playing other samples, comes from `others`.
FrameStream::SampleFn clockSignal(const StartRequest& request, const TickClock& clock,
                                  FrameStream::SampleFn others) {
  using Clock = TickClock::Clock;
  // Both clocks are monotonic and run at the same rate; only their origins
  // may differ.
  const double hostMinusSteady =
      Vexa::hostTime() - std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
  std::vector<int> widths;
  std::vector<bool> carriesClock;
  for (const StreamSource& s : request.sources) {
    widths.push_back(s.nBits);
    carriesClock.push_back(s.port == kClockPort);
  }
  return [=](int64_t tick, int sourceIndex, int channel) -> int32_t {
    if (carriesClock[sourceIndex] && channel < 2) {
      const double due = hostMinusSteady + std::chrono::duration<double>(clock.dueAt(tick).time_since_epoch()).count();
      const auto micros = static_cast<uint32_t>(static_cast<uint64_t>(std::floor(due * 1e6)));
      return static_cast<int32_t>(channel == 0 ? micros & 0xFFFF : micros >> 16);
    }
    return others ? others(tick, sourceIndex, channel) : samplePattern(tick, sourceIndex, channel, widths[sourceIndex]);
  };
}

}  // namespace

std::optional<DeviceModel::TimePoint> CurrentDeviceModel::nextWake() const {
  std::optional<TimePoint> wake;
  if (stream_) wake = stream_->nextDue();
  if (!held_.empty() && (!wake || held_.front().release < *wake)) wake = held_.front().release;
  return wake;
}

void CurrentDeviceModel::onWake(TimePoint now) {
  emitDueFrames(now);
  releaseHeld(now);
}

void CurrentDeviceModel::handleStart(const std::vector<uint8_t>& payload, TimePoint now) {
  if (stream_) {
    lastStartRefusal_ = "already acquiring";
    replyError(kAlreadyAcquiringError);
    return;
  }
  StartRequest request;
  try {
    request = parseStartCommand(payload);
  } catch (const std::invalid_argument& e) {
    lastStartRefusal_ = e.what();
    replyError(kBadStartError);
    return;
  }
  if (std::string why = refuseStart(request); !why.empty()) {
    lastStartRefusal_ = why;
    replyError(kBadStartError);
    return;
  }
  reply({});
  lastStartRefusal_.clear();
  const TickClock clock(now, request.baseRate * (1.0 + config_.clockPpm * 1e-6));
  FrameStream::SampleFn samples = samplesFor(request);
  if (config_.signal == SignalKind::kClock) samples = clockSignal(request, clock, std::move(samples));
  stream_.emplace(request, config_.ticksPerFrame, clock, std::move(samples), endTick());
  stallsFrom_ = now;
  lastStart_ = std::move(request);
  ticksPerFrame_ = stream_->ticksPerFrame();
  framesSent_ = 0;
  ticksSent_ = 0;
  stopTick_.reset();
  stream_->skipTicks(pendingSkip_);
  pendingSkip_ = 0;
}

void CurrentDeviceModel::handleStop() {
  endAcquisition();
  reply({});  // also when idle: the host wants the device stopped, and it is
}

void CurrentDeviceModel::endAcquisition() {
  if (!stream_) return;
  stopTick_ = stream_->nextTick();
  stream_.reset();
  stallsFrom_.reset();
}

void CurrentDeviceModel::emitDueFrames(TimePoint now) {
  for (int i = 0; stream_ && i < kMaxFramesPerWake && stream_->nextDue() <= now; ++i) {
    const TimePoint due = stream_->nextDue();
    DataFrame frame = stream_->takeFrame();
    if (silent_) {
      if (stream_->finished()) endAcquisition();
      continue;
    }
    if (cutNextFrame_) {
      cutNextFrame_ = false;
      if (!frame.payload.empty()) frame.payload.pop_back();
    }
    emitMessage(kFrameCode | frame.seq, frame.payload, due);
    ++framesSent_;
    ticksSent_ += frame.ticks;
    if (stream_->finished()) disconnect(kEndOfSignalReason);
  }
}

void CurrentDeviceModel::skipTicks(int64_t n) {
  if (n < 0) throw std::invalid_argument("cannot skip a negative number of ticks");
  if (stream_) {
    stream_->skipTicks(n);
  } else {
    pendingSkip_ += n;
  }
}

void CurrentDeviceModel::disconnect(uint8_t reason) {
  emitMessage(kDisconnectEvent, {reason});
  endAcquisition();
}

}  // namespace vexa_sim
