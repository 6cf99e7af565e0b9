/// @file
/// The host time at which a device sampled each instant, estimated from the
/// arrival times of the messages that carry the instants.
#ifndef VEXA_TICK_TIME_FIT_H_
#define VEXA_TICK_TIME_FIT_H_

#include <array>
#include <atomic>
#include <cstdint>

namespace Vexa {

/// Fits a line time = anchorTime + secondsPerTick * (tick - anchorTick) to
/// the arrivals of an acquisition's messages, online. A message arrives some
/// delay after its last instant was sampled; a delay is never negative and
/// jitter, bursts and late messages only add to it, so the line follows the
/// lower edge of the arrival times, not their middle. The arrivals of the
/// last minute are kept as the earliest and the latest one (against the
/// line) of each quarter of a second. The slope, which follows the device
/// clock's drift from the host's, comes from both edges of those: the lower
/// convex hull of the lows and the upper one of the highs, each read at a
/// quarter and at three quarters of the window, half a window apart, so
/// that neither a point at the window's end nor a short hull edge tilts it.
/// The upper edge is the link's longest usual delay: a high that a burst
/// lifted above its neighbours' is left out of it. With much jitter early
/// arrivals are rare and the upper edge is the sharper one, but it only
/// holds while that longest delay stays the same: it counts from two
/// seconds on and while the two edges agree, and a link whose longest delay
/// grows or shrinks steadily still tilts the slope until the lows can tell
/// (10 to 15 s with 30 ms of jitter). A hull lies off its edge by about as
/// much as the spacing of the points near it; each edge's slope counts in
/// proportion as that makes it certain, and the nominal rate counts as a
/// crystal's tolerance, so the slope starts at the nominal rate and leaves
/// it as the edges sharpen. The line then runs through the earliest low of
/// the last 15 s, so a late message never lifts it and an early one lowers
/// it at once. Lost instants (a jump in tick) need nothing: the line gives
/// their times.
///
/// Threads: start() and addArrival() from one thread at a time (the
/// acquisition loop's); every other member from any thread, at any time,
/// without a lock. Storage is fixed: nothing is allocated after
/// construction, and an arrival costs a constant amount of work on average.
class TickTimeFit {
 public:
  /// What the fit has measured so far.
  struct Health {
    /// How fast the device's clock runs against the host's, in parts per
    /// million (positive: fast, its instants come early); 0 until the
    /// arrivals measure it to within about 50 ppm and it has held there for
    /// two seconds: about 3 s without jitter, 5 s with 5 ms of it, 8 to 10 s
    /// with 30 ms.
    double driftPpm = 0;
    /// The largest delay above the lower edge among the arrivals of the
    /// last 10 s, in seconds: how much arrival stamping would err.
    double jitterSeconds = 0;
    /// Arrivals taken since the last start.
    int64_t arrivals = 0;
  };

  TickTimeFit();
  TickTimeFit(const TickTimeFit&) = delete;
  TickTimeFit& operator=(const TickTimeFit&) = delete;

  /// Forgets every arrival: a new acquisition of nominalRate instants per
  /// second begins. The fixed delay is kept.
  /// @throws std::invalid_argument unless nominalRate is a finite number
  ///   above 0 (the fit is then left as it was).
  void start(double nominalRate);
  /// A message whose last instant is `tick` arrived at `arrival` seconds of
  /// hostTime(). Ticks grow from one message to the next; a tick below the
  /// last one means the device counts anew and starts the fit anew at the
  /// same rate, a repeated tick is ignored, as is everything before the
  /// first start() or with an arrival that is not a finite number.
  void addArrival(int64_t tick, double arrival);

  /// The estimated hostTime() at which the device sampled `tick`, minus the
  /// fixed delay; ticks before the first or after the last arrival follow
  /// the same line. NaN until the first arrival after a start.
  double timeOf(int64_t tick) const;
  /// The instant, fractional, that the device sampled at `hostTime` (the
  /// inverse of timeOf()); NaN until the first arrival after a start.
  double tickAt(double hostTime) const;

  /// The part of every message's delay that no host can see (the link's
  /// constant latency, a device's filter delay), in seconds, 0 by default:
  /// timeOf() gives times that much earlier.
  /// @throws std::invalid_argument for a value that is not a finite number.
  void setFixedDelay(double seconds);
  /// The delay setFixedDelay() set, in seconds.
  double fixedDelay() const { return fixedDelay_.load(std::memory_order_relaxed); }

  /// What the fit has measured so far; any thread.
  Health health() const;

 private:
  // The arrivals of one stretch of kBlockSeconds of ticks: the earliest
  // (x, y) and the latest (highX, highY) against the line (relative to the
  // origin), how many, and the largest delay above the line among them.
  struct Block {
    int64_t index = 0;
    double x = 0, y = 0;
    double highX = 0, highY = 0;
    int64_t count = 0;
    double maxResidual = 0;
  };
  // One edge's slope, seconds per tick, and how far it may be off.
  struct EdgeSlope {
    double slope = 0, spread = 0;
  };
  // The fit as readers see it.
  struct Line {
    int64_t anchorTick = 0;
    double anchorTime = 0;
    double secondsPerTick = 0;
    double nominalSecondsPerTick = 0;
    bool fitted = false;  // the slope is measured well enough to show the drift
    double jitter = 0;
    int64_t arrivals = 0;
  };

  static constexpr double kBlockSeconds = 0.25;
  static constexpr int kWindowBlocks = 240;  // one minute
  static constexpr int kAnchorBlocks = 60;   // 15 s
  static constexpr int kJitterBlocks = 40;   // 10 s

  void reset(double nominalRate);
  // Files the current block and fits the slope and anchor anew.
  void closeBlock(int64_t nextIndex);
  void fitSlope();
  // The slope of the lower hull of the first n points of edgeX_/edgeY_ (in
  // the order of x) between nearX and farX.
  EdgeSlope edgeSlope(int n, double nearX, double farX);
  // The lower hull's height at x (relative to the origin).
  double hullAt(double x) const;
  // Whether the i-th oldest closed block's high stands out from its
  // neighbours' in highHeights_.
  bool liftedByBurst(int i) const;
  const Block& closedBlock(int age) const;  // 0: the newest
  void publish(const Line& line);
  Line snapshot() const;

  // Written by the feeding thread only.
  double nominalRate_ = 0;
  double slope_ = 0;  // seconds per tick in force
  // The slope from which the fits since have not strayed, and how many.
  double steadySlope_ = 0;
  int steadyFits_ = 0;
  int64_t blockTicks_ = 1;
  int64_t originTick_ = 0;
  double originTime_ = 0;
  int64_t lastTick_ = 0;
  int64_t arrivals_ = 0;
  std::array<Block, kWindowBlocks> closed_{};  // ring, oldest first
  int closedCount_ = 0;
  int closedNewest_ = -1;  // slot of the newest closed block
  Block current_{};
  // Scratch for the slope: an edge's points, oldest first, the indices of
  // their lower hull, and the points' heights above it.
  std::array<double, kWindowBlocks> edgeX_{}, edgeY_{};
  std::array<int, kWindowBlocks> hull_{};
  int hullCount_ = 0;
  std::array<double, kWindowBlocks> heights_{};
  std::array<double, kWindowBlocks> highHeights_{};  // the highs against the line, oldest first
  // The earliest low, against the line, of the last kAnchorBlocks closed.
  bool hasClosedAnchor_ = false;
  double closedAnchorX_ = 0, closedAnchorY_ = 0;
  double closedJitter_ = 0;
  Line line_{};

  // The published line: a sequence lock, odd while being written.
  std::atomic<uint64_t> sequence_{0};
  std::atomic<int64_t> anchorTick_{0};
  std::atomic<double> anchorTime_{0};
  std::atomic<double> secondsPerTick_{0};
  std::atomic<double> nominalSecondsPerTick_{0};
  std::atomic<bool> fitted_{false};
  std::atomic<double> jitter_{0};
  std::atomic<int64_t> publishedArrivals_{0};
  std::atomic<double> fixedDelay_{0};
};

}  // namespace Vexa

#endif  // VEXA_TICK_TIME_FIT_H_
