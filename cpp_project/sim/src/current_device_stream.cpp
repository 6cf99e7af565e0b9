// The acquisition side of CurrentDeviceModel: start, stop, the paced data
// frames and the faults that hit them.
#include <stdexcept>
#include <utility>

#include "vexa_sim/current_device_model.h"

namespace vexa_sim {
namespace {

constexpr uint16_t kFrameCode = 0x8000;
constexpr uint8_t kDisconnectEvent = 0x08;
// Bounds one batch of catch-up frames; the rest follow on the next wake.
constexpr int kMaxFramesPerWake = 64;

}  // namespace

std::optional<DeviceModel::TimePoint> CurrentDeviceModel::nextWake() const {
  if (!stream_) return std::nullopt;
  return stream_->nextDue();
}

void CurrentDeviceModel::onWake(TimePoint now) { emitDueFrames(now); }

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
  stream_.emplace(request, config_.ticksPerFrame, now, samplesFor(request), endTick());
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
}

void CurrentDeviceModel::emitDueFrames(TimePoint now) {
  for (int i = 0; stream_ && i < kMaxFramesPerWake && stream_->nextDue() <= now; ++i) {
    DataFrame frame = stream_->takeFrame();
    if (silent_) {
      if (stream_->finished()) endAcquisition();
      continue;
    }
    if (cutNextFrame_) {
      cutNextFrame_ = false;
      if (!frame.payload.empty()) frame.payload.pop_back();
    }
    emitMessage(kFrameCode | frame.seq, frame.payload);
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
