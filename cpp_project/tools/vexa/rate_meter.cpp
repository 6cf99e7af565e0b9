#include <algorithm>
#include <cmath>

#include "rate_meter.h"

namespace vexa_cli {
namespace {

// Ticks handed over closer together than this came in one message.
constexpr double kSameMessageSeconds = 0.0003;
constexpr double kReviewSeconds = 0.1;

}  // namespace

RateMeter::RateMeter(double askedRate, double minSeconds, double maxSeconds)
    : asked_(askedRate), minSeconds_(minSeconds), maxSeconds_(maxSeconds) {}

bool RateMeter::add(int64_t tick, double time) {
  if (tick != lastTick_ + 1) {
    ++jumps_;
    if (tick > lastTick_ + 1) lost_ += tick - lastTick_ - 1;
  }
  // A message's arrival is when its first tick is handed over; its last
  // tick is the one sampled closest to that.
  if (!arrivals_.empty() && time - lastTime_ < kSameMessageSeconds && tick > arrivals_.back().first) {
    arrivals_.back().first = tick;
  } else if (arrivals_.empty() || tick > arrivals_.back().first) {
    arrivals_.emplace_back(tick, time);
  }
  const double since = time - start_;
  const double signal = static_cast<double>(tick) / asked_;  // tick 0 is sampled at the start
  ahead_ = std::max(ahead_, signal - since * (1 + kRateTolerance));
  behind_ = std::max(behind_, since - signal);
  ++instants_;
  lastTick_ = tick;
  lastTime_ = time;
  if (time < nextReview_) return false;
  nextReview_ = time + kReviewSeconds;
  const double elapsed = seconds();
  if (elapsed >= maxSeconds_) return true;
  if (elapsed < minSeconds_) return false;
  const Estimate e = estimate();
  return e.known && e.uncertainty <= kTargetUncertainty;
}

double RateMeter::seconds() const { return arrivals_.empty() ? 0 : lastTime_ - arrivals_.front().second; }

RateMeter::Estimate RateMeter::estimate() const {
  Estimate e;
  if (arrivals_.size() < 4) return e;
  const int64_t first = arrivals_.front().first, span = arrivals_.back().first - first;
  auto late = [this](const std::pair<int64_t, double>& a) {
    return a.second - static_cast<double>(a.first) / asked_;
  };
  // The earliest arrival of the first and of the last quarter, and how
  // many arrivals each quarter holds.
  size_t low[2] = {0, arrivals_.size() - 1};
  int count[2] = {0, 0};
  for (size_t i = 0; i < arrivals_.size(); ++i) {
    const int64_t at = arrivals_[i].first - first;
    const int q = at * 4 <= span ? 0 : at * 4 >= span * 3 ? 1 : -1;
    if (q < 0) continue;
    ++count[q];
    if (late(arrivals_[i]) < late(arrivals_[low[q]])) low[q] = i;
  }
  const auto& a = arrivals_[low[0]];
  const auto& b = arrivals_[low[1]];
  if (b.first <= a.first) return e;
  const double slope = (late(b) - late(a)) / static_cast<double>(b.first - a.first);
  const double secondsPerTick = 1 / asked_ + slope;
  if (secondsPerTick <= 0) return e;
  // How far above the edge arrivals lie: the scatter within each quarter
  // bounds how far its earliest arrival may lie above the true edge.
  double spread[2] = {0, 0};
  for (size_t i = 0; i < arrivals_.size(); ++i) {
    const double above = late(arrivals_[i]) - late(a) - slope * static_cast<double>(arrivals_[i].first - a.first);
    e.jitter = std::max(e.jitter, above);
    const int64_t at = arrivals_[i].first - first;
    if (at * 4 <= span) spread[0] = std::max(spread[0], above);
    if (at * 4 >= span * 3) spread[1] = std::max(spread[1], above);
  }
  e.known = true;
  e.rate = 1 / secondsPerTick;
  // Arrivals held back behind one another are not independent, so the
  // scatter shrinks with the root of their number only.
  e.uncertainty = (spread[0] / std::sqrt(count[0]) + spread[1] / std::sqrt(count[1])) /
                  (static_cast<double>(b.first - a.first) * secondsPerTick);
  return e;
}

}  // namespace vexa_cli
