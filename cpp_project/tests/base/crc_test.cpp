#include "vexa/crc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace Vexa {
namespace {

TEST(Crc8, CheckValuesAndChaining) {
  const char* digits = "123456789";
  const auto* d = reinterpret_cast<const uint8_t*>(digits);
  EXPECT_EQ(crc8(d, 9), 0xFB);
  // Chaining over two blocks equals one pass over both.
  EXPECT_EQ(crc8(d + 4, 5, crc8(d, 4)), 0xFB);
  const uint8_t reply[] = {0x00, 0x00};
  EXPECT_EQ(crc8(reply, 2), 0xD7);
  const uint8_t version[] = {0x03, 0x00};
  EXPECT_EQ(crc8(version, 2), 0xE8);
  const uint8_t battery[] = {0x04, 0x00};
  EXPECT_EQ(crc8(battery, 2), 0x83);
  // Initial value 0, as the oldest family's frames use it: CRC-8/SMBUS.
  EXPECT_EQ(crc8(d, 9, 0), 0xF4);
  EXPECT_EQ(crc8(nullptr, 0, 0x5A), 0x5A);
}

TEST(Crc4, FrameCheck) {
  struct Row {
    std::vector<uint8_t> frame;
    bool valid;
  } rows[] = {
      {{0xB4, 0x5F, 0x7E}, true},
      {{0xB4, 0x5F, 0x7F}, false},
      {{0xB5, 0x5F, 0x7E}, false},  // a flipped data bit
      {{0xB4, 0x5F, 0x6E}, false},  // sequence nibble is covered too
      {{0x00}, true},
      {{}, false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(checkCrc4(row.frame.data(), static_cast<int>(row.frame.size())), row.valid);
  }
}

}  // namespace
}  // namespace Vexa
