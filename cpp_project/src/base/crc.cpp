#include "vexa/crc.h"

#include <array>

namespace Vexa {
namespace {

constexpr std::array<uint8_t, 256> makeCrc8Table() {
  std::array<uint8_t, 256> table{};
  for (int i = 0; i < 256; ++i) {
    uint8_t r = static_cast<uint8_t>(i);
    for (int bit = 0; bit < 8; ++bit) r = static_cast<uint8_t>((r & 0x80) ? (r << 1) ^ 0x07 : r << 1);
    table[i] = r;
  }
  return table;
}

constexpr std::array<uint8_t, 256> kCrc8Table = makeCrc8Table();

// kCrc4Table[i] is the remainder of i * x^4 modulo x^4 + x + 1.
constexpr uint8_t kCrc4Table[16] = {0, 3, 6, 5, 12, 15, 10, 9, 11, 8, 13, 14, 7, 4, 1, 2};

}  // namespace

uint8_t crc8(const uint8_t* data, size_t len, uint8_t init) {
  uint8_t r = init;
  for (size_t i = 0; i < len; ++i) r = kCrc8Table[data[i] ^ r];
  return r;
}

bool checkCrc4(const uint8_t* frame, int size) {
  if (size <= 0) return false;
  uint8_t crc = 0;
  for (int i = 0; i < size - 1; ++i) {
    uint8_t b = frame[i];
    crc = (b & 0x0F) ^ kCrc4Table[kCrc4Table[crc] ^ (b >> 4)];
  }
  uint8_t last = frame[size - 1];
  return kCrc4Table[kCrc4Table[crc] ^ (last >> 4)] == (last & 0x0F);
}

}  // namespace Vexa
