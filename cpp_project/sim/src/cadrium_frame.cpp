#include "vexa_sim/cadrium_frame.h"

#include <stdexcept>

#include "vexa/crc.h"

namespace vexa_sim {

size_t cadriumFrameSize(size_t nChannels, int nBits) {
  return nChannels + 2 + (nBits == 12 ? (nChannels + 1) / 2 : 0);
}

std::vector<uint8_t> encodeCadriumFrame(uint8_t seq, bool digitalInput,
                                        const std::vector<int32_t>& values, int nBits) {
  if (nBits != 8 && nBits != 12) throw std::invalid_argument("frames carry 8- or 12-bit samples");
  std::vector<uint8_t> frame;
  frame.reserve(cadriumFrameSize(values.size(), nBits));
  frame.push_back(static_cast<uint8_t>((digitalInput ? 0x80 : 0) | (seq & 0x7F)));
  if (nBits == 8) {
    for (int32_t v : values) frame.push_back(static_cast<uint8_t>(v));
  } else {
    for (size_t i = 0; i < values.size(); i += 2) {
      uint32_t first = static_cast<uint32_t>(values[i]) & 0xFFF;
      frame.push_back(static_cast<uint8_t>(first));
      if (i + 1 == values.size()) {
        frame.push_back(static_cast<uint8_t>(first >> 8));
        break;
      }
      uint32_t second = static_cast<uint32_t>(values[i + 1]) & 0xFFF;
      frame.push_back(static_cast<uint8_t>(first >> 8 | (second & 0x0F) << 4));
      frame.push_back(static_cast<uint8_t>(second >> 4));
    }
  }
  frame.push_back(Vexa::crc8(frame.data(), frame.size(), 0));
  return frame;
}

}  // namespace vexa_sim
