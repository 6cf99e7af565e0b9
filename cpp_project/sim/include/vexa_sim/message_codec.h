// Device-to-host messages of the current generation: code (one byte below
// 0x80, else two bytes high first), length (L, or FF plus 16-bit little-endian
// length from 255 bytes on), payload, CRC-8 over header and payload.
#ifndef VEXA_SIM_MESSAGE_CODEC_H_
#define VEXA_SIM_MESSAGE_CODEC_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vexa_sim {

constexpr size_t kMaxMessagePayload = 0xFFFF;
constexpr uint16_t kReplyOk = 0x00;
constexpr uint16_t kReplyError = 0x01;

// One-byte codes 0x00..0x7F and two-byte codes 0x8000..0xFFFF; the codes in
// between cannot be written (their first byte would read as a one-byte code
// or announce a second byte that is not there).
bool isValidMessageCode(uint16_t code);

// Throws std::invalid_argument for an invalid code or a payload above
// kMaxMessagePayload bytes.
std::vector<uint8_t> encodeMessage(uint16_t code, const uint8_t* payload, size_t len);
inline std::vector<uint8_t> encodeMessage(uint16_t code, const std::vector<uint8_t>& payload) {
  return encodeMessage(code, payload.data(), payload.size());
}

}  // namespace vexa_sim

#endif  // VEXA_SIM_MESSAGE_CODEC_H_
