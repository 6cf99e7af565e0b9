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
// The upper edge counts from two seconds on: a second or two of highs can
// look sure of a slope that the next burst changes.
constexpr int kMinUpperBlocks = 8;
// No crystal is this far off its nominal rate.
constexpr double kImplausibleDrift = 1000e-6;
// The drift is shown once the slope is known to within this and has stayed
// within it of where it was for this many blocks.
constexpr double kDriftShownSpread = 50e-6;
constexpr int kDriftShownFits = 8;
// No edge is trusted closer than this (a line without jitter is exact).
constexpr double kSpreadFloor = 1e-9;
// A block's high is a burst's when it lies this far above the median of
// its own and kBurstNeighbours' on either side.
constexpr double kBurstMargin = 1e-3;
constexpr int kBurstNeighbours = 4;
// The edges' slopes agree when they lie within this many of their combined
// spreads.
constexpr double kEdgesAgree = 4;

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
  steadySlope_ = slope_;
  steadyFits_ = 0;
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
  if (current_.count == 0 || y - slope_ * x > current_.highY - slope_ * current_.highX) {
    current_.highX = x;
    current_.highY = y;
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
  line_.fitted = steadyFits_ >= kDriftShownFits;
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
  const double firstX = closedBlock(closedCount_ - 1).x, lastX = closedBlock(0).x;
  const double span = lastX - firstX;
  const double nearX = firstX + span * 0.25, farX = firstX + span * 0.75;
  const double nominal = 1.0 / nominalRate_;
  const double prior = kCrystalTolerance * nominal;
  // Each estimate counts by the inverse of its variance; the nominal rate,
  // known to a crystal's tolerance, is one of them.
  double weight = 1 / (prior * prior), weighted = 0;
  const auto count = [&](const EdgeSlope& edge) {
    // A slope further off than any crystal runs comes from a misled hull (a
    // backlog of late messages at the start): it does not count.
    if (std::abs(edge.slope - nominal) > kImplausibleDrift * nominal) return;
    const double spread = std::max(edge.spread, kSpreadFloor * nominal);
    weight += 1 / (spread * spread);
    weighted += (edge.slope - nominal) / (spread * spread);
  };

  // The lows: since no arrival comes before its instant, their lower hull
  // lies on or above the lower edge, closest where early arrivals are near.
  for (int age = closedCount_ - 1, i = 0; age >= 0; --age, ++i) {
    edgeX_[i] = closedBlock(age).x;
    edgeY_[i] = closedBlock(age).y;
  }
  EdgeSlope lower = edgeSlope(closedCount_, nearX, farX);
  // Doubled: with much jitter early lows are rare, and leaning on the
  // nominal rate costs less than trusting a hull that one of them tilts.
  lower.spread *= 2;
  count(lower);

  // The highs, upside down, so that their upper hull is a lower one.
  for (int age = closedCount_ - 1, i = 0; age >= 0; --age, ++i) {
    highHeights_[i] = closedBlock(age).highY - slope_ * closedBlock(age).highX;
  }
  int kept = 0;
  for (int age = closedCount_ - 1, i = 0; age >= 0; --age, ++i) {
    if (liftedByBurst(i)) continue;
    edgeX_[kept] = closedBlock(age).highX;
    edgeY_[kept++] = -closedBlock(age).highY;
  }
  if (kept >= kMinUpperBlocks) {
    EdgeSlope upper = edgeSlope(kept, nearX, farX);
    upper.slope = -upper.slope;
    // Edges that disagree tell of a longest delay that changes (a link
    // whose worst case grows or shrinks): only the lower edge is sure.
    // (std::hypot would need a newer glibc than the library's floor.)
    const double apart = std::abs(upper.slope - lower.slope);
    const double spread = std::sqrt(upper.spread * upper.spread + lower.spread * lower.spread);
    if (apart <= kEdgesAgree * spread) count(upper);
  }

  slope_ = nominal + weighted / weight;
  // The drift is shown once the slope is sure and has held still for a
  // while: a slope that a single early arrival moves is not yet measured.
  const double shown = kDriftShownSpread * nominal;
  if (std::sqrt(1 / weight) < shown && std::abs(slope_ - steadySlope_) < shown) {
    ++steadyFits_;
  } else {
    steadySlope_ = slope_;
    steadyFits_ = 0;
  }
}

bool TickTimeFit::liftedByBurst(int i) const {
  // Against the median of the high and its neighbours on either side: a
  // burst lifts the highs of one block or two, the link's longest usual
  // delay those of most.
  std::array<double, 2 * kBurstNeighbours + 1> near{};
  int n = 0;
  for (int j = std::max(0, i - kBurstNeighbours); j <= std::min(closedCount_ - 1, i + kBurstNeighbours); ++j) {
    near[n++] = highHeights_[j];
  }
  std::nth_element(near.begin(), near.begin() + n / 2, near.begin() + n);
  return highHeights_[i] > near[n / 2] + kBurstMargin;
}

TickTimeFit::EdgeSlope TickTimeFit::edgeSlope(int n, double nearX, double farX) {
  hullCount_ = 0;
  for (int c = 0; c < n; ++c) {
    while (hullCount_ >= 2) {
      const int a = hull_[hullCount_ - 2], b = hull_[hullCount_ - 1];
      // b is dropped when it lies on or above the chord from a to c.
      if ((edgeY_[b] - edgeY_[a]) * (edgeX_[c] - edgeX_[a]) < (edgeY_[c] - edgeY_[a]) * (edgeX_[b] - edgeX_[a])) break;
      --hullCount_;
    }
    hull_[hullCount_++] = c;
  }
  EdgeSlope edge;
  edge.slope = (hullAt(farX) - hullAt(nearX)) / (farX - nearX);
  // How far the hull may lie off the edge: if r points lie within q of it,
  // about r / q points come per second of height, and the lowest of the
  // half window's points lies about 2 q / r off the edge. The points on the
  // hull are left out of r: they are how the hull was drawn.
  for (int i = 0; i < n; ++i) heights_[i] = edgeY_[i] - hullAt(edgeX_[i]);
  const int rank = std::min(n - 1, hullCount_ + std::max(1, n / 8));
  std::nth_element(heights_.begin(), heights_.begin() + rank, heights_.begin() + n);
  const double pointError = 2 * heights_[rank] / std::max(1, rank - hullCount_ + 1);
  // Both ends may err so.
  edge.spread = std::sqrt(2.0) * pointError / (farX - nearX);
  return edge;
}

double TickTimeFit::hullAt(double x) const {
  int i = 1;
  while (i < hullCount_ - 1 && edgeX_[hull_[i]] < x) ++i;
  const int a = hull_[i - 1], b = hull_[i];
  return edgeY_[a] + (edgeY_[b] - edgeY_[a]) * (x - edgeX_[a]) / (edgeX_[b] - edgeX_[a]);
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
