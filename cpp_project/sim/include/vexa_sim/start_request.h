// The start command of the current generation, as the device reads it:
// 07, format (1: 8-bit channel masks, 2: 16-bit), fixed header fields, the
// base rate as a little-endian float at offset 16, the source count at 20,
// then one 8- or 9-byte entry per source and a trailing byte.
#ifndef VEXA_SIM_START_REQUEST_H_
#define VEXA_SIM_START_REQUEST_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vexa_sim {

// Highest base rate the simulated device accepts, in hertz.
constexpr float kMaxBaseRate = 100000.0f;

struct StreamSource {
  int port = 0;           // 0 to 63
  int nBits = 8;          // 8, 16 or 24, from the port byte
  uint16_t divisor = 1;   // sampled at ticks that are multiples of it
  uint16_t chMask = 0;    // bit i: channel i
  int nChannels() const;  // set bits of chMask
  int sampleBytes() const { return nBits / 8; }
};

struct StartRequest {
  int format = 1;
  float baseRate = 0;
  std::vector<StreamSource> sources;
};

// Throws std::invalid_argument, saying what is wrong, for a payload that is
// not a start command or whose length disagrees with its source count; for
// no source, a rate that is not a finite number in (0, kMaxBaseRate], a
// divisor of 0, a source without channels or a port given twice.
StartRequest parseStartCommand(const std::vector<uint8_t>& payload);

}  // namespace vexa_sim

#endif  // VEXA_SIM_START_REQUEST_H_
