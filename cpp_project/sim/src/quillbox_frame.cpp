#include "vexa_sim/quillbox_frame.h"

#include <stdexcept>

namespace vexa_sim {
namespace {

// kCrc4Table[i] is the remainder of i * x^4 modulo x^4 + x + 1.
constexpr uint8_t kCrc4Table[16] = {0, 3, 6, 5, 12, 15, 10, 9, 11, 8, 13, 14, 7, 4, 1, 2};

// The check nibble of a frame whose last byte's high nibble is lastHigh.
uint8_t crc4(const std::vector<uint8_t>& frame, uint8_t lastHigh) {
  uint8_t crc = 0;
  for (size_t i = 0; i + 1 < frame.size(); ++i) {
    crc = (frame[i] & 0x0F) ^ kCrc4Table[kCrc4Table[crc] ^ (frame[i] >> 4)];
  }
  return kCrc4Table[kCrc4Table[crc] ^ lastHigh];
}

}  // namespace

size_t quillboxFrameSize(size_t nChannels) {
  if (nChannels < 1 || nChannels > 6) throw std::invalid_argument("frames carry 1 to 6 channels");
  return nChannels + 2 + (nChannels >= 3 && nChannels <= 5 ? 1 : 0);
}

int quillboxValueBits(size_t index) { return index < 4 ? 10 : 6; }

std::vector<uint8_t> encodeQuillboxFrame(uint8_t seq, uint8_t inputs,
                                         const std::vector<int32_t>& values) {
  const size_t size = quillboxFrameSize(values.size());
  uint32_t v[6] = {};
  for (size_t k = 0; k < values.size(); ++k) {
    v[k] = static_cast<uint32_t>(values[k]) & ((1u << quillboxValueBits(k)) - 1);
  }
  // Byte j counted from the end; bytes beyond the frame's size are dropped.
  const uint8_t fromEnd[8] = {
      0,  // sequence and CRC, filled in last
      static_cast<uint8_t>((inputs & 0x0F) << 4 | (v[0] >> 6 & 0x0F)),
      static_cast<uint8_t>((v[0] & 0x3F) << 2 | (v[1] >> 8 & 0x03)),
      static_cast<uint8_t>(v[1] & 0xFF),
      static_cast<uint8_t>(v[2] >> 2 & 0xFF),
      static_cast<uint8_t>((v[2] & 0x03) << 6 | (v[3] >> 4 & 0x3F)),
      static_cast<uint8_t>((v[3] & 0x0F) << 4 | (v[4] >> 2 & 0x0F)),
      static_cast<uint8_t>((v[4] & 0x03) << 6 | (v[5] & 0x3F)),
  };
  std::vector<uint8_t> frame(size);
  for (size_t j = 0; j < size; ++j) frame[size - 1 - j] = fromEnd[j];
  const uint8_t high = seq & 0x0F;
  frame.back() = static_cast<uint8_t>(high << 4 | crc4(frame, high));
  return frame;
}

std::vector<uint8_t> encodeQuillboxState(const QuillboxState& state) {
  std::vector<uint8_t> reply;
  for (uint16_t a : state.analog) {
    reply.push_back(static_cast<uint8_t>(a));
    reply.push_back(static_cast<uint8_t>(a >> 8));
  }
  reply.push_back(static_cast<uint8_t>(state.battery));
  reply.push_back(static_cast<uint8_t>(state.battery >> 8));
  reply.push_back(state.aux);
  reply.push_back(static_cast<uint8_t>((state.digital & 0x0F) << 4));
  return reply;
}

}  // namespace vexa_sim
