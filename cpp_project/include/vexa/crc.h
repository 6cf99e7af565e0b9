/// @file
/// Checksums of the device protocols.
#ifndef VEXA_CRC_H_
#define VEXA_CRC_H_

#include <cstddef>
#include <cstdint>

namespace Vexa {

/// CRC-8, polynomial 0x07, MSB first, no reflection, no final XOR. Messages
/// start from 0xFF, the oldest family's frames from 0. Pass the previous
/// result as init to continue over a second block.
uint8_t crc8(const uint8_t* data, size_t len, uint8_t init = 0xFF);

/// CRC-4 with generator x^4 + x + 1 over a compact-board frame: true when the
/// low nibble of the last byte matches the CRC of every nibble before it.
/// False for a size below 1.
bool checkCrc4(const uint8_t* frame, int size);

}  // namespace Vexa

#endif  // VEXA_CRC_H_
