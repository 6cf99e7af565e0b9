// Builds the bytes a current-generation device sends, for scripted tests.
#ifndef VEXA_TESTS_SUPPORT_MESSAGES_H_
#define VEXA_TESTS_SUPPORT_MESSAGES_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vexa_sim/message_codec.h"

namespace vexa_test {

// A message with its header and CRC-8; codes from 0x80 up take two bytes.
inline std::vector<uint8_t> message(uint16_t code, const std::vector<uint8_t>& payload) {
  return vexa_sim::encodeMessage(code, payload);
}

inline std::vector<uint8_t> reply(const std::vector<uint8_t>& payload) { return message(0x00, payload); }

// n bytes that vary with their index and do not repeat every 256 bytes,
// so a piece sent twice, lost or out of place shows.
inline std::vector<uint8_t> varied(size_t n, unsigned step) {
  std::vector<uint8_t> out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(i * step + i / 251);
  return out;
}

inline std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace vexa_test

#endif  // VEXA_TESTS_SUPPORT_MESSAGES_H_
