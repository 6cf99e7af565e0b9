// Device messages, host commands and start payloads built field by field,
// independently of the simulator's own encoders, for its tests.
#ifndef VEXA_TESTS_SIM_HAND_BUILT_H_
#define VEXA_TESTS_SIM_HAND_BUILT_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "vexa/crc.h"

namespace vexa_sim::test {

using Bytes = std::vector<uint8_t>;

inline Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

inline Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A device-to-host message with a payload below 255 bytes: code (two bytes,
// high first, from 0x8000 on), length, payload, CRC-8 of all of it.
inline Bytes message(uint16_t code, const Bytes& payload) {
  Bytes m;
  if (code & 0x8000) m.push_back(static_cast<uint8_t>(code >> 8));
  m.push_back(static_cast<uint8_t>(code));
  m.push_back(static_cast<uint8_t>(payload.size()));
  m.insert(m.end(), payload.begin(), payload.end());
  m.push_back(Vexa::crc8(m.data(), m.size()));
  return m;
}

// The message or frame with its last byte, a CRC-8, spoiled as the faults do.
inline Bytes withBadCrc(Bytes m) {
  m.back() ^= 0xFF;
  return m;
}

// The start payload: 07, format, fixed fields, the rate as a float at 16,
// the source count, 8-byte entries (9 in format 2: 16-bit masks), a last 0.
struct Entry {
  uint8_t portByte;  // port, ORed with 0x80 (16-bit) or 0x40 (24-bit)
  uint16_t divisor;
  uint16_t mask;
};
inline Bytes startPayload(float rate, const std::vector<Entry>& entries, int format = 1) {
  Bytes p(20, 0);
  p[0] = 0x07;
  p[1] = static_cast<uint8_t>(format);
  std::fill(p.begin() + 6, p.begin() + 10, 0xFF);
  std::memcpy(&p[16], &rate, 4);  // the tests run on little-endian hosts
  p.push_back(static_cast<uint8_t>(entries.size()));
  for (const Entry& e : entries) {
    Bytes entry = {e.portByte, static_cast<uint8_t>(e.divisor),
                   static_cast<uint8_t>(e.divisor >> 8), static_cast<uint8_t>(e.mask)};
    if (format == 2) entry.push_back(static_cast<uint8_t>(e.mask >> 8));
    p = cat({p, entry, {0, 0, 0, 0}});
  }
  p.push_back(0);
  return p;
}

// A payload framed as a host command: AA n payload crc8(payload).
inline Bytes command(const Bytes& payload) {
  return cat({{0xAA, static_cast<uint8_t>(payload.size())},
              payload,
              {Vexa::crc8(payload.data(), payload.size())}});
}

// Each input refused by parse with a std::invalid_argument whose text
// mentions the given words.
template <class In, class Parse>
void expectRefusals(const std::vector<std::pair<In, const char*>>& cases, Parse parse) {
  for (const auto& [in, mentions] : cases) {
    try {
      parse(in);
      ADD_FAILURE() << "accepted: " << ::testing::PrintToString(in) << ", should mention " << mentions;
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(mentions), std::string::npos) << e.what();
    }
  }
}

}  // namespace vexa_sim::test

#endif  // VEXA_TESTS_SIM_HAND_BUILT_H_
