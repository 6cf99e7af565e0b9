// Data frames of the oldest family: a first byte with the digital input in
// bit 7 and a 7-bit sequence number, the samples, and a CRC-8 (polynomial
// 0x07, initial value 0) of everything before it. 8-bit samples take one
// byte each; 12-bit samples go in pairs of three bytes b0 b1 b2 (first =
// (b1 & 0x0F) << 8 | b0, second = b2 << 4 | b1 >> 4), an odd last one alone
// in two bytes.
#ifndef VEXA_SIM_CADRIUM_FRAME_H_
#define VEXA_SIM_CADRIUM_FRAME_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vexa_sim {

// n + 2 bytes for 8-bit samples, n + 2 + (n + 1) / 2 for 12-bit ones.
size_t cadriumFrameSize(size_t nChannels, int nBits);

// Values are masked to the width. Throws std::invalid_argument for a width
// other than 8 or 12.
std::vector<uint8_t> encodeCadriumFrame(uint8_t seq, bool digitalInput,
                                        const std::vector<int32_t>& values, int nBits);

}  // namespace vexa_sim

#endif  // VEXA_SIM_CADRIUM_FRAME_H_
