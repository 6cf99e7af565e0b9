// Real-time pacing of a stream: tick k of a stream started at `start` with
// `rate` ticks per second is due at start + k / rate.
#ifndef VEXA_SIM_TICK_CLOCK_H_
#define VEXA_SIM_TICK_CLOCK_H_

#include <chrono>
#include <cstdint>

namespace vexa_sim {

class TickClock {
 public:
  using Clock = std::chrono::steady_clock;
  using TimePoint = Clock::time_point;

  // Throws std::invalid_argument unless rate is a finite positive number.
  TickClock(TimePoint start, double rate);

  // Rounded up, so that nothing is ever due before its exact time.
  TimePoint dueAt(int64_t tick) const;
  TimePoint start() const { return start_; }
  double rate() const { return rate_; }

 private:
  TimePoint start_;
  double rate_;
};

}  // namespace vexa_sim

#endif  // VEXA_SIM_TICK_CLOCK_H_
