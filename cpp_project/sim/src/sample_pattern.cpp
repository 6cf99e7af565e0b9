#include "vexa_sim/sample_pattern.h"

#include <stdexcept>
#include <string>

namespace vexa_sim {
namespace {

// An odd step makes tick -> value a bijection modulo any power of two; the
// other constants only spread sources and channels apart.
constexpr uint64_t kTickStep = 0x9E3779B97F4A7C15ull;
constexpr uint64_t kSourceStep = 0xC2B2AE3D27D4EB4Full;
constexpr uint64_t kChannelStep = 0x165667B19E3779F9ull;

}  // namespace

int32_t samplePattern(int64_t tick, int sourceIndex, int channel, int nBits) {
  if (!((nBits >= 1 && nBits <= 16) || nBits == 24)) {
    throw std::invalid_argument("no sample pattern for " + std::to_string(nBits) + "-bit samples");
  }
  uint64_t mixed = static_cast<uint64_t>(tick) * kTickStep +
                   static_cast<uint64_t>(sourceIndex) * kSourceStep +
                   static_cast<uint64_t>(channel) * kChannelStep;
  // Only the low bits keep the bijection: (tick * odd + c) mod 2^n.
  uint32_t value = static_cast<uint32_t>(mixed & ((uint64_t{1} << nBits) - 1));
  if (nBits == 24 && value >= 0x800000u) return static_cast<int32_t>(value) - 0x1000000;
  return static_cast<int32_t>(value);
}

}  // namespace vexa_sim
