// How an acquisition went, measured on the host: ticks lost, the rate the
// host's clock sees and the arrivals' jitter.
#ifndef VEXA_TOOLS_VEXA_RATE_METER_H_
#define VEXA_TOOLS_VEXA_RATE_METER_H_

#include <cstdint>
#include <utility>
#include <vector>

namespace vexa_cli {

// Ticks of one acquisition and the host times at which they were handed
// over, reduced to what the check reports: losses, the rate the host clock
// measures and the arrivals' jitter. Fed on the loop's thread.
class RateMeter {
 public:
  // Measures at least minSeconds, then until the rate is known to within
  // kTargetUncertainty or maxSeconds have passed.
  RateMeter(double askedRate, double minSeconds, double maxSeconds);

  // The host time just before the start was sent: no tick can have been
  // sampled before it.
  void begin(double time) { start_ = time; }
  // Tick `tick` (counted from the acquisition's first, 0) was delivered at
  // host time `time` (seconds); true once the measurement is complete.
  bool add(int64_t tick, double time);

  int64_t instants() const { return instants_; }
  int64_t lostTicks() const { return lost_; }
  int64_t jumps() const { return jumps_; }
  double seconds() const;
  // How far the ticks ran ahead of the host's clock since begin(), beyond
  // kRateTolerance, in seconds of signal: above 0, the device delivered
  // instants it cannot have sampled yet (a corrupt frame decoded as data).
  double aheadSeconds() const { return ahead_; }
  // How far the latest instant lagged behind the host's clock since
  // begin(), in seconds: the link's delay, jitter and stalls.
  double behindSeconds() const { return behind_; }

  struct Estimate {
    bool known = false;      // enough arrivals to tell a rate
    double rate = 0;         // ticks per host second
    double uncertainty = 0;  // relative, from the arrivals' scatter
    double jitter = 0;       // seconds: the latest arrival above the fitted lower edge
  };
  // The rate along the lower edge of the arrival times: a message is never
  // early, only late, so the earliest arrivals near the start and near the
  // end give the device's clock against the host's.
  Estimate estimate() const;

  static constexpr double kTargetUncertainty = 0.001;
  // The measured rate may differ from the asked one by this much.
  static constexpr double kRateTolerance = 0.005;

 private:
  double asked_, minSeconds_, maxSeconds_;
  int64_t instants_ = 0, lost_ = 0, jumps_ = 0;
  int64_t lastTick_ = -1;
  double lastTime_ = 0, nextReview_ = 0;
  double start_ = 0, ahead_ = 0, behind_ = 0;
  // The last tick of each message, as (tick, time).
  std::vector<std::pair<int64_t, double>> arrivals_;
};

}  // namespace vexa_cli

#endif  // VEXA_TOOLS_VEXA_RATE_METER_H_
