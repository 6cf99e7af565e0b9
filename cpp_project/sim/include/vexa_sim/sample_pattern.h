// The deterministic sample values every simulated device streams, so that a
// test can recompute what the host must have received.
#ifndef VEXA_SIM_SAMPLE_PATTERN_H_
#define VEXA_SIM_SAMPLE_PATTERN_H_

#include <cstdint>

namespace vexa_sim {

// The value of one channel at one tick. Widths 1 to 16 give unsigned values
// 0 .. 2^nBits - 1; width 24 gives two's complement values -8388608 ..
// 8388607. Any 2^nBits consecutive ticks of one channel take every value of
// the width exactly once, so short streams already reach both ends and the
// sign change. Throws std::invalid_argument for any other width.
int32_t samplePattern(int64_t tick, int sourceIndex, int channel, int nBits);

}  // namespace vexa_sim

#endif  // VEXA_SIM_SAMPLE_PATTERN_H_
