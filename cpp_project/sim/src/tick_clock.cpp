#include "vexa_sim/tick_clock.h"

#include <cmath>
#include <stdexcept>

namespace vexa_sim {

TickClock::TickClock(TimePoint start, double rate) : start_(start), rate_(rate) {
  if (!std::isfinite(rate) || rate <= 0) throw std::invalid_argument("tick rate must be positive");
}

TickClock::TimePoint TickClock::dueAt(int64_t tick) const {
  std::chrono::duration<double> offset(static_cast<double>(tick) / rate_);
  return start_ + std::chrono::ceil<Clock::duration>(offset);
}

}  // namespace vexa_sim
