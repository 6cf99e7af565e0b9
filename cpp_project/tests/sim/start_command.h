// Builds start commands of the current generation for the tests, field by
// field, independently of the simulator's parser.
#ifndef VEXA_TESTS_SIM_START_COMMAND_H_
#define VEXA_TESTS_SIM_START_COMMAND_H_

#include <cstdint>
#include <cstring>
#include <vector>

#include "sim_test_util.h"
#include "vexa/crc.h"

namespace vexa_sim_test {

struct Entry {
  uint8_t portByte;  // port, ORed with 0x80 (16-bit) or 0x40 (24-bit)
  uint16_t divisor;
  uint16_t mask;
};

// The payload 07 format ...; format 2 writes 16-bit masks.
inline Bytes startPayload(float rate, const std::vector<Entry>& entries, int format = 1) {
  Bytes p = {0x07, static_cast<uint8_t>(format), 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0,
             0};
  uint8_t raw[4];
  std::memcpy(raw, &rate, 4);  // the tests run on little-endian hosts
  for (uint8_t b : raw) p.push_back(b);
  p.push_back(static_cast<uint8_t>(entries.size()));
  for (const Entry& e : entries) {
    p.push_back(e.portByte);
    p.push_back(static_cast<uint8_t>(e.divisor));
    p.push_back(static_cast<uint8_t>(e.divisor >> 8));
    p.push_back(static_cast<uint8_t>(e.mask));
    if (format == 2) p.push_back(static_cast<uint8_t>(e.mask >> 8));
    for (int i = 0; i < 4; ++i) p.push_back(0);
  }
  p.push_back(0);
  return p;
}

// The payload framed as a command: AA n payload crc8.
inline Bytes command(const Bytes& payload) {
  Bytes c = {0xAA, static_cast<uint8_t>(payload.size())};
  c.insert(c.end(), payload.begin(), payload.end());
  c.push_back(Vexa::crc8(payload.data(), payload.size()));
  return c;
}

}  // namespace vexa_sim_test

#endif  // VEXA_TESTS_SIM_START_COMMAND_H_
