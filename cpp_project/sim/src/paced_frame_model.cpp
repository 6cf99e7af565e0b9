#include "vexa_sim/paced_frame_model.h"

#include <stdexcept>

namespace vexa_sim {
namespace {

// Bounds one batch of catch-up frames; the rest follow on the next wake.
constexpr int kMaxFramesPerWake = 64;

}  // namespace

std::optional<DeviceModel::TimePoint> PacedFrameModel::nextWake() const {
  if (!clock_) return std::nullopt;
  return clock_->dueAt(next_ + pendingSkip_);
}

void PacedFrameModel::onWake(TimePoint now) { emitDueFrames(now); }

void PacedFrameModel::startFrames(double rate, TimePoint now) {
  clock_.emplace(now, rate);
  next_ = 0;
  framesSent_ = 0;
  stopFrame_.reset();
}

void PacedFrameModel::stopFrames() {
  if (!clock_) return;
  stopFrame_ = next_ + pendingSkip_;
  pendingSkip_ = 0;
  clock_.reset();
}

void PacedFrameModel::emitDueFrames(TimePoint now) {
  for (int i = 0; clock_ && i < kMaxFramesPerWake && *nextWake() <= now; ++i) {
    next_ += pendingSkip_;
    pendingSkip_ = 0;
    std::vector<uint8_t> frame = buildFrame(next_++);
    if (corruptNext_) {
      corruptNext_ = false;
      corruptCrc(frame);
    }
    emit(stray_);
    stray_.clear();
    emit(frame);
    ++framesSent_;
  }
}

void PacedFrameModel::injectStrayBytes(const std::vector<uint8_t>& bytes) {
  stray_.insert(stray_.end(), bytes.begin(), bytes.end());
}

void PacedFrameModel::skipFrames(int64_t n) {
  if (n < 0) throw std::invalid_argument("cannot skip a negative number of frames");
  pendingSkip_ += n;
}

void PacedFrameModel::corruptNextCrc() { corruptNext_ = true; }

}  // namespace vexa_sim
