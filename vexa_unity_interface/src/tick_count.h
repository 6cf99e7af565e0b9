// Follows the loop's 32-bit tick in 64 bits, so that a count never wraps.
#ifndef VEXA_UNITY_TICK_COUNT_H_
#define VEXA_UNITY_TICK_COUNT_H_

#include <cstdint>

namespace Vexa {
namespace Unity {

// Each tick moves the count by its 32-bit step from the one before, so the
// wrap from 2^31 - 1 to -2^31 is a step of one like any other. The first
// tick after a reset is taken as it is.
class TickCount {
 public:
  int64_t next(int tick) {
    count_ += static_cast<int32_t>(static_cast<uint32_t>(tick) - static_cast<uint32_t>(last_));
    last_ = tick;
    return count_;
  }
  void reset() { *this = TickCount(); }

 private:
  int last_ = 0;
  int64_t count_ = 0;
};

}  // namespace Unity
}  // namespace Vexa

#endif  // VEXA_UNITY_TICK_COUNT_H_
