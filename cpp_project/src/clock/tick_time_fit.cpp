#include "vexa/tick_time_fit.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace Vexa {
namespace {

// How far a crystal may be off the nominal rate, as a standard deviation:
// the slope measured is trusted in proportion as it is more certain than
// that.
constexpr double kCrystalTolerance = 200e-6;
// Fewer closed blocks than this give the slope no measure of its spread.
constexpr int kMinSlopeBlocks = 4;
// No crystal is this far off its nominal rate.
constexpr double kImplausibleDrift = 1000e-6;
// The drift is shown once the slope is known to within this.
constexpr double kDriftShownSpread = 50e-6;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

}  // namespace

TickTimeFit::TickTimeFit() = default;

void TickTimeFit::start(double nominalRate) {
  if (!std::isfinite(nominalRate) || nominalRate <= 0) {
    throw std::invalid_argument("the nominal rate must be a finite number above 0");
  }
  reset(nominalRate);
}

void TickTimeFit::reset(double nominalRate) {
  nominalRate_ = nominalRate;
  slope_ = 1.0 / nominalRate;
  slopeFitted_ = false;
  slopeSpread_ = kCrystalTolerance * slope_;
  blockTicks_ = std::max<int64_t>(1, std::llround(nominalRate * kBlockSeconds));
  arrivals_ = 0;
  closedCount_ = 0;
  closedNewest_ = -1;
  current_ = Block{};
  hasClosedAnchor_ = false;
  closedJitter_ = 0;
  line_ = Line{};
  line_.secondsPerTick = slope_;
  line_.nominalSecondsPerTick = slope_;
  publish(line_);
}

void TickTimeFit::addArrival(int64_t tick, double arrival) {
  if (nominalRate_ <= 0 || !std::isfinite(arrival)) return;
  if (arrivals_ > 0) {
    if (tick == lastTick_) return;
    if (tick < lastTick_) reset(nominalRate_);  // the device counts anew
  }
  if (arrivals_ == 0) {
    originTick_ = tick;
    originTime_ = arrival;
    current_ = Block{};
  }
  const double x = static_cast<double>(tick - originTick_);
  const double y = arrival - originTime_;
  const int64_t index = (tick - originTick_) / blockTicks_;
  if (index != current_.index) {
    closeBlock(index);
    current_ = Block{};
    current_.index = index;
  }
  if (current_.count == 0 || y - slope_ * x < current_.y - slope_ * current_.x) {
    current_.x = x;
    current_.y = y;
  }
  ++current_.count;
  lastTick_ = tick;
  ++arrivals_;

  // The line runs through the earliest of the recent lows; the current
  // block's counts as soon as it is earlier.
  double anchorX = current_.x, anchorY = current_.y;
  if (hasClosedAnchor_ && closedAnchorY_ - slope_ * closedAnchorX_ <= anchorY - slope_ * anchorX) {
    anchorX = closedAnchorX_;
    anchorY = closedAnchorY_;
  }
  line_.anchorTick = originTick_ + static_cast<int64_t>(anchorX);
  line_.anchorTime = originTime_ + anchorY;
  line_.secondsPerTick = slope_;
  line_.fitted = slopeFitted_ && slopeSpread_ < kDriftShownSpread * slope_;
  const double residual = (y - anchorY) - slope_ * (x - anchorX);
  current_.maxResidual = std::max(current_.maxResidual, residual);
  line_.jitter = std::max(closedJitter_, current_.maxResidual);
  line_.arrivals = arrivals_;
  publish(line_);
}

const TickTimeFit::Block& TickTimeFit::closedBlock(int age) const {
  return closed_[(closedNewest_ - age + kWindowBlocks) % kWindowBlocks];
}

void TickTimeFit::closeBlock(int64_t nextIndex) {
  // The current block holds at least the arrival that opened it.
  closedNewest_ = (closedNewest_ + 1) % kWindowBlocks;
  closed_[closedNewest_] = current_;
  closedCount_ = std::min(closedCount_ + 1, kWindowBlocks);
  // Blocks that left the window; a gap of lost ticks may empty it.
  while (closedCount_ > 0 && closedBlock(closedCount_ - 1).index <= nextIndex - kWindowBlocks) --closedCount_;
  fitSlope();
  hasClosedAnchor_ = false;
  closedJitter_ = 0;
  for (int age = 0; age < closedCount_; ++age) {
    const Block& b = closedBlock(age);
    if (b.index <= nextIndex - kAnchorBlocks) break;
    if (!hasClosedAnchor_ || b.y - slope_ * b.x < closedAnchorY_ - slope_ * closedAnchorX_) {
      hasClosedAnchor_ = true;
      closedAnchorX_ = b.x;
      closedAnchorY_ = b.y;
    }
    if (b.index > nextIndex - kJitterBlocks) closedJitter_ = std::max(closedJitter_, b.maxResidual);
  }
}

void TickTimeFit::fitSlope() {
  if (closedCount_ < kMinSlopeBlocks) return;  // too few: the slope stays
  // The lower convex hull of the blocks' lows: no low lies under it, and
  // since no arrival comes before its instant, it lies on or above the
  // lower edge, closest where early arrivals are near.
  hullCount_ = 0;
  for (int age = closedCount_ - 1; age >= 0; --age) {
    const Block& c = closedBlock(age);
    while (hullCount_ >= 2) {
      const Block& a = closedBlock(hull_[hullCount_ - 2]);
      const Block& b = closedBlock(hull_[hullCount_ - 1]);
      // b is dropped when it lies on or above the chord from a to c.
      if ((b.y - a.y) * (c.x - a.x) < (c.y - a.y) * (b.x - a.x)) break;
      --hullCount_;
    }
    hull_[hullCount_++] = age;
  }
  const double firstX = closedBlock(closedCount_ - 1).x, lastX = closedBlock(0).x;
  const double span = lastX - firstX;
  const double nearX = firstX + span * 0.25, farX = firstX + span * 0.75;
  const double hullSlope = (hullAt(farX) - hullAt(nearX)) / (farX - nearX);
  // How far the hull may lie above the edge: if r lows lie within q of it,
  // about r / q lows come per second of height, and the lowest of the
  // half window's lows lies about 2 q / r above the edge. The lows on the
  // hull are left out of r: they are how the hull was drawn.
  for (int age = 0; age < closedCount_; ++age) {
    const Block& b = closedBlock(age);
    heights_[age] = b.y - hullAt(b.x);
  }
  const int rank = std::min(closedCount_ - 1, hullCount_ + std::max(1, closedCount_ / 8));
  std::nth_element(heights_.begin(), heights_.begin() + rank, heights_.begin() + closedCount_);
  const double pointError = 2 * heights_[rank] / std::max(1, rank - hullCount_ + 1);
  // Both ends may err so; doubled, since leaning on the nominal rate
  // costs less than trusting a tilted hull.
  const double spread = 2 * std::sqrt(2.0) * pointError / (farX - nearX);
  const double nominal = 1.0 / nominalRate_;
  const double prior = kCrystalTolerance * nominal;
  // A slope further off than any crystal runs comes from a misled hull (a
  // backlog of late messages at the start): the nominal rate stands.
  const bool plausible = std::abs(hullSlope - nominal) <= kImplausibleDrift * nominal;
  const double trust = plausible ? prior * prior / (prior * prior + spread * spread) : 0;
  slope_ = nominal + (hullSlope - nominal) * trust;
  slopeSpread_ = prior * std::sqrt(1 - trust);
  slopeFitted_ = true;
}

double TickTimeFit::hullAt(double x) const {
  int i = 1;
  while (i < hullCount_ - 1 && closedBlock(hull_[i]).x < x) ++i;
  const Block& a = closedBlock(hull_[i - 1]);
  const Block& b = closedBlock(hull_[i]);
  return a.y + (b.y - a.y) * (x - a.x) / (b.x - a.x);
}

void TickTimeFit::publish(const Line& line) {
  const uint64_t s = sequence_.load(std::memory_order_relaxed);
  sequence_.store(s + 1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  anchorTick_.store(line.anchorTick, std::memory_order_relaxed);
  anchorTime_.store(line.anchorTime, std::memory_order_relaxed);
  secondsPerTick_.store(line.secondsPerTick, std::memory_order_relaxed);
  nominalSecondsPerTick_.store(line.nominalSecondsPerTick, std::memory_order_relaxed);
  fitted_.store(line.fitted, std::memory_order_relaxed);
  jitter_.store(line.jitter, std::memory_order_relaxed);
  publishedArrivals_.store(line.arrivals, std::memory_order_relaxed);
  sequence_.store(s + 2, std::memory_order_release);
}

TickTimeFit::Line TickTimeFit::snapshot() const {
  Line line;
  for (;;) {
    const uint64_t before = sequence_.load(std::memory_order_acquire);
    line.anchorTick = anchorTick_.load(std::memory_order_relaxed);
    line.anchorTime = anchorTime_.load(std::memory_order_relaxed);
    line.secondsPerTick = secondsPerTick_.load(std::memory_order_relaxed);
    line.nominalSecondsPerTick = nominalSecondsPerTick_.load(std::memory_order_relaxed);
    line.fitted = fitted_.load(std::memory_order_relaxed);
    line.jitter = jitter_.load(std::memory_order_relaxed);
    line.arrivals = publishedArrivals_.load(std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_acquire);
    if ((before & 1) == 0 && sequence_.load(std::memory_order_relaxed) == before) return line;
  }
}

double TickTimeFit::timeOf(int64_t tick) const {
  const Line line = snapshot();
  if (line.arrivals == 0) return kNaN;
  return line.anchorTime + line.secondsPerTick * static_cast<double>(tick - line.anchorTick) - fixedDelay();
}

double TickTimeFit::tickAt(double hostTime) const {
  const Line line = snapshot();
  if (line.arrivals == 0) return kNaN;
  return static_cast<double>(line.anchorTick) + (hostTime + fixedDelay() - line.anchorTime) / line.secondsPerTick;
}

void TickTimeFit::setFixedDelay(double seconds) {
  if (!std::isfinite(seconds)) throw std::invalid_argument("the fixed delay must be a finite number of seconds");
  fixedDelay_.store(seconds, std::memory_order_relaxed);
}

TickTimeFit::Health TickTimeFit::health() const {
  const Line line = snapshot();
  Health h;
  h.arrivals = line.arrivals;
  h.jitterSeconds = line.jitter;
  if (line.fitted) h.driftPpm = (line.nominalSecondsPerTick / line.secondsPerTick - 1.0) * 1e6;
  return h;
}

}  // namespace Vexa
